#pragma once

namespace gemvolt::board {

/**
 * The animation pause. The shell sleeps for the given time on purpose (nothing
 * else runs during a resolution); the core asks for the repaint through
 * DrawPort::repaint in the order each procedure needs. Tests record the calls
 * instead of sleeping; the benchmark leaves the port out (zero-length pauses).
 */
class PausePort {
public:
    virtual ~PausePort() = default;
    /** Block for this many milliseconds (75 for every animated gem). */
    virtual void pause(int milliseconds) = 0;
};

} // namespace gemvolt::board
