#include "Client/shell/WidgetTicker.h"

namespace gemvolt::shell {

WidgetTicker::WidgetTicker(QObject* owner) {
    constexpr const char* names[net::ClientTimerCount] = {"tmrFallGems", "tmrUpdate",
                                                          "tmrCountDown", "Timer1"};
    constexpr int intervals[net::ClientTimerCount] = {1000, 200, 1000, 100};
    for (int i = 0; i < net::ClientTimerCount; ++i) {
        auto* timer = new QTimer(owner);
        timer->setObjectName(names[i]);
        timer->setInterval(intervals[i]);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, timer, [this, i] {
            if (m_handler)
                m_handler(static_cast<net::ClientTimer>(i));
        });
        m_timers[static_cast<std::size_t>(i)] = timer;
    }
}

WidgetTicker::~WidgetTicker() {
    // The timers belong to the window and may outlive the ticker by a moment.
    for (const QPointer<QTimer>& t : m_timers)
        if (t) {
            t->stop();
            QObject::disconnect(t, &QTimer::timeout, nullptr, nullptr);
        }
}

void WidgetTicker::start(net::ClientTimer timer, int intervalMs) {
    if (QTimer* t = at(timer))
        t->start(intervalMs);
}

void WidgetTicker::stop(net::ClientTimer timer) {
    if (QTimer* t = at(timer))
        t->stop();
}

bool WidgetTicker::isActive(net::ClientTimer timer) const {
    const QTimer* t = at(timer);
    return t && t->isActive();
}

int WidgetTicker::interval(net::ClientTimer timer) const {
    const QTimer* t = at(timer);
    return t ? t->interval() : 0;
}

} // namespace gemvolt::shell
