#pragma once

#include "Client/net/MessageSender.h"
#include "Common/Messages.h"

#include <optional>
#include <vector>

namespace gemvolt::testing {

/** Keeps every message the client sends, decoded in the client's direction. */
class RecordingSender : public net::MessageSender {
public:
    std::vector<common::AnyMessage> sent;
    /** Bytes that did not decode as a client message (a builder fault). */
    int undecodable = 0;

    bool sendMessage(common::ByteView message) override;

    /** Messages of type M, in order. */
    template <class M> std::vector<M> of() const {
        std::vector<M> out;
        for (const common::AnyMessage& m : sent)
            if (const M* p = std::get_if<M>(&m))
                out.push_back(*p);
        return out;
    }
    void clear() { sent.clear(); }
};

} // namespace gemvolt::testing
