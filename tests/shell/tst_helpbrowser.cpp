#include "Client/shell/AssetFolder.h"
#include "Client/shell/FrmBrowser.h"
#include "Client/shell/HelpAddresses.h"
#include "Client/shell/HelpBrowserHost.h"
#include "Client/shell/HelpSearch.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <cstdlib>

using namespace gemvolt::shell;

namespace {

// A program folder laid out as the build installs it: the offline document beside the
// program and the help pages in help/, copied from the source tree so tests may change them.
class InstalledHelp {
public:
    InstalledHelp() {
        const QString source = qEnvironmentVariable("GEMVOLT_SOURCE_DIR");
        QDir(m_dir.path()).mkdir(QStringLiteral("help"));
        const QDir pages(source + QStringLiteral("/assets/help"));
        for (const QString& name : pages.entryList(QDir::Files))
            QFile::copy(pages.filePath(name), folder() + QStringLiteral("/help/") + name);
        QFile::copy(source + QStringLiteral("/assets/docs/HELP ME.doc"),
                    folder() + QStringLiteral("/HELP ME.doc"));
    }
    QString folder() const { return m_dir.path(); }
    HelpAddresses addresses() const { return HelpAddresses(folder()); }

private:
    QTemporaryDir m_dir;
};

QTextBlock blockWithAnchor(const QTextDocument* doc, const QString& name) {
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().anchorNames().contains(name))
                return block;
        }
    }
    return QTextBlock();
}

// Whether the view shows anchor's heading at its top (or has scrolled as far as the page
// goes, for an anchor near the end); the top of the page for no anchor.
bool standsOn(const QTextBrowser* view, const QString& anchor) {
    const QScrollBar* bar = view->verticalScrollBar();
    if (anchor.isEmpty())
        return bar->value() == 0;
    const QTextBlock block = blockWithAnchor(view->document(), anchor);
    if (!block.isValid())
        return false;
    const int top = qRound(view->document()->documentLayout()->blockBoundingRect(block).top());
    const int offset = top - bar->value(); // where the heading stands in the view
    if (bar->value() == bar->maximum())    // the page ends: the heading shows lower down
        return top > 0 && offset >= -2 && offset < view->viewport()->height();
    return top > 0 && offset >= -2 && offset <= 2;
}

const QString HelpTitle = QStringLiteral("Gemvolt Help");
const QString OfflineTitle = QStringLiteral("Gemvolt - Offline Help");

} // namespace

class tst_HelpBrowser : public QObject {
    Q_OBJECT
private slots:
    void helpItem_opensItsPageAtItsAnchor_data();
    void helpItem_opensItsPageAtItsAnchor();
    void helpItem_whileOpen_reusesTheWindow();
    void addresses_doNotDependOnTheStartFolder();
    void window_createdWithEmptyCaptionAndLaidOut();
    void caption_workingWhileBusy_stopEndsItAtOnce();
    void toolbar_buttonsInOrderWithKeysTooltipsIcons();
    void toolbar_backForwardHomeSearchRefresh();
    void addressBox_enterOpensTypedAddressAndKeepsNoList();
    void offlineDocument_rendersAsTitledHtml();
    void missingPage_showsFailurePageAndBrowsingGoesOn();
    void closeButton_destroysWindow_nextItemCreatesItAgain();
    void search_findsSectionsHoldingAllWords();
    void search_resultsPageLinksToTheSection();
    void search_pageWordsAreLinksToClick();
    void pages_everyLinkLeadsSomewhere();
    void build_installsHelpBesideThePrograms();
    void install_helpFoundInTheDataFolder();
};

