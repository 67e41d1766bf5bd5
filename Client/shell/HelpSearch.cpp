#include "Client/shell/HelpSearch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>
#include <utility>

namespace gemvolt::shell {

namespace {

// The look the generated pages share with the installed help pages.
const char* const PageStyle =
    "body { font-family: sans-serif; font-size: 11pt; color: #1d2433; background-color: #ffffff; }"
    "h1 { font-size: 20pt; color: #23408e; }"
    "p.hint { color: #4a5468; }"
    "td.word { background-color: #eef2fb; padding: 4px; }"
    "span.where { color: #4a5468; font-size: 9pt; }";

struct Section {
    QString anchor;
    QString heading;
    QString text;
};

struct Page {
    QUrl address;
    QString title;
    QList<Section> sections;
};

QString readHtml(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = file.readAll();
    auto decoder = QStringDecoder::decoderForHtml(bytes);
    if (!decoder.isValid())
        decoder = QStringDecoder(QStringDecoder::Utf8);
    return decoder(bytes);
}

// Cuts a page into sections at its named anchors, keeping each section's heading and text.
Page readPage(const QString& path) {
    Page page;
    page.address = QUrl::fromLocalFile(path);
    QTextDocument doc;
    doc.setHtml(readHtml(path));
    page.title = doc.metaInformation(QTextDocument::DocumentTitle);
    if (page.title.isEmpty())
        page.title = QFileInfo(path).fileName();

    Section current{QString(), page.title, QString()};
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        QString anchor;
        for (auto it = block.begin(); !it.atEnd() && anchor.isEmpty(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isAnchor() && !format.anchorNames().isEmpty())
                anchor = format.anchorNames().constFirst();
        }
        if (!anchor.isEmpty()) {
            if (!current.text.trimmed().isEmpty() || !current.anchor.isEmpty())
                page.sections.append(current);
            current = Section{anchor, block.text().simplified(), QString()};
            if (current.heading.isEmpty())
                current.heading = anchor;
        }
        current.text += block.text() + QLatin1Char('\n');
    }
    page.sections.append(current);
    return page;
}

QStringList termsOf(const QString& text) {
    static const QRegularExpression blanks(QStringLiteral("[\\s\"]+"));
    QStringList terms = text.split(blanks, Qt::SkipEmptyParts);
    terms.removeDuplicates();
    return terms;
}

int countOf(const QString& text, const QString& term) {
    return static_cast<int>(text.count(term, Qt::CaseInsensitive));
}

// A plain excerpt of about a line around the first place a term occurs.
QString excerptAround(const QString& text, const QStringList& terms) {
    // Headings, cells and paragraphs are kept apart by a dot, not run together.
    QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& line : lines)
        line = line.simplified();
    lines.removeAll(QString());
    const QString flat = lines.join(QStringLiteral(" \u00b7 "));
    qsizetype first = flat.size();
    for (const QString& term : terms) {
        const qsizetype at = flat.indexOf(term, 0, Qt::CaseInsensitive);
        if (at >= 0)
            first = std::min(first, at);
    }
    if (first == flat.size())
        first = 0;
    qsizetype start = std::max<qsizetype>(0, first - 70);
    qsizetype end = std::min<qsizetype>(flat.size(), first + 130);
    // Cut at blanks so no word is split.
    if (start > 0) {
        const qsizetype blank = flat.indexOf(QLatin1Char(' '), start);
        if (blank >= 0 && blank < first)
            start = blank + 1;
    }
    if (end < flat.size()) {
        const qsizetype blank = flat.lastIndexOf(QLatin1Char(' '), end);
        if (blank > first)
            end = blank;
    }
    QString excerpt = flat.mid(start, end - start);
    if (start > 0)
        excerpt.prepend(QStringLiteral("\u2026 "));
    if (end < flat.size())
        excerpt.append(QStringLiteral(" \u2026"));
    return excerpt;
}

// The excerpt as HTML with every occurrence of a term in bold; the text itself is escaped.
QString highlighted(const QString& excerpt, const QStringList& terms) {
    QList<std::pair<qsizetype, qsizetype>> marks;
    for (const QString& term : terms) {
        for (qsizetype at = excerpt.indexOf(term, 0, Qt::CaseInsensitive); at >= 0;
             at = excerpt.indexOf(term, at + term.size(), Qt::CaseInsensitive))
            marks.append({at, at + term.size()});
    }
    std::sort(marks.begin(), marks.end());
    QString html;
    qsizetype pos = 0;
    for (const auto& [from, to] : marks) {
        if (from < pos)
            continue; // overlaps a mark already made
        html += excerpt.mid(pos, from - pos).toHtmlEscaped();
        html += QStringLiteral("<b>") + excerpt.mid(from, to - from).toHtmlEscaped() +
                QStringLiteral("</b>");
        pos = to;
    }
    html += excerpt.mid(pos).toHtmlEscaped();
    return html;
}

QString searchLink(const QString& word) {
    QUrl url;
    url.setScheme(QString::fromLatin1(HelpAddresses::SearchScheme));
    url.setPath(word);
    return QStringLiteral("<a href=\"%1\">%2</a>")
        .arg(url.toString(QUrl::FullyEncoded).toHtmlEscaped(), word.toHtmlEscaped());
}

QString pageHead(const QString& title) {
    return QStringLiteral("<html><head><meta charset=\"utf-8\"><title>%1</title><style>%2</style>"
                          "</head><body>")
        .arg(title.toHtmlEscaped(), QString::fromLatin1(PageStyle));
}

} // namespace

