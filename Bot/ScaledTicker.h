#pragma once

#include "Client/net/Ticker.h"

#include <memory>

namespace gemvolt::bot {

/**
 * Runs the client's timers through another ticker with the fall timer sped
 * up by a factor. Only the bot's own falling pair goes faster: the board
 * snapshots, the count-down and the exit keep their pace, so the other
 * clients see the same course of a fight.
 */
class ScaledTicker : public net::Ticker {
public:
    ScaledTicker(std::unique_ptr<net::Ticker> inner, double fallFactor);

    void setHandler(Handler handler) override { m_inner->setHandler(std::move(handler)); }
    void start(net::ClientTimer timer, int intervalMs) override;
    void stop(net::ClientTimer timer) override { m_inner->stop(timer); }
    bool isActive(net::ClientTimer timer) const override { return m_inner->isActive(timer); }
    /** The interval the client asked for (the exit timer doubles it on every tick). */
    int interval(net::ClientTimer timer) const override;

private:
    std::unique_ptr<net::Ticker> m_inner;
    double m_factor;
    int m_asked[net::ClientTimerCount] = {};
};

} // namespace gemvolt::bot
