#include "Common/transport/Timings.h"

#include <algorithm>

namespace gemvolt::transport {

std::chrono::milliseconds Timings::checkInterval() const {
    return std::min(restingCheckInterval(), std::max(std::chrono::milliseconds(1), ackDelay / 2));
}

std::chrono::milliseconds Timings::restingCheckInterval() const {
    const auto shortest = std::min({handshakeTimeout, pingAfterIdle, lostAfterSilence});
    return std::max(std::chrono::milliseconds(1), shortest / 10);
}

} // namespace gemvolt::transport
