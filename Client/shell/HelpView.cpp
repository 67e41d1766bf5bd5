#include "Client/shell/HelpView.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextBlock>

#include <utility>

namespace gemvolt::shell {

namespace {
constexpr int PageMargin = 12;
}

HelpView::HelpView(HelpAddresses addresses, QWidget* parent)
    : QTextBrowser(parent), m_addresses(std::move(addresses)), m_search(m_addresses) {
    // Links to other places than the help stay inside the browser and get its failure page;
    // nothing is handed to programs outside.
    setOpenExternalLinks(false);
    setOpenLinks(true);
    // A scroll bar that comes and goes changes the page's width, the text flows anew and an
    // anchor the view was moved to drifts away; a bar that is always there keeps it in place.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

QUrl HelpView::urlFromAddress(const QString& text, const QUrl& base) {
    const QString address = text.trimmed();
    if (address.isEmpty())
        return QUrl();

    const QString searchPrefix =
        QString::fromLatin1(HelpAddresses::SearchScheme) + QLatin1Char(':');
    if (address.startsWith(searchPrefix, Qt::CaseInsensitive)) {
        QUrl url;
        url.setScheme(QString::fromLatin1(HelpAddresses::SearchScheme));
        url.setPath(address.mid(searchPrefix.size()).trimmed());
        return url;
    }

    if (QDir::isAbsolutePath(address)) {
        // "/path/Help.htm#FAQ" names the page and its anchor, unless the whole text is a file.
        const qsizetype hash = address.lastIndexOf(QLatin1Char('#'));
        if (hash > 0 && !QFileInfo::exists(address)) {
            QUrl url = QUrl::fromLocalFile(address.left(hash));
            url.setFragment(address.mid(hash + 1));
            return url;
        }
        return QUrl::fromLocalFile(address);
    }

    // A scheme of one letter would be a drive letter; those paths are absolute above.
    static const QRegularExpression schemed(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    if (schemed.match(address).hasMatch())
        return QUrl(address, QUrl::TolerantMode);

    // A plain word is what a person types to look something up.
    static const QRegularExpression word(QStringLiteral("^[^/\\\\.#:]+$"));
    if (word.match(address).hasMatch()) {
        QUrl url;
        url.setScheme(QString::fromLatin1(HelpAddresses::SearchScheme));
        url.setPath(address);
        return url;
    }
    return base.resolved(QUrl(address, QUrl::TolerantMode));
}

QString HelpView::displayAddress(const QUrl& url) {
    if (url.isLocalFile() && !url.hasFragment())
        return QDir::toNativeSeparators(url.toLocalFile());
    if (url.scheme() == QLatin1String(HelpAddresses::SearchScheme))
        return QString::fromLatin1(HelpAddresses::SearchScheme) + QLatin1Char(':') + url.path();
    return url.toDisplayString();
}

QString HelpView::failureTitle() {
    return QStringLiteral("Page Not Found");
}

QString HelpView::failurePage(const QUrl& url, const HelpAddresses& addresses) {
    return QStringLiteral(
               "<html><head><meta charset=\"utf-8\"><title>%1</title></head>"
               "<body style=\"font-family: sans-serif; font-size: 11pt; color: #1d2433;\">"
               "<h1 style=\"font-size: 20pt; color: #a03020;\">%1</h1>"
               "<p>The address <b>%2</b> could not be opened.</p>"
               "<p>The help browser shows the help pages installed with Gemvolt and the "
               "offline help document; it does not fetch pages from the Internet. Check "
               "the spelling of the address, or:</p>"
               "<ul><li><a href=\"%3\">go to the contents of the help</a> (the Home "
               "button),</li>"
               "<li><a href=\"%4\">search the help</a> for a word (the Search button).</li></ul>"
               "<p style=\"color: #4a5468;\">If no help page opens at all, the folder "
               "<b>help</b> beside the program is missing: install Gemvolt again.</p>"
               "</body></html>")
        .arg(failureTitle(), displayAddress(url).toHtmlEscaped(),
             addresses.homeAddress().toHtmlEscaped(),
             HelpAddresses::searchAddress().toHtmlEscaped());
}

QVariant HelpView::loadResource(int type, const QUrl& name) {
    if (name.scheme() == QLatin1String(HelpAddresses::SearchScheme))
        return m_search.page(name.path());
    QVariant data = QTextBrowser::loadResource(type, name);
    if (type == QTextDocument::HtmlResource && (!data.isValid() || data.toByteArray().isEmpty()))
        return failurePage(name, m_addresses);
    return data;
}

void HelpView::doSetSource(const QUrl& name, QTextDocument::ResourceType type) {
    // Every document of the help is HTML, whatever its file name ends in: the offline
    // document is HTML saved as ".doc" so that word processors open it too.
    if (type == QTextDocument::UnknownResource)
        type = QTextDocument::HtmlResource;
    m_busy = true;
    QTextBrowser::doSetSource(name, type);
    // Room around the text, so no page sticks to the frame.
    document()->setDocumentMargin(PageMargin);
    // Long pages are laid out a piece at a time; an anchor near the end would find the page
    // too short and the view would stop above it. Lay the page out to its end and go again.
    if (name.hasFragment()) {
        document()->documentLayout()->blockBoundingRect(document()->lastBlock());
        scrollToAnchor(name.fragment());
    }
    m_busy = false;
}

} // namespace gemvolt::shell