void tst_HelpBrowser::helpItem_opensItsPageAtItsAnchor_data() {
    QTest::addColumn<HelpItem>("item");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("anchor");
    QTest::addColumn<QString>("title");
    QTest::newRow("Offline Help") << HelpItem::H_OH << "HELP ME.doc"
                                  << "" << OfflineTitle;
    QTest::newRow("Main Menu") << HelpItem::H_IH_MM << "Help.htm"
                               << "" << HelpTitle;
    QTest::newRow("Client - Main Menu") << HelpItem::M_IH_CP_CMM << "Help.htm"
                                        << "CLIENT" << HelpTitle;
    QTest::newRow("First Glance") << HelpItem::H_IH_CP_FG << "Help.htm"
                                  << "C_FG" << HelpTitle;
    QTest::newRow("Menu") << HelpItem::H_IH_CP_M << "Help.htm"
                          << "C_M" << HelpTitle;
    QTest::newRow("Game Play") << HelpItem::H_IH_CP_GP << "Help.htm"
                               << "C_GP" << HelpTitle;
    QTest::newRow("Server Program") << HelpItem::H_IH_SP << "Help.htm"
                                    << "SERVER" << HelpTitle;
    QTest::newRow("FAQ") << HelpItem::H_IH_F << "Help.htm"
                         << "FAQ" << HelpTitle;
    QTest::newRow("Acknowledgements") << HelpItem::H_IH_A << "Help.htm"
                                      << "ACK" << HelpTitle;
}

void tst_HelpBrowser::helpItem_opensItsPageAtItsAnchor() {
    QFETCH(HelpItem, item);
    QFETCH(QString, file);
    QFETCH(QString, anchor);
    QFETCH(QString, title);
    InstalledHelp help;
    HelpBrowserHost host(help.addresses());
    QVERIFY(host.browser() == nullptr); // not created before the first Help item

    frmBrowser* browser = host.openItem(item);
    QVERIFY(browser != nullptr);
    QVERIFY(browser->isVisible());

    // The address: the help base (a file: address of the installed help folder) or the
    // program folder, the page and the anchor.
    const QString expectedPath = file == QLatin1String("HELP ME.doc")
                                     ? help.folder() + QStringLiteral("/HELP ME.doc")
                                     : help.folder() + QStringLiteral("/help/") + file;
    const QUrl source = browser->brwWebBrowser->source();
    QCOMPARE(source.toLocalFile(), expectedPath);
    QCOMPARE(source.fragment(), anchor);
    if (item != HelpItem::H_OH) {
        QVERIFY(host.addresses().forItem(item).startsWith(QStringLiteral("file:")));
        QCOMPARE(host.addresses().forItem(item),
                 help.addresses().baseAddress() + QStringLiteral("Help.htm") +
                     (anchor.isEmpty() ? QString() : QStringLiteral("#") + anchor));
    }

    QTRY_COMPARE(browser->windowTitle(), title);
    QTRY_VERIFY(!browser->timTimer->isActive());
    QVERIFY(!browser->brwWebBrowser->toPlainText().contains(QStringLiteral("<h1")));

    // The anchor exists on the page and the view stands on it.
    QVERIFY2(anchor.isEmpty() ||
                 blockWithAnchor(browser->brwWebBrowser->document(), anchor).isValid(),
             qPrintable(QStringLiteral("anchor missing: ") + anchor));
    QTRY_VERIFY2(standsOn(browser->brwWebBrowser, anchor),
                 qPrintable(QStringLiteral("scrolled to %1")
                                .arg(browser->brwWebBrowser->verticalScrollBar()->value())));
}

void tst_HelpBrowser::helpItem_whileOpen_reusesTheWindow() {
    InstalledHelp help;
    HelpBrowserHost host(help.addresses());
    frmBrowser* first = host.openItem(HelpItem::H_IH_F);
    QTRY_COMPARE(first->windowTitle(), HelpTitle);
    frmBrowser* second = host.openItem(HelpItem::H_IH_A);
    QCOMPARE(second, first);
    QCOMPARE(second->brwWebBrowser->source().fragment(), QStringLiteral("ACK"));
    QTRY_VERIFY(standsOn(second->brwWebBrowser, QStringLiteral("ACK")));
    // The first page is in the history.
    QVERIFY(second->brwWebBrowser->isBackwardAvailable());
}

