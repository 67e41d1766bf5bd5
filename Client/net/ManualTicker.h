#pragma once

#include "Client/net/Ticker.h"

#include <array>
#include <cstdint>

namespace gemvolt::net {

/**
 * A ticker whose time moves only when told: advance(ms) fires every tick that
 * falls due, in time order (timers due at the same moment in the order of
 * ClientTimer), each at its own moment. A handler may start and stop timers;
 * a timer started during a tick counts its interval from that tick's moment.
 */
class ManualTicker : public Ticker {
public:
    void setHandler(Handler handler) override { m_handler = std::move(handler); }
    void start(ClientTimer timer, int intervalMs) override;
    void stop(ClientTimer timer) override;
    bool isActive(ClientTimer timer) const override { return slot(timer).active; }
    int interval(ClientTimer timer) const override { return slot(timer).interval; }

    /** Move the clock forward, firing what falls due. */
    void advance(std::int64_t milliseconds);
    /** Milliseconds since the ticker was made. */
    std::int64_t now() const { return m_now; }
    /** Ticks fired so far, per timer. */
    int ticks(ClientTimer timer) const { return slot(timer).ticks; }

private:
    struct Slot {
        bool active = false;
        int interval = 0;
        std::int64_t due = 0;
        int ticks = 0;
    };
    Slot& slot(ClientTimer t) { return m_slots[static_cast<std::size_t>(t)]; }
    const Slot& slot(ClientTimer t) const { return m_slots[static_cast<std::size_t>(t)]; }

    Handler m_handler;
    std::array<Slot, ClientTimerCount> m_slots{};
    std::int64_t m_now = 0;
};

} // namespace gemvolt::net
