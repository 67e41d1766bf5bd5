#include "Common/MessageCodec.h"

#include <array>
#include <cstddef>
#include <string>

namespace gemvolt::common {

namespace {

DecodeFailure failure(DecodeError error, ByteView bytes, const std::string& reason) {
    return DecodeFailure{error, 0, bytes.empty() ? -1 : bytes[0], reason};
}

template <class V> using Decoder = DecodeResult<V> (*)(ByteView);

template <class V, class M> DecodeResult<V> decodeInto(ByteView bytes) {
    auto result = decode<M>(bytes);
    if (!result) {
        return result.failure();
    }
    return V(std::move(result).value());
}

// Per type byte, the decoder of the one form of V that travels in direction D;
// none where no such form exists. The catalogue guarantees at most one.
template <class V, Direction D, class... Ms>
constexpr std::array<Decoder<V>, 256> decoders(std::variant<Ms...>*) {
    std::array<Decoder<V>, 256> table{};
    ((travelsIn(Ms::Travel, D)
          ? void(table[static_cast<std::size_t>(Ms::Type)] = &decodeInto<V, Ms>)
          : void()),
     ...);
    return table;
}

// The type bytes the catalogue uses in either direction.
template <class... Ms> constexpr std::array<bool, 256> knownTypes(std::variant<Ms...>*) {
    std::array<bool, 256> known{};
    ((known[static_cast<std::size_t>(Ms::Type)] = true), ...);
    return known;
}

template <class V, Direction D> DecodeResult<V> decodeTravelling(ByteView bytes) {
    static constexpr auto Table = decoders<V, D>(static_cast<V*>(nullptr));
    static constexpr auto Known = knownTypes(static_cast<AnyMessage*>(nullptr));
    if (bytes.empty()) {
        return failure(DecodeError::Empty, bytes, "message: no bytes, so no type");
    }
    if (const Decoder<V> decoder = Table[bytes[0]]) {
        return decoder(bytes);
    }
    if (!Known[bytes[0]]) {
        return failure(DecodeError::UnknownType, bytes,
                       "message: unknown type " + std::to_string(bytes[0]));
    }
    return failure(DecodeError::WrongDirection, bytes,
                   "message: type " + std::to_string(bytes[0]) + " is never sent by " +
                       (D == Direction::ClientToServer ? "a client" : "the server"));
}

} // namespace

DecodeFailure detail::notOfType(ByteView bytes, MsgType type, const char* message) {
    if (bytes.empty()) {
        return failure(DecodeError::Empty, bytes, std::string(message) + ": no bytes");
    }
    return failure(DecodeError::WrongType, bytes,
                   std::string(message) + ": type byte " + std::to_string(bytes[0]) + " where " +
                       std::to_string(static_cast<int>(type)) + " was expected");
}

DecodeResult<AnyMessage> decodeMessage(ByteView bytes, Direction direction) {
    return direction == Direction::ClientToServer
               ? decodeTravelling<AnyMessage, Direction::ClientToServer>(bytes)
               : decodeTravelling<AnyMessage, Direction::ServerToClient>(bytes);
}

DecodeResult<MessageFromClient> decodeFromClient(ByteView bytes) {
    return decodeTravelling<MessageFromClient, Direction::ClientToServer>(bytes);
}

DecodeResult<MessageFromServer> decodeFromServer(ByteView bytes) {
    return decodeTravelling<MessageFromServer, Direction::ServerToClient>(bytes);
}

} // namespace gemvolt::common