void tst_HelpBrowser::addresses_doNotDependOnTheStartFolder() {
    // A program folder given relative to the current folder still gives addresses that open
    // after the current folder changed.
    const HelpAddresses relative(QStringLiteral("some/where/"));
    QVERIFY(QDir::isAbsolutePath(relative.offlineAddress()));
    QVERIFY(relative.offlineAddress().endsWith(QStringLiteral("/some/where/HELP ME.doc")));
    const QUrl base(relative.baseAddress());
    QVERIFY(base.isLocalFile());
    QVERIFY(QDir::isAbsolutePath(base.toLocalFile()));
    QVERIFY(base.toLocalFile().endsWith(QStringLiteral("/some/where/help/")));
    QCOMPARE(HelpAddresses().appFolder(), QCoreApplication::applicationDirPath());
}

void tst_HelpBrowser::window_createdWithEmptyCaptionAndLaidOut() {
    InstalledHelp help;
    frmBrowser browser(help.addresses());
    QVERIFY(browser.isVisible());
    QVERIFY(browser.windowTitle().isEmpty());
    QCOMPARE(browser.timTimer->interval(), 5);
    QVERIFY(!browser.timTimer->isActive());
    QCOMPARE(browser.lblAddress->text(), QStringLiteral("&Address:"));
    QCOMPARE(browser.lblAddress->buddy(), browser.cboAddress);
    QVERIFY(browser.cboAddress->isEditable());
    QCOMPARE(browser.findChild<QTextBrowser*>(QStringLiteral("brwWebBrowser")),
             browser.brwWebBrowser);

    // Lengths in twips through the screen's resolution: 50 on the left, 100 less than the
    // inner width, 100 below the view; the box sits 15 below the label.
    browser.resize(800, 600);
    const auto tx = [&](int twips) { return twips * browser.logicalDpiX() / 1440; };
    const auto ty = [&](int twips) { return twips * browser.logicalDpiY() / 1440; };
    QCOMPARE(browser.cboAddress->width(), 800 - tx(100));
    QCOMPARE(browser.brwWebBrowser->width(), 800 - tx(100));
    QCOMPARE(browser.brwWebBrowser->x(), tx(50));
    QCOMPARE(browser.cboAddress->x(), tx(50));
    QCOMPARE(browser.cboAddress->y(), browser.lblAddress->geometry().bottom() + 1 + ty(15));
    const int barBottom = browser.picAddress->geometry().bottom() + 1;
    QCOMPARE(browser.picAddress->y(), browser.tbToolBar->geometry().bottom() + 1);
    QCOMPARE(browser.brwWebBrowser->y(), barBottom);
    QCOMPARE(browser.brwWebBrowser->height(), 600 - barBottom - ty(100));

    // A window too small for the rule keeps going with empty widgets.
    browser.resize(20, 20);
    QCOMPARE(browser.brwWebBrowser->height(), 0);
}

void tst_HelpBrowser::caption_workingWhileBusy_stopEndsItAtOnce() {
    InstalledHelp help;
    frmBrowser browser(help.addresses());
    bool busy = true;
    browser.setBusyProbe([&busy] { return busy; });
    browser.openAddress(help.addresses().homeAddress());
    QTRY_COMPARE(browser.windowTitle(), frmBrowser::WorkingCaption);
    QVERIFY(browser.timTimer->isActive());

    // Stop ends the poll and shows the title although the view still says it is busy.
    browser.toolbarAction(QStringLiteral("Stop"))->trigger();
    QVERIFY(!browser.timTimer->isActive());
    QCOMPARE(browser.windowTitle(), HelpTitle);

    // A poll that finds the view idle stops itself and ends on the title.
    browser.toolbarAction(QStringLiteral("Refresh"))->trigger();
    QVERIFY(browser.timTimer->isActive());
    QTRY_COMPARE(browser.windowTitle(), frmBrowser::WorkingCaption);
    busy = false;
    QTRY_COMPARE(browser.windowTitle(), HelpTitle);
    QTRY_VERIFY(!browser.timTimer->isActive());
}

