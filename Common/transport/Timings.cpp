#include "Common/transport/Timings.h"

#include <algorithm>

namespace gemvolt::transport {

std::chrono::milliseconds Timings::checkInterval() const {
    const auto shortest = std::min({handshakeTimeout, pingAfterIdle, lostAfterSilence});
    return std::max(std::chrono::milliseconds(1), std::min(shortest / 10, ackDelay / 2));
}

} // namespace gemvolt::transport
