// From an arrow key to the moved pair on the screen: two client windows and a
// server in this one process, a fight running with the music on. Each sample
// posts a Left or Right key to Alice's window, as the window system would, and
// stops the clock when her play area has finished painting her own board with
// cells that differ from before the key (the opponent's board changes when the
// server relays, which is another clock). Keys that move nothing (the pair at a wall) are left
// out. Prints the count, median, 99th percentile and worst case in ms, and the
// process's CPU time over the run:
//   input_latency [samples] [seconds]       (default 300 samples, at most 90 s)
// Target: the 99th percentile within one 60 Hz frame, under 16 ms.
#include "Client/net/HeadlessClient.h"
#include "Client/shell/BoardView.h"
#include "support/TwoWindows.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

using namespace gemvolt;

namespace {

double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

/** Stops a clock when the play area has painted a change of its cells. */
class PaintClock : public QObject {
public:
    explicit PaintClock(shell::BoardView& view) : m_view(view) { view.installEventFilter(this); }

    /** Notes the cells of the player's own board and starts the clock. */
    void arm() {
        for (int k = 0; k < 90; ++k)
            m_before[static_cast<std::size_t>(k)] = m_view.cell(0, k);
        m_armed = true;
        m_clock.start();
    }
    bool armed() const { return m_armed; }
    void disarm() { m_armed = false; }
    /** The time from arm() to the end of the painting, in ms. */
    double lastMs() const { return m_lastMs; }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &m_view || event->type() != QEvent::Paint || m_inside)
            return false;
        // Paint first, inside the same paint cycle, so the clock reads after the pixels are drawn.
        m_inside = true;
        QCoreApplication::sendEvent(&m_view, event);
        m_inside = false;
        if (m_armed && changed()) {
            m_lastMs = static_cast<double>(m_clock.nsecsElapsed()) / 1e6;
            m_armed = false;
        }
        return true;
    }

    /** Some cell of the own board differs from the ones noted at arm(). */
    bool changed() const {
        for (int k = 0; k < 90; ++k)
            if (!(m_view.cell(0, k) == m_before[static_cast<std::size_t>(k)]))
                return true;
        return false;
    }

private:
    shell::BoardView& m_view;
    std::array<shell::BoardView::Cell, 90> m_before{};
    QElapsedTimer m_clock;
    bool m_armed = false;
    bool m_inside = false;
    double m_lastMs = 0;
};

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int wanted = std::clamp(argc > 1 ? std::atoi(argv[1]) : 300, 1, 5000);
    const int seconds = std::clamp(argc > 2 ? std::atoi(argv[2]) : 90, 5, 600);

    testing::TwoWindows two;
    if (!two.startUp())
        return 1;
    two.a.show();
    two.b.show();
    two.pressReady();
    if (!two.waitForFight())
        return 1;

    PaintClock clock(*two.a.boardView());
    std::vector<double> samples;
    int unmoved = 0;
    int fights = 1;
    QElapsedTimer total;
    total.start();
    const double cpu0 = cpuMs();
    for (int n = 0; static_cast<int>(samples.size()) < wanted && total.elapsed() < seconds * 1000;
         ++n) {
        if (!two.a.core().tmrFallGems()) {
            // The fight is over: the next one, once both are ready again.
            if (!testing::waitFor([&] { return two.a.core().frmNxtMatch(); }, 5000))
                break;
            two.pressReady();
            if (!two.waitForFight())
                break;
            ++fights;
        }
        // Bob plays too, so both boards change as in a real fight.
        two.b.client().KeyDown(n % 3 == 0 ? board::KeyCodeLeft : board::KeyCodeRight);
        const Qt::Key key = (n / 3) % 2 == 0 ? Qt::Key_Left : Qt::Key_Right;
        clock.arm();
        QCoreApplication::postEvent(two.a.boardView(), new QKeyEvent(QEvent::KeyPress, key, {}));
        QCoreApplication::postEvent(two.a.boardView(), new QKeyEvent(QEvent::KeyRelease, key, {}));
        // About 12 keys a second, as people press them.
        QTest::qWait(80);
        if (clock.armed() && clock.changed()) {
            // Moved but not yet painted: a slow sample, not a lost one.
            testing::waitFor([&] { return !clock.armed(); }, 1000);
        }
        if (clock.armed()) {
            clock.disarm();
            ++unmoved;
        } else {
            samples.push_back(clock.lastMs());
        }
    }
    const double cpu = 100.0 * (cpuMs() - cpu0) / static_cast<double>(total.elapsed());
    std::printf("samples %zu (keys that moved nothing: %d, fights: %d)\n", samples.size(), unmoved,
                fights);
    std::printf("input-to-paint ms: median %.2f  p99 %.2f  max %.2f\n", percentile(samples, 0.5),
                percentile(samples, 0.99), percentile(samples, 1.0));
    std::printf("process cpu %.2f %% of a core (two clients and the server)\n", cpu);
    return samples.empty() ? 1 : 0;
}