void tst_HelpBrowser::toolbar_buttonsInOrderWithKeysTooltipsIcons() {
    InstalledHelp help;
    frmBrowser browser(help.addresses());
    const QStringList keys = {"Back", "Forward", "Stop", "Refresh", "Home", "Search"};
    const QList<QAction*> actions = browser.tbToolBar->actions();
    QCOMPARE(actions.size(), keys.size());
    for (int i = 0; i < keys.size(); ++i) {
        QCOMPARE(actions.at(i)->objectName(), keys.at(i));
        QCOMPARE(actions.at(i)->data().toString(), keys.at(i));
        QCOMPARE(actions.at(i)->toolTip(), keys.at(i));
        QVERIFY(!actions.at(i)->icon().isNull());
    }
}

void tst_HelpBrowser::toolbar_backForwardHomeSearchRefresh() {
    InstalledHelp help;
    HelpBrowserHost host(help.addresses());
    frmBrowser* browser = host.openItem(HelpItem::H_OH);
    QTRY_COMPARE(browser->windowTitle(), OfflineTitle);
    const auto click = [browser](const char* key) {
        browser->toolbarAction(QString::fromLatin1(key))->trigger();
    };

    // Back and Forward with no history do nothing.
    click("Back");
    click("Forward");
    QTRY_COMPARE(browser->windowTitle(), OfflineTitle);

    click("Home");
    QTRY_COMPARE(browser->windowTitle(), HelpTitle);
    QCOMPARE(browser->brwWebBrowser->source(), QUrl(help.addresses().homeAddress()));

    click("Search");
    QTRY_COMPARE(browser->windowTitle(), QStringLiteral("Search the Help"));
    QCOMPARE(browser->brwWebBrowser->source().scheme(), QStringLiteral("search"));
    // Only a Help item and typing change the address box; the toolbar leaves it alone.
    const QString offline = help.addresses().offlineAddress();
    QCOMPARE(browser->cboAddress->currentText(), offline);

    click("Back");
    QTRY_COMPARE(browser->windowTitle(), HelpTitle);
    click("Back");
    QTRY_COMPARE(browser->windowTitle(), OfflineTitle);
    click("Forward");
    QTRY_COMPARE(browser->windowTitle(), HelpTitle);
    QCOMPARE(browser->cboAddress->currentText(), offline);

    // Refresh reads the page again: an edited page shows its new text.
    QFile page(help.folder() + QStringLiteral("/help/Help.htm"));
    QVERIFY(page.open(QIODevice::WriteOnly | QIODevice::Truncate));
    page.write("<html><head><title>Edited</title></head><body><p>new text</p></body></html>");
    page.close();
    click("Refresh");
    QTRY_COMPARE(browser->windowTitle(), QStringLiteral("Edited"));
    QVERIFY(browser->brwWebBrowser->toPlainText().contains(QStringLiteral("new text")));
}

void tst_HelpBrowser::addressBox_enterOpensTypedAddressAndKeepsNoList() {
    InstalledHelp help;
    HelpBrowserHost host(help.addresses());
    frmBrowser* browser = host.openItem(HelpItem::H_IH_MM);
    QTRY_COMPARE(browser->windowTitle(), HelpTitle);
    QLineEdit* edit = browser->cboAddress->lineEdit();
    const auto enter = [edit](const QString& text) {
        edit->setText(text);
        QTest::keyClick(edit, Qt::Key_Return);
    };

    // A path with an anchor, as a person types it.
    enter(help.folder() + QStringLiteral("/help/Help.htm#FAQ"));
    QCOMPARE(browser->brwWebBrowser->source().fragment(), QStringLiteral("FAQ"));
    // A name relative to the page shown.
    enter(QStringLiteral("Help.htm#ACK"));
    QCOMPARE(browser->brwWebBrowser->source().fragment(), QStringLiteral("ACK"));
    // The offline document by its path, blank and all.
    enter(help.folder() + QStringLiteral("/HELP ME.doc"));
    QTRY_COMPARE(browser->windowTitle(), OfflineTitle);
    // A bare word searches the help.
    enter(QStringLiteral("firewall"));
    QTRY_COMPARE(browser->windowTitle(), QStringLiteral("Search: firewall"));
    QCOMPARE(browser->cboAddress->currentText(), QStringLiteral("firewall"));
    enter(QStringLiteral("search:counter gems"));
    QTRY_COMPARE(browser->windowTitle(), QStringLiteral("Search: counter gems"));

    QCOMPARE(browser->cboAddress->count(), 0);
}

