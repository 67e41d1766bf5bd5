#pragma once

#include "Client/net/Ticker.h"

#include <QTimer>

#include <array>

namespace gemvolt::net {

/** The client's timers as real QTimers on the thread that made the ticker. */
class QtTicker : public Ticker {
public:
    QtTicker();
    void setHandler(Handler handler) override { m_handler = std::move(handler); }
    void start(ClientTimer timer, int intervalMs) override;
    void stop(ClientTimer timer) override;
    bool isActive(ClientTimer timer) const override;
    int interval(ClientTimer timer) const override;

private:
    Handler m_handler;
    std::array<QTimer, ClientTimerCount> m_timers;
};

} // namespace gemvolt::net
