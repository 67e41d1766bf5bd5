#include "Client/net/ManualTicker.h"

#include <algorithm>

namespace gemvolt::net {

void ManualTicker::start(ClientTimer timer, int intervalMs) {
    Slot& s = slot(timer);
    s.active = true;
    s.interval = std::max(1, intervalMs);
    s.due = m_now + s.interval;
}

void ManualTicker::stop(ClientTimer timer) {
    slot(timer).active = false;
}

void ManualTicker::advance(std::int64_t milliseconds) {
    const std::int64_t target = m_now + std::max<std::int64_t>(0, milliseconds);
    for (;;) {
        int next = -1;
        for (int i = 0; i < ClientTimerCount; ++i) {
            const Slot& s = m_slots[static_cast<std::size_t>(i)];
            if (s.active && s.due <= target &&
                (next < 0 || s.due < m_slots[static_cast<std::size_t>(next)].due))
                next = i;
        }
        if (next < 0)
            break;
        Slot& s = m_slots[static_cast<std::size_t>(next)];
        m_now = s.due;
        s.due += s.interval;
        ++s.ticks;
        if (m_handler)
            m_handler(static_cast<ClientTimer>(next));
    }
    m_now = target;
}

} // namespace gemvolt::net