void tst_HelpBrowser::offlineDocument_rendersAsTitledHtml() {
    InstalledHelp help;
    HelpBrowserHost host(help.addresses());
    QCOMPARE(help.addresses().offlineAddress(), help.folder() + QStringLiteral("/HELP ME.doc"));
    frmBrowser* browser = host.openItem(HelpItem::H_OH);
    QCOMPARE(browser->cboAddress->currentText(), help.addresses().offlineAddress());
    QTRY_COMPARE(browser->windowTitle(), OfflineTitle);

    const QTextDocument* doc = browser->brwWebBrowser->document();
    const QString text = doc->toPlainText();
    QVERIFY(text.contains(QStringLiteral("Getting started")));
    QVERIFY2(!text.contains(QLatin1Char('<')), "markup shown as text");
    // Rendered as HTML: the headings are headings and the tables are tables.
    int headings = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        headings += block.blockFormat().headingLevel() > 0 ? 1 : 0;
    QVERIFY(headings >= 8);
    QVERIFY(doc->rootFrame()->childFrames().size() >= 2);
}

void tst_HelpBrowser::missingPage_showsFailurePageAndBrowsingGoesOn() {
    InstalledHelp help;
    HelpBrowserHost host(help.addresses());
    frmBrowser* browser = host.openItem(HelpItem::H_IH_MM);
    QTRY_COMPARE(browser->windowTitle(), HelpTitle);

    const QString missing = help.addresses().baseAddress() + QStringLiteral("NoSuchPage.htm");
    host.open(missing);
    QTRY_COMPARE(browser->windowTitle(), HelpView::failureTitle());
    const QString text = browser->brwWebBrowser->toPlainText();
    QVERIFY(text.contains(QStringLiteral("could not be opened")));
    QVERIFY(text.contains(QStringLiteral("NoSuchPage.htm")));
    QTRY_VERIFY(!browser->timTimer->isActive());

    // Browsing goes on: Back returns to the page before.
    browser->toolbarAction(QStringLiteral("Back"))->trigger();
    QTRY_COMPARE(browser->windowTitle(), HelpTitle);

    // The offline document gone, and an address on the Internet: the same page, no crash.
    QVERIFY(QFile::remove(help.addresses().offlineAddress()));
    host.openItem(HelpItem::H_OH);
    QTRY_COMPARE(browser->windowTitle(), HelpView::failureTitle());
    QVERIFY(browser->brwWebBrowser->toPlainText().contains(QStringLiteral("HELP ME.doc")));
    host.open(QStringLiteral("http://help.example/page.htm"));
    QTRY_COMPARE(browser->windowTitle(), HelpView::failureTitle());
    // The whole help folder missing.
    QVERIFY(QDir(help.addresses().helpFolder()).removeRecursively());
    browser->toolbarAction(QStringLiteral("Home"))->trigger();
    QTRY_COMPARE(browser->windowTitle(), HelpView::failureTitle());
}

