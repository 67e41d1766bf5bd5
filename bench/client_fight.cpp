// CPU of the client windows while idle and during a fight: two clients and a
// server in this one process, under the real timers and the real 75 ms pauses.
// Prints "idle <pct>" and "fight <pct>", the process's CPU as a percentage of
// one core, each over its own stretch of wall time: client_fight [seconds].
#include "Client/net/HeadlessClient.h"
#include "support/TwoWindows.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <sys/resource.h>

#include <cstdio>
#include <functional>

using namespace gemvolt;

namespace {

double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

/** Run the event loop for ms, calling step every 250 ms; the CPU share over that time. */
double measure(int ms, const std::function<void()>& step) {
    QElapsedTimer clock;
    clock.start();
    const double cpu0 = cpuMs();
    while (clock.elapsed() < ms) {
        if (step)
            step();
        QTest::qWait(250);
    }
    return 100.0 * (cpuMs() - cpu0) / static_cast<double>(clock.elapsed());
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 15;

    testing::TwoWindows two;
    shell::FrmMain& a = two.a;
    shell::FrmMain& b = two.b;
    if (!two.startUp())
        return 1;
    const double idle = measure(seconds * 1000, {});

    two.pressReady();
    if (!two.waitForFight())
        return 1;
    int step = 0;
    const double fight = measure(seconds * 1000, [&] {
        // Both move now and then, as people do; nobody hurries the pairs down.
        const int keys[] = {37, 38, 39, 37, 39, 38};
        a.client().KeyDown(keys[step % 6]);
        b.client().KeyDown(keys[(step + 3) % 6]);
        ++step;
    });
    std::printf("idle %.2f\nfight %.2f\n", idle, fight);
    return 0;
}
