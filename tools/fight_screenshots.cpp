// Two clients fight through a real server inside this process, under the real
// timers, and the windows are saved as pictures at each stage of a fight:
//   fight_screenshots <output folder>
// Used by scripts/screenshot-fight when no server program is built.
#include "Client/net/HeadlessClient.h"
#include "support/TwoWindows.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include <cstdio>

using namespace gemvolt;

namespace {

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

    testing::TwoWindows fight;
    shell::FrmMain& a = fight.a;
    shell::FrmMain& b = fight.b;
    if (!fight.startUp())
        return 1;
    a.move(0, 0);
    b.move(a.width() + 10, 0);
    save(a, out, "1-before-first-fight");

    fight.pressReady();
    testing::waitFor([&] { return a.core().lblCountIn() == "2"; }, 5000);
    save(a, out, "2-count-down");
    if (!fight.waitForFight())
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
    testing::waitFor([&] { return b.core().frmNxtMatch(); }, 3000);
    save(a, out, "5-next-fight-panel");
    return 0;
}