void tst_HelpBrowser::closeButton_destroysWindow_nextItemCreatesItAgain() {
    InstalledHelp help;
    HelpBrowserHost host(help.addresses());
    QPointer<frmBrowser> first = host.openItem(HelpItem::H_IH_F);
    host.openItem(HelpItem::H_IH_A);
    QVERIFY(first->brwWebBrowser->isBackwardAvailable());

    QVERIFY(first->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(first.isNull());
    QVERIFY(host.browser() == nullptr);

    frmBrowser* second = host.openItem(HelpItem::H_IH_SP);
    QVERIFY(second != nullptr);
    QVERIFY(second->isVisible());
    QCOMPARE(second->brwWebBrowser->source().fragment(), QStringLiteral("SERVER"));
    QTRY_COMPARE(second->windowTitle(), HelpTitle);
    QVERIFY(!second->brwWebBrowser->isBackwardAvailable()); // the history went with the window
}

void tst_HelpBrowser::search_findsSectionsHoldingAllWords() {
    InstalledHelp help;
    HelpSearch search(help.addresses());
    QCOMPARE(search.files().first(), help.folder() + QStringLiteral("/help/Help.htm"));
    QCOMPARE(search.files().last(), help.addresses().offlineAddress());

    const QList<HelpSearch::Hit> firewall = search.find(QStringLiteral("FIREWALL"));
    QStringList where;
    for (const HelpSearch::Hit& hit : firewall)
        where << hit.address.fileName() + QLatin1Char('#') + hit.address.fragment();
    QVERIFY2(where.contains(QStringLiteral("Help.htm#FAQ_CONNECT")), qPrintable(where.join(',')));
    QVERIFY2(where.contains(QStringLiteral("HELP ME.doc#D_TROUBLE")), qPrintable(where.join(',')));
    for (const HelpSearch::Hit& hit : firewall) {
        QVERIFY(hit.count > 0);
        QVERIFY(hit.excerpt.contains(QStringLiteral("firewall"), Qt::CaseInsensitive));
        QVERIFY(!hit.heading.isEmpty());
    }

    // Several words: only sections holding all of them.
    const QList<HelpSearch::Hit> both = search.find(QStringLiteral("kick uptime"));
    QVERIFY(!both.isEmpty());
    const auto addresses = [&search](const char* word) {
        QList<QUrl> list;
        for (const HelpSearch::Hit& hit : search.find(QString::fromLatin1(word)))
            list.append(hit.address);
        return list;
    };
    for (const HelpSearch::Hit& hit : both) {
        QVERIFY(addresses("kick").contains(hit.address));
        QVERIFY(addresses("uptime").contains(hit.address));
    }
    QVERIFY(both.size() < addresses("kick").size() || both.size() < addresses("uptime").size());
    QCOMPARE(both.first().address.fragment(), QStringLiteral("SRV_WINDOW"));

    QVERIFY(search.find(QStringLiteral("xylophonequartz")).isEmpty());
    QVERIFY(search.find(QStringLiteral("   ")).isEmpty());

    // Every word the search page offers finds something.
    for (const QString& word : HelpSearch::suggestedWords())
        QVERIFY2(!search.find(word).isEmpty(), qPrintable(word));
}

void tst_HelpBrowser::search_resultsPageLinksToTheSection() {
    InstalledHelp help;
    HelpBrowserHost host(help.addresses());
    frmBrowser* browser = host.open(HelpAddresses::searchAddress(QStringLiteral("kick")));
    QTRY_COMPARE(browser->windowTitle(), QStringLiteral("Search: kick"));

    // Collect the result links and follow the one to the server window's section.
    QUrl target;
    const QTextDocument* doc = browser->brwWebBrowser->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QUrl href(it.fragment().charFormat().anchorHref());
            if (href.fragment() == QLatin1String("SRV_WINDOW"))
                target = href;
        }
    }
    QVERIFY(target.isValid());
    browser->brwWebBrowser->setSource(target);
    QTRY_COMPARE(browser->windowTitle(), HelpTitle);
    QTRY_VERIFY(standsOn(browser->brwWebBrowser, QStringLiteral("SRV_WINDOW")));

    // What is typed is shown as text, never taken as markup.
    host.open(QStringLiteral("search:<i>kick</i>"));
    QTRY_COMPARE(browser->windowTitle(), QStringLiteral("Search: <i>kick</i>"));
    QVERIFY(browser->brwWebBrowser->toPlainText().contains(QStringLiteral("<i>kick</i>")));
    QVERIFY(browser->brwWebBrowser->toPlainText().contains(QStringLiteral("No section")));
}

