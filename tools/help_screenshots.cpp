// Opens the help browser on every Help menu item, on the search page, a search and a missing
// page, and saves a screenshot of each: help_screenshots <program folder> <output folder>.
#include "Client/shell/FrmBrowser.h"
#include "Client/shell/HelpAddresses.h"
#include "Client/shell/HelpBrowserHost.h"

#include <QApplication>
#include <QDir>
#include <QTest>

#include <cstdio>
#include <utility>
#include <vector>

using namespace gemvolt::shell;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: help_screenshots <program folder> <output folder>\n");
        return 2;
    }
    const HelpAddresses addresses(QString::fromLocal8Bit(argv[1]));
    const QDir out(QString::fromLocal8Bit(argv[2]));
    QDir().mkpath(out.path());
    HelpBrowserHost host(addresses);

    const std::vector<std::pair<QString, QString>> shots = {
        {QStringLiteral("01-offline-help"), addresses.forItem(HelpItem::H_OH)},
        {QStringLiteral("02-main-menu"), addresses.forItem(HelpItem::H_IH_MM)},
        {QStringLiteral("03-client-main-menu"), addresses.forItem(HelpItem::M_IH_CP_CMM)},
        {QStringLiteral("04-first-glance"), addresses.forItem(HelpItem::H_IH_CP_FG)},
        {QStringLiteral("05-menu"), addresses.forItem(HelpItem::H_IH_CP_M)},
        {QStringLiteral("06-game-play"), addresses.forItem(HelpItem::H_IH_CP_GP)},
        {QStringLiteral("07-server-program"), addresses.forItem(HelpItem::H_IH_SP)},
        {QStringLiteral("08-faq"), addresses.forItem(HelpItem::H_IH_F)},
        {QStringLiteral("09-acknowledgements"), addresses.forItem(HelpItem::H_IH_A)},
        {QStringLiteral("10-search-page"), HelpAddresses::searchAddress()},
        {QStringLiteral("11-search-combo"), HelpAddresses::searchAddress(QStringLiteral("combo"))},
        {QStringLiteral("12-missing-page"), addresses.baseAddress() + QStringLiteral("Gone.htm")},
        {QStringLiteral("13-crash-gems"), addresses.onlineAddress(QStringLiteral("#CRASH"))},
        {QStringLiteral("14-pattern-editor"), addresses.onlineAddress(QStringLiteral("#EDITOR"))},
        {QStringLiteral("15-gems"), addresses.onlineAddress(QStringLiteral("#GEMS"))},
    };
    for (const auto& [name, address] : shots) {
        frmBrowser* browser = host.open(address);
        if (!QTest::qWaitForWindowExposed(browser))
            std::fprintf(stderr, "window not shown for %s\n", qPrintable(address));
        QTest::qWait(150); // let the poll set the caption and the window repaint
        const QString file = out.filePath(name + QStringLiteral(".png"));
        if (!browser->grab().save(file)) {
            std::fprintf(stderr, "could not save %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s  [%s]  %s\n", qPrintable(file), qPrintable(browser->windowTitle()),
                    qPrintable(address));
    }
    return 0;
}
