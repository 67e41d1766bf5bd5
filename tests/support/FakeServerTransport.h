#pragma once

#include "Common/MessageCodec.h"
#include "Server/ServerTransport.h"

#include <map>
#include <string>
#include <vector>

namespace gemvolt::testing {

/**
 * A server transport without sockets: records every send to all and every
 * closed player, answers names from a table, and can be told to fail hosting.
 */
class FakeServerTransport : public server::ServerTransport {
public:
    bool host(int maxPlayers, std::uint16_t port) override;
    int hostErrorNumber() const override { return m_failNumber; }
    std::string hostErrorText() const override { return m_failText; }
    void sendToAll(common::ByteView message) override;
    void closePlayer(std::int32_t playerId) override {
        closed.push_back(playerId);
        sendsBeforeClose.push_back(sends.size());
    }
    std::string playerName(std::int32_t playerId) const override;
    void close() override { ++closeCount; }

    /** Makes the next host() fail with this number and text. */
    void failHosting(int number, std::string text);

    /** The sends decoded as the server's messages; a send that does not decode fails the test. */
    std::vector<common::AnyMessage> decodedSends() const;
    /** The type bytes of the sends, in order. */
    std::vector<common::MsgType> sentTypes() const;
    void clearSends() { sends.clear(); }

    std::vector<common::Bytes> sends;
    std::vector<std::int32_t> closed;
    /** How many sends had been made when each player in `closed` was closed. */
    std::vector<std::size_t> sendsBeforeClose;
    std::map<std::int32_t, std::string> names;
    int hostedLimit = 0;
    std::uint16_t hostedPort = 0;
    int closeCount = 0;

private:
    int m_failNumber = 0;
    std::string m_failText;
};

} // namespace gemvolt::testing
