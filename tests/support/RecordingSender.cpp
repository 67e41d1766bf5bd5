#include "tests/support/RecordingSender.h"

#include "Common/MessageCodec.h"

namespace gemvolt::testing {

bool RecordingSender::sendMessage(common::ByteView message) {
    auto decoded = common::decodeMessage(message, common::Direction::ClientToServer);
    if (!decoded.ok()) {
        ++undecodable;
        return false;
    }
    sent.push_back(decoded.value());
    return true;
}

} // namespace gemvolt::testing
