#pragma once

#include "Client/battle/GameCore.h"
#include "Client/shell/FrmMain.h"
#include "support/LocalServer.h"
#include "support/ScriptedDialogs.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

#include <functional>

namespace gemvolt::testing {

/** Runs the event loop until done() holds or timeoutMs passes; whether it holds. */
inline bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QTest::qWait(20);
    return done();
}

/**
 * Two client main windows, "Alice" and "Bob", on a real server inside this
 * process, under the real timers: for tools that watch or time a whole fight.
 */
struct TwoWindows {
    TwoWindows() {
        aliceDialogs.answers = {server.address(), "Alice"};
        bobDialogs.answers = {server.address(), "Bob"};
    }

    /** Starts both programs and waits until both are in and the next-fight panel is up. */
    bool startUp() {
        return a.startUp() && b.startUp() &&
               waitFor(
                   [this] {
                       return a.core().frmNxtMatch() && a.core().playerTable().rowCount() == 2 &&
                              b.core().playerTable().rowCount() == 2;
                   },
                   5000);
    }

    /** Both press Ready. */
    void pressReady() {
        a.findChild<QPushButton*>("RdyButton")->click();
        b.findChild<QPushButton*>("RdyButton")->click();
    }

    /** Waits until the count-down is over and both pairs fall. */
    bool waitForFight() {
        return waitFor([this] { return a.core().tmrFallGems() && b.core().tmrFallGems(); }, 6000);
    }

    LocalServer server;
    ScriptedDialogs aliceDialogs;
    ScriptedDialogs bobDialogs;
    shell::FrmMain a{aliceDialogs};
    shell::FrmMain b{bobDialogs};
};

} // namespace gemvolt::testing
