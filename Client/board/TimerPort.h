#pragma once

namespace gemvolt::board {

/** The game's timers whose enabled flags the core keeps. */
enum class Timer {
    FallGems,  ///< tmrFallGems, 1000 ms: the falling pair's tick
    Update,    ///< tmrUpdate, 200 ms: the board snapshot while fighting
    CountDown, ///< tmrCountDown, 1000 ms: the count before a fight (run by the network layer)
};

/**
 * Told whenever the core switches one of its timers on or off, so the shell can
 * start or stop the real timer. The core only keeps the flags; it never waits.
 */
class TimerPort {
public:
    virtual ~TimerPort() = default;
    /** The enabled flag of a timer has just changed to enabled. */
    virtual void timerChanged(Timer timer, bool enabled) = 0;
};

} // namespace gemvolt::board
