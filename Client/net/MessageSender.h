#pragma once

#include "Common/MessageBuffer.h"

namespace gemvolt::net {

/** Where the builders put their bytes: the session, or a recorder in tests. */
class MessageSender {
public:
    virtual ~MessageSender() = default;
    /** Send one whole message to the server; false when nothing could be sent. */
    virtual bool sendMessage(common::ByteView message) = 0;
};

} // namespace gemvolt::net
