// Two clients fight through a real server inside this process, under the real
// timers, and the windows are saved as pictures at each stage of a fight:
//   fight_screenshots <output folder>
// Used by scripts/screenshot-fight when no server program is built.
#include "Client/battle/GameCore.h"
#include "Client/net/HeadlessClient.h"
#include "Client/shell/FrmMain.h"
#include "support/LocalServer.h"
#include "support/ScriptedDialogs.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <functional>

using namespace gemvolt;

namespace {

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QTest::qWait(20);
    return done();
}

void save(shell::FrmMain& window, const QDir& out, const QString& name) {
    const QString file = out.filePath(name + ".png");
    window.grab().save(file);
    std::printf("%s\n", qPrintable(file));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fight_screenshots <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());

    testing::LocalServer server;
    testing::ScriptedDialogs alice;
    testing::ScriptedDialogs bob;
    alice.answers = {server.address(), "Alice"};
    bob.answers = {server.address(), "Bob"};
    shell::FrmMain a(alice);
    shell::FrmMain b(bob);
    if (!a.startUp() || !b.startUp())
        return 1;
    a.move(0, 0);
    b.move(a.width() + 10, 0);
    if (!waitFor([&] { return a.core().frmNxtMatch() && a.core().playerTable().rowCount() == 2; },
                 5000))
        return 1;
    save(a, out, "1-before-first-fight");

    a.findChild<QPushButton*>("RdyButton")->click();
    b.findChild<QPushButton*>("RdyButton")->click();
    waitFor([&] { return a.core().lblCountIn() == "2"; }, 5000);
    save(a, out, "2-count-down");
    if (!waitFor([&] { return a.core().tmrFallGems() && b.core().tmrFallGems(); }, 6000))
        return 1;

    // Alice spreads her pairs over the board; Bob piles his into the entry column.
    int pair = 0;
    const int moves[] = {37, 39, 37, 39, 39, 37, 37, 39};
    QElapsedTimer clock;
    clock.start();
    bool saved = false;
    while (!a.core().frmNxtMatch() && clock.elapsed() < 60000) {
        if (a.core().PairActive() && a.core().PairR(1) == 14) {
            const int key = moves[pair % 8];
            for (int i = 0; i <= pair % 3; ++i)
                a.client().KeyDown(key);
            if (pair % 2)
                a.client().KeyDown(38);
            ++pair;
        }
        if (a.core().PairActive() && a.core().PairR(1) < 12)
            a.client().KeyDown(40);
        if (b.core().PairActive())
            b.client().KeyDown(40);
        QTest::qWait(120);
        if (!saved && clock.elapsed() > 9000) {
            save(a, out, "3-fight-alice");
            save(b, out, "4-fight-bob");
            saved = true;
        }
    }
    waitFor([&] { return b.core().frmNxtMatch(); }, 3000);
    save(a, out, "5-next-fight-panel");
    return 0;
}
