#pragma once

#include "Client/shell/HelpAddresses.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace gemvolt::shell {

/**
 * Finds words in the help pages installed with the program and writes the search pages the
 * help browser shows.
 *
 * The help is cut into sections at its named anchors; a section is found when its text holds
 * every word typed, in any case. The pages are read afresh on every search, so an edited page
 * is searched as it now stands.
 */
class HelpSearch {
public:
    /** One section of a page that holds the words searched for. */
    struct Hit {
        QString pageTitle; ///< the page's title
        QString heading;   ///< the section's heading, or the page's title before any anchor
        QUrl address;      ///< the page, with the section's anchor as fragment when it has one
        QString excerpt;   ///< a short plain-text excerpt around the first word found
        int count = 0;     ///< how often the words occur in the section
    };

    explicit HelpSearch(HelpAddresses addresses);

    /** The files searched: the pages of the help folder ("Help.htm" first), then the offline
     *  document. Files that do not exist are left out. */
    QStringList files() const;

    /** Every section that holds all the words of text (split at blanks); none for no words. */
    QList<Hit> find(const QString& text) const;

    /** The generated page for text: the search page itself when text is blank, the results
     *  for its words otherwise. A complete HTML document with a title. */
    QString page(const QString& text) const;

    /** Words offered as links on the search page, so a player can search without typing. */
    static QStringList suggestedWords();

private:
    QString formPage() const;
    QString resultsPage(const QString& text, const QList<Hit>& hits) const;

    HelpAddresses m_addresses;
};

} // namespace gemvolt::shell
