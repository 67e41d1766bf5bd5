#include "Client/net/QtTicker.h"

namespace gemvolt::net {

QtTicker::QtTicker() {
    for (int i = 0; i < ClientTimerCount; ++i) {
        QTimer& t = m_timers[static_cast<std::size_t>(i)];
        t.setTimerType(Qt::PreciseTimer);
        QObject::connect(&t, &QTimer::timeout, [this, i] {
            if (m_handler)
                m_handler(static_cast<ClientTimer>(i));
        });
    }
}

void QtTicker::start(ClientTimer timer, int intervalMs) {
    m_timers[static_cast<std::size_t>(timer)].start(intervalMs);
}

void QtTicker::stop(ClientTimer timer) {
    m_timers[static_cast<std::size_t>(timer)].stop();
}

bool QtTicker::isActive(ClientTimer timer) const {
    return m_timers[static_cast<std::size_t>(timer)].isActive();
}

int QtTicker::interval(ClientTimer timer) const {
    return m_timers[static_cast<std::size_t>(timer)].interval();
}

} // namespace gemvolt::net
