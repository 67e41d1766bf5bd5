#pragma once

#include "Client/net/Ticker.h"

#include <QPointer>
#include <QTimer>

#include <array>
#include <memory>

namespace gemvolt::net {

/**
 * The client's four timers as QTimers on the thread that made the ticker,
 * named as the main window's timers are (tmrFallGems, tmrUpdate, tmrCountDown,
 * Timer1), each at its starting interval and stopped. Given an owner (the main
 * window), the timers are its children, found by name like its widgets, and
 * may outlive the ticker by a moment; without one the ticker keeps them.
 */
class QtTicker : public Ticker {
public:
    explicit QtTicker(QObject* owner = nullptr);
    ~QtTicker() override;
    QtTicker(const QtTicker&) = delete;
    QtTicker& operator=(const QtTicker&) = delete;

    void setHandler(Handler handler) override { m_handler = std::move(handler); }
    void start(ClientTimer timer, int intervalMs) override;
    void stop(ClientTimer timer) override;
    bool isActive(ClientTimer timer) const override;
    int interval(ClientTimer timer) const override;

private:
    QTimer* at(ClientTimer timer) const { return m_timers[static_cast<std::size_t>(timer)].data(); }

    Handler m_handler;
    std::unique_ptr<QObject> m_keeper; ///< the timers' parent when no owner was given
    std::array<QPointer<QTimer>, ClientTimerCount> m_timers;
};

} // namespace gemvolt::net
