#pragma once

#include "Client/shell/HelpAddresses.h"
#include "Client/shell/HelpSearch.h"

#include <QTextBrowser>

namespace gemvolt::shell {

/**
 * The page view of the help browser: a text browser that shows every document as HTML
 * (the offline document is HTML saved as ".doc"), answers "search:" addresses with
 * generated search pages, and shows a page of its own for an address it cannot open.
 */
class HelpView : public QTextBrowser {
    Q_OBJECT
public:
    explicit HelpView(HelpAddresses addresses, QWidget* parent = nullptr);

    /** True while a page is being loaded. Local pages load at once, so this is seldom seen. */
    bool isBusy() const { return m_busy; }

    /** The address typed by a person as an address to open: "search:word" and a bare word
     *  search the help, an absolute path opens that file (a "#NAME" after it is its anchor),
     *  an address with a scheme stands as it is, anything else is taken relative to base. */
    static QUrl urlFromAddress(const QString& text, const QUrl& base);

    /** How an address is shown in the address box: a local file as its path, others as text. */
    static QString displayAddress(const QUrl& url);

    /** The page shown for an address that cannot be opened. */
    static QString failurePage(const QUrl& url, const HelpAddresses& addresses);

    /** The title of the failure page. */
    static QString failureTitle();

    QVariant loadResource(int type, const QUrl& name) override;

protected:
    void doSetSource(const QUrl& name, QTextDocument::ResourceType type) override;

private:
    HelpAddresses m_addresses;
    HelpSearch m_search;
    bool m_busy = false;
};

} // namespace gemvolt::shell
