#include "FakeServerTransport.h"

#include <stdexcept>

namespace gemvolt::testing {

bool FakeServerTransport::host(int maxPlayers, std::uint16_t port) {
    if (m_failNumber != 0) {
        return false;
    }
    hostedLimit = maxPlayers;
    hostedPort = port;
    return true;
}

void FakeServerTransport::sendToAll(common::ByteView message) {
    sends.emplace_back(message.begin(), message.end());
}

std::string FakeServerTransport::playerName(std::int32_t playerId) const {
    auto it = names.find(playerId);
    return it == names.end() ? std::string() : it->second;
}

void FakeServerTransport::failHosting(int number, std::string text) {
    m_failNumber = number;
    m_failText = std::move(text);
}

std::vector<common::AnyMessage> FakeServerTransport::decodedSends() const {
    std::vector<common::AnyMessage> out;
    for (const common::Bytes& bytes : sends) {
        auto decoded = common::decodeMessage(common::ByteView(bytes.data(), bytes.size()),
                                             common::Direction::ServerToClient);
        if (!decoded) {
            throw std::runtime_error("the server sent a message it could not read back: " +
                                     decoded.reason());
        }
        out.push_back(std::move(decoded).value());
    }
    return out;
}

std::vector<common::MsgType> FakeServerTransport::sentTypes() const {
    std::vector<common::MsgType> out;
    for (const common::Bytes& bytes : sends) {
        out.push_back(static_cast<common::MsgType>(bytes.at(0)));
    }
    return out;
}

} // namespace gemvolt::testing
