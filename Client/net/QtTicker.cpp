#include "Client/net/QtTicker.h"

namespace gemvolt::net {

QtTicker::QtTicker(QObject* owner) {
    if (!owner) {
        m_keeper = std::make_unique<QObject>();
        owner = m_keeper.get();
    }
    constexpr const char* names[ClientTimerCount] = {"tmrFallGems", "tmrUpdate", "tmrCountDown",
                                                     "Timer1"};
    constexpr int intervals[ClientTimerCount] = {1000, 200, 1000, 100};
    for (int i = 0; i < ClientTimerCount; ++i) {
        auto* timer = new QTimer(owner);
        timer->setObjectName(QString::fromLatin1(names[i]));
        timer->setInterval(intervals[i]);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, timer, [this, i] {
            if (m_handler)
                m_handler(static_cast<ClientTimer>(i));
        });
        m_timers[static_cast<std::size_t>(i)] = timer;
    }
}

QtTicker::~QtTicker() {
    // An owner's timers may outlive the ticker by a moment: they must not tick into it.
    for (const QPointer<QTimer>& t : m_timers)
        if (t) {
            t->stop();
            QObject::disconnect(t, &QTimer::timeout, nullptr, nullptr);
        }
}

void QtTicker::start(ClientTimer timer, int intervalMs) {
    if (QTimer* t = at(timer))
        t->start(intervalMs);
}

void QtTicker::stop(ClientTimer timer) {
    if (QTimer* t = at(timer))
        t->stop();
}

bool QtTicker::isActive(ClientTimer timer) const {
    const QTimer* t = at(timer);
    return t && t->isActive();
}

int QtTicker::interval(ClientTimer timer) const {
    const QTimer* t = at(timer);
    return t ? t->interval() : 0;
}

} // namespace gemvolt::net
