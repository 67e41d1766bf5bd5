#pragma once

#include "Common/transport/WireFormat.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace gemvolt::transport {

/** Body of HELLO: the client's first and only frame before WELCOME. */
struct Hello {
    std::uint16_t version = ProtocolVersion;
    std::string applicationId;
    std::string playerName;
};

/** Body of WELCOME: the identifier given to the client and the session's name. */
struct Welcome {
    std::int32_t playerId = 0;
    std::string sessionName;
};

/** Body of REFUSE. The reason is kept raw: a newer server may send reasons we do not know. */
struct Refuse {
    std::uint8_t reason = 0;
    std::string text;
};

// Encoders build a body (without the frame header). Strings are a u32 byte
// count and the bytes; a string too long for a frame is the caller's fault.
std::string encodeHello(const Hello& hello);
std::string encodeWelcome(const Welcome& welcome);
std::string encodeRefuse(const Refuse& refuse);
/** Body of PING and of PONG: the token. */
std::string encodeToken(std::uint32_t token);

// Decoders are all-or-nothing: a body shorter than its layout, a string
// running past the end or bytes left over make them return false, and the
// output is then left as it was.
bool decodeHello(std::string_view body, Hello& hello);
bool decodeWelcome(std::string_view body, Welcome& welcome);
bool decodeRefuse(std::string_view body, Refuse& refuse);
bool decodeToken(std::string_view body, std::uint32_t& token);
/** BYE has no body. */
inline bool decodeBye(std::string_view body) {
    return body.empty();
}

/**
 * The version field of a HELLO body, read alone, so that a HELLO of another
 * version is answered with "unsupported version" whatever follows it.
 */
bool peekHelloVersion(std::string_view body, std::uint16_t& version);

/** Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. */
bool isValidUtf8(std::string_view text);

/** A name HELLO may register: valid UTF-8 of at most MaxPlayerNameBytes bytes. */
bool isValidPlayerName(std::string_view name);

/**
 * A valid name as the server registers it: every control character (U+0000 to
 * U+001F, U+007F to U+009F) and every line or paragraph separator (U+2028,
 * U+2029) becomes '?', so a name is always one line of plain characters, in
 * other players' windows as in a log. Never longer than the name it is given.
 */
std::string registeredPlayerName(std::string_view name);

} // namespace gemvolt::transport
