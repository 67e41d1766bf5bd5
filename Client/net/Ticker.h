#pragma once

#include <functional>

namespace gemvolt::net {

/** The client's four timers. */
enum class ClientTimer {
    FallGems,  ///< tmrFallGems, 1000 ms
    Update,    ///< tmrUpdate, 200 ms
    CountDown, ///< tmrCountDown, 1000 ms
    Exit,      ///< Timer1, 100 ms doubling on every tick
};

inline constexpr int ClientTimerCount = 4;

/**
 * Runs the client's timers. The client starts and stops them; the ticker
 * calls the handler on every tick, on the client's thread. Starting a timer
 * that runs restarts it with the new interval, as a QTimer does. QtTicker
 * uses real timers; ManualTicker lets tests and simulations move time by hand.
 */
class Ticker {
public:
    using Handler = std::function<void(ClientTimer)>;

    virtual ~Ticker() = default;
    /** The function every tick calls (set once by the owner of the timers). */
    virtual void setHandler(Handler handler) = 0;
    virtual void start(ClientTimer timer, int intervalMs) = 0;
    virtual void stop(ClientTimer timer) = 0;
    virtual bool isActive(ClientTimer timer) const = 0;
    virtual int interval(ClientTimer timer) const = 0;
};

} // namespace gemvolt::net
