#pragma once

#include "Client/net/Ticker.h"

#include <QPointer>
#include <QTimer>

#include <array>

namespace gemvolt::shell {

/**
 * The client's four timers as QTimers of the main window, named as the
 * window's timers are (tmrFallGems, tmrUpdate, tmrCountDown, Timer1), each at
 * its starting interval and disabled. The window owns the timers; the ticker
 * only drives them.
 */
class WidgetTicker : public net::Ticker {
public:
    explicit WidgetTicker(QObject* owner);
    ~WidgetTicker() override;
    WidgetTicker(const WidgetTicker&) = delete;
    WidgetTicker& operator=(const WidgetTicker&) = delete;

    void setHandler(Handler handler) override { m_handler = std::move(handler); }
    void start(net::ClientTimer timer, int intervalMs) override;
    void stop(net::ClientTimer timer) override;
    bool isActive(net::ClientTimer timer) const override;
    int interval(net::ClientTimer timer) const override;

private:
    QTimer* at(net::ClientTimer timer) const {
        return m_timers[static_cast<std::size_t>(timer)].data();
    }

    Handler m_handler;
    std::array<QPointer<QTimer>, net::ClientTimerCount> m_timers;
};

} // namespace gemvolt::shell
