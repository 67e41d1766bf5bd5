#include "Bot/ScaledTicker.h"

#include <algorithm>
#include <cmath>

namespace gemvolt::bot {

ScaledTicker::ScaledTicker(std::unique_ptr<net::Ticker> inner, double fallFactor)
    : m_inner(std::move(inner)), m_factor(fallFactor > 0 ? fallFactor : 1.0) {}

void ScaledTicker::start(net::ClientTimer timer, int intervalMs) {
    m_asked[static_cast<int>(timer)] = intervalMs;
    int actual = intervalMs;
    if (timer == net::ClientTimer::FallGems)
        actual = std::max(1, static_cast<int>(std::lround(intervalMs / m_factor)));
    m_inner->start(timer, actual);
}

int ScaledTicker::interval(net::ClientTimer timer) const {
    return m_asked[static_cast<int>(timer)];
}

} // namespace gemvolt::bot