void tst_HelpBrowser::search_pageWordsAreLinksToClick() {
    InstalledHelp help;
    HelpBrowserHost host(help.addresses());
    frmBrowser* browser = host.openItem(HelpItem::H_IH_MM);
    browser->toolbarAction(QStringLiteral("Search"))->trigger();
    QTRY_COMPARE(browser->windowTitle(), QStringLiteral("Search the Help"));

    // Click the word "firewall" on the page with the mouse, as a player does.
    QTextBrowser* view = browser->brwWebBrowser;
    const QString text = view->document()->toPlainText();
    const qsizetype at = text.indexOf(QStringLiteral("firewall"));
    QVERIFY(at >= 0);
    QTextCursor cursor(view->document());
    cursor.setPosition(static_cast<int>(at + 3));
    const QPoint point = view->cursorRect(cursor).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, point);
    QTRY_COMPARE(browser->windowTitle(), QStringLiteral("Search: firewall"));
    // A followed link leaves the address box as the Help item filled it.
    QCOMPARE(browser->cboAddress->currentText(), help.addresses().forItem(HelpItem::H_IH_MM));
    QVERIFY(view->toPlainText().contains(QStringLiteral("My friends cannot connect")));
}

void tst_HelpBrowser::pages_everyLinkLeadsSomewhere() {
    InstalledHelp help;
    const QStringList files = HelpSearch(help.addresses()).files();
    QVERIFY(files.size() >= 2);
    for (const QString& file : files) {
        QFile in(file);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QTextDocument doc;
        doc.setHtml(QString::fromUtf8(in.readAll()));
        QVERIFY2(!doc.metaInformation(QTextDocument::DocumentTitle).isEmpty(), qPrintable(file));
        QSet<QString> names;
        QList<QUrl> links;
        for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat format = it.fragment().charFormat();
                for (const QString& name : format.anchorNames())
                    names.insert(name);
                if (!format.anchorHref().isEmpty())
                    links.append(QUrl(format.anchorHref()));
            }
        }
        for (const QUrl& link : std::as_const(links)) {
            if (link.scheme() == QLatin1String("search"))
                continue;
            const QUrl resolved = QUrl::fromLocalFile(file).resolved(link);
            QVERIFY2(QFileInfo::exists(resolved.toLocalFile()), qPrintable(link.toString()));
            if (resolved.toLocalFile() == file && link.hasFragment())
                QVERIFY2(names.contains(link.fragment()), qPrintable(file + link.toString()));
        }
    }
}

void tst_HelpBrowser::build_installsHelpBesideThePrograms() {
    const QString bin = qEnvironmentVariable("GEMVOLT_BIN_DIR");
    const HelpAddresses installed(bin);
    QVERIFY(QFileInfo::exists(installed.offlineAddress()));
    QVERIFY(QFileInfo::exists(QUrl(installed.homeAddress()).toLocalFile()));
}

void tst_HelpBrowser::install_helpFoundInTheDataFolder() {
    // A real install of this build: the programs in bin/, their files in the data
    // folder, where the client's help (and sounds, through the same AssetFolder) are found.
    QTemporaryDir prefix;
    QProcess install;
    install.start(qEnvironmentVariable("CMAKE_COMMAND"),
                  {"--install", QFileInfo(qEnvironmentVariable("GEMVOLT_BIN_DIR")).path(),
                   "--prefix", prefix.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
    const QString programs = prefix.filePath(QStringLiteral("bin"));
    QVERIFY(QFileInfo(QDir(programs).filePath(QStringLiteral("gemvolt"))).isExecutable());
    QVERIFY(!QFileInfo::exists(QDir(programs).filePath(QStringLiteral("help"))));

    const HelpAddresses installed(programs);
    QCOMPARE(installed.appFolder(),
             QDir::cleanPath(QDir(programs).filePath(AssetFolder::installedRelative())));
    QVERIFY(QFileInfo::exists(installed.offlineAddress()));
    QVERIFY(QFileInfo::exists(QUrl(installed.homeAddress()).toLocalFile()));
    QVERIFY(QFileInfo::exists(installed.appFolder() + QStringLiteral("/Dink.wav")));

    // The menu entry starts the installed client by its full path.
    QFile desktop(
        prefix.filePath(QStringLiteral("share/applications/org.gemvolt.Gemvolt.desktop")));
    QVERIFY(desktop.open(QIODevice::ReadOnly));
    QVERIFY(desktop.readAll().contains(QStringLiteral("Exec=%1/gemvolt\n").arg(programs).toUtf8()));
}

QTEST_MAIN(tst_HelpBrowser)
#include "tst_helpbrowser.moc"
