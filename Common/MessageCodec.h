#pragma once

#include "Common/DecodeResult.h"
#include "Common/MessageBuffer.h"
#include "Common/Messages.h"
#include "Common/WireReader.h"
#include "Common/WireScanner.h"
#include "Common/WireWriter.h"

#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <variant>

namespace gemvolt::common {

/**
 * Encoding and decoding of the message catalogue, both driven by each
 * message's fields().
 *
 * encode() writes the type byte and the fields in layout order. decode<M>()
 * accepts exactly one whole message of type M: a message shorter than its
 * layout, a string running past the end, a wrong type byte, a negative or
 * impossible count, or bytes left over are rejected whole with the reason.
 * Nothing is read outside the bytes given, and no list is reserved before the
 * bytes that remain are known to be able to hold it.
 *
 * For every message decode<M>() accepts, encode() of the result gives back
 * the very same bytes; that is what lets the server relay a fighter's board
 * byte for byte.
 */

/** A message struct of the catalogue (as opposed to a variant of them). */
template <class M>
concept CatalogueMessage = requires {
    { M::Type } -> std::convertible_to<MsgType>;
    { M::Name } -> std::convertible_to<const char*>;
    M::fields();
};

/**
 * The bytes of `message`. A roster outside 1 to 32768 entries, or standings
 * beyond 32767 rows, throw std::length_error.
 */
template <CatalogueMessage M> Bytes encode(const M& message) {
    WireWriter writer(static_cast<std::uint8_t>(M::Type), M::Name);
    writer.record(message);
    return writer.take();
}

/** The bytes of whichever message the variant holds. */
template <CatalogueMessage... Ms> Bytes encode(const std::variant<Ms...>& message) {
    return std::visit([](const auto& m) { return encode(m); }, message);
}

namespace detail {
/** The rejection of bytes that are empty or start with another type byte than `type`. */
DecodeFailure notOfType(ByteView bytes, MsgType type, const char* message);
} // namespace detail

/**
 * Decodes `bytes` as one message of type M (any of the structs of the
 * catalogue; the type byte included).
 */
template <CatalogueMessage M> DecodeResult<M> decode(ByteView bytes) {
    if (bytes.empty() || bytes[0] != static_cast<std::uint8_t>(M::Type)) {
        return detail::notOfType(bytes, M::Type, M::Name);
    }
    WireReader reader(bytes, M::Name);
    (void)reader.raw(1, "the type byte");
    M message{};
    reader.record(message);
    if (!reader.failed() && reader.remaining() != 0) {
        reader.fail(DecodeError::TrailingBytes, reader.position(),
                    std::to_string(reader.remaining()) + " bytes left over after the last field");
    }
    if (reader.failed()) {
        return reader.takeFailure();
    }
    return message;
}

namespace detail {
// Walks bytes as one message of type M, handing each top-level field to
// `visit` right after it was stepped over; true when decode<M>() would accept them.
template <CatalogueMessage M, class Visit> bool scanAs(ByteView bytes, Visit&& visit) {
    if (bytes.empty() || bytes[0] != static_cast<std::uint8_t>(M::Type)) {
        return false;
    }
    WireScanner scanner(bytes);
    scanner.skip(1);
    static constexpr auto Fields = M::fields();
    std::apply([&](const auto&... f) { ((scanner.field(f), visit(scanner, f)), ...); }, Fields);
    return !scanner.failed() && scanner.remaining() == 0;
}
} // namespace detail

/**
 * Whether decode<M>() would accept `bytes`, found without building the
 * message: no text is copied and no list is made. For a message that is only
 * passed on.
 */
template <CatalogueMessage M> bool conforms(ByteView bytes) {
    return detail::scanAs<M>(bytes, [](const WireScanner&, const auto&) {});
}

/**
 * The text of one of M's own number fields (`&MsgBoardState::Board`), read in
 * place, when decode<M>() would accept `bytes`; nothing when it would not.
 * The view points into `bytes`; as with conforms(), nothing is built.
 */
template <CatalogueMessage M>
std::optional<std::string_view> checkedNumber(ByteView bytes, NumberField M::*member) {
    std::string_view found;
    const bool whole = detail::scanAs<M>(bytes, [&](const WireScanner& scanner, const auto& f) {
        if constexpr (std::decay_t<decltype(f)>::Kind == WireKind::Number &&
                      std::is_same_v<typename std::decay_t<decltype(f)>::Record, M>) {
            if (f.Member == member && !scanner.failed()) {
                found = scanner.lastText();
            }
        }
    });
    if (!whole) {
        return std::nullopt;
    }
    return found;
}

/**
 * Decodes any message travelling in `direction`, choosing the layout by the
 * first byte. From a client, types 2 and 4 are rejected (WrongDirection) and
 * types 5, 8 and 11 are read in their client form; from the server, in their
 * ...ToAll form. messageType() of the result tells which message it was; a
 * rejection carries the type byte when there was one.
 */
DecodeResult<AnyMessage> decodeMessage(ByteView bytes, Direction direction);

/** decodeMessage() from a client, as only the forms a client sends. */
DecodeResult<MessageFromClient> decodeFromClient(ByteView bytes);

/** decodeMessage() from the server, as only the forms the server sends. */
DecodeResult<MessageFromServer> decodeFromServer(ByteView bytes);

} // namespace gemvolt::common