HelpSearch::HelpSearch(HelpAddresses addresses) : m_addresses(std::move(addresses)) {}

QStringList HelpSearch::files() const {
    QStringList result;
    const QDir folder(m_addresses.helpFolder());
    QStringList pages = folder.entryList({QStringLiteral("*.htm"), QStringLiteral("*.html")},
                                         QDir::Files | QDir::Readable, QDir::Name);
    // The contents page leads, so its sections come first in the results.
    const auto home = std::find(pages.begin(), pages.end(), QStringLiteral("Help.htm"));
    if (home != pages.end())
        std::rotate(pages.begin(), home, home + 1);
    for (const QString& name : std::as_const(pages))
        result.append(folder.filePath(name));
    const QString offline = m_addresses.offlineAddress();
    if (QFileInfo(offline).isFile())
        result.append(offline);
    return result;
}

QList<HelpSearch::Hit> HelpSearch::find(const QString& text) const {
    QList<Hit> hits;
    const QStringList terms = termsOf(text);
    if (terms.isEmpty())
        return hits;
    for (const QString& file : files()) {
        const Page page = readPage(file);
        for (const Section& section : page.sections) {
            int count = 0;
            bool all = true;
            for (const QString& term : terms) {
                const int n = countOf(section.text, term);
                all = all && n > 0;
                count += n;
            }
            if (!all)
                continue;
            Hit hit;
            hit.pageTitle = page.title;
            hit.heading = section.heading;
            hit.address = page.address;
            if (!section.anchor.isEmpty())
                hit.address.setFragment(section.anchor);
            hit.excerpt = excerptAround(section.text, terms);
            hit.count = count;
            hits.append(hit);
        }
    }
    return hits;
}

QStringList HelpSearch::suggestedWords() {
    return {QStringLiteral("crash gem"), QStringLiteral("combo"),   QStringLiteral("counter"),
            QStringLiteral("pattern"),   QStringLiteral("Ready"),   QStringLiteral("queue"),
            QStringLiteral("arrow"),     QStringLiteral("chat"),    QStringLiteral("sound"),
            QStringLiteral("firewall"),  QStringLiteral("port"),    QStringLiteral("kick"),
            QStringLiteral("headless"),  QStringLiteral("computer")};
}

QString HelpSearch::page(const QString& text) const {
    if (termsOf(text).isEmpty())
        return formPage();
    return resultsPage(text, find(text));
}

namespace {

QString howToSearch() {
    return QStringLiteral(
        "<p>Type a word into the <b>Address</b> box at the top of this window and press "
        "<b>Enter</b>. Type it after <b>search:</b> (for example <b>search:combo</b>), or type "
        "the word on its own: a single word that is not an address is searched for. Several "
        "words find the places that hold all of them. Upper and lower case do not matter.</p>");
}

QString suggestionTable() {
    QString html = QStringLiteral("<p>Or pick a word:</p><table cellspacing=\"6\"><tr>");
    const QStringList words = HelpSearch::suggestedWords();
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (i > 0 && i % 7 == 0)
            html += QStringLiteral("</tr><tr>");
        html += QStringLiteral("<td class=\"word\">") + searchLink(words.at(i)) +
                QStringLiteral("</td>");
    }
    return html + QStringLiteral("</tr></table>");
}

} // namespace

QString HelpSearch::formPage() const {
    QString html = pageHead(QStringLiteral("Search the Help"));
    html += QStringLiteral("<h1>Search the Help</h1>");
    html += howToSearch();
    html += suggestionTable();
    html += QStringLiteral("<p class=\"hint\">The search looks through every help page and the "
                           "offline document and lists the sections that contain your words, "
                           "with links to them.</p>");
    html += QStringLiteral("<p><a href=\"%1\">Back to the contents of the help</a></p>")
                .arg(m_addresses.homeAddress().toHtmlEscaped());
    return html + QStringLiteral("</body></html>");
}

QString HelpSearch::resultsPage(const QString& text, const QList<Hit>& hits) const {
    const QString words = termsOf(text).join(QLatin1Char(' '));
    const QStringList terms = termsOf(text);
    QString html = pageHead(QStringLiteral("Search: ") + words);
    html += QStringLiteral("<h1>Search: %1</h1>").arg(words.toHtmlEscaped());
    if (hits.isEmpty()) {
        html += QStringLiteral("<p>No section of the help contains <b>%1</b>. Check the "
                               "spelling, or try a shorter or different word.</p>")
                    .arg(words.toHtmlEscaped());
    } else {
        html += QStringLiteral("<p>%1 %2 of the help %3 <b>%4</b>. Click a heading to go "
                               "there.</p><ol>")
                    .arg(hits.size())
                    .arg(hits.size() == 1 ? QStringLiteral("section") : QStringLiteral("sections"))
                    .arg(hits.size() == 1 ? QStringLiteral("contains") : QStringLiteral("contain"))
                    .arg(words.toHtmlEscaped());
        for (const Hit& hit : hits) {
            html += QStringLiteral("<li><p><a href=\"%1\"><b>%2</b></a> <span class=\"where\">"
                                   "(%3)</span><br>%4</p></li>")
                        .arg(hit.address.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                             hit.heading.toHtmlEscaped(), hit.pageTitle.toHtmlEscaped(),
                             highlighted(hit.excerpt, terms));
        }
        html += QStringLiteral("</ol>");
    }
    html += QStringLiteral("<hr>") + howToSearch() + suggestionTable();
    return html + QStringLiteral("</body></html>");
}

} // namespace gemvolt::shell
