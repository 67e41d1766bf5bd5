#pragma once

#include "Common/transport/WireFormat.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace gemvolt::transport {

/**
 * Body of HELLO: the client's first and only frame before WELCOME. The resume
 * token and the received count are on the wire from version 2 on.
 */
struct Hello {
    std::uint16_t version = ProtocolVersion;
    std::string applicationId;
    std::string playerName;
    /** The token of the last WELCOME of the session to resume; empty for a new session. */
    std::string resumeToken{};
    /** DATA frames received in the session to resume (0 for a new one). */
    std::uint32_t receivedCount = 0;
};

/**
 * Body of WELCOME: the identifier given to the client and the session's name;
 * in version 2 also the next resume token and the DATA frames the server has
 * received in the session. Which layout a body has is the HELLO's version.
 */
struct Welcome {
    std::int32_t playerId = 0;
    std::string sessionName;
    std::uint16_t version = ProtocolVersion;
    std::string resumeToken{};
    std::uint32_t receivedCount = 0;
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
/** Body of PING and of PONG (the token), and of ACK (the count): one u32. */
std::string encodeToken(std::uint32_t token);

// Decoders are all-or-nothing: a body shorter than its layout, a string
// running past the end or bytes left over make them return false, and the
// output is then left as it was.
bool decodeHello(std::string_view body, Hello& hello);
/** version is the one the client's HELLO named: it picks the layout. */
bool decodeWelcome(std::string_view body, Welcome& welcome,
                   std::uint16_t version = ProtocolVersion);
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

/** A resume token as a WELCOME must carry it: ResumeTokenLength lowercase hex digits. */
bool isWellFormedResumeToken(std::string_view token);

/** Equal tokens, in a time that does not depend on where they differ. */
bool sameResumeToken(std::string_view a, std::string_view b);

/**
 * A fresh resume token: 128 bits from the operating system's random source,
 * as lowercase hex. Never reused: guessing one is as hard as guessing the bits.
 */
std::string newResumeToken();

/**
 * A valid name as the server registers it: every control character (U+0000 to
 * U+001F, U+007F to U+009F) and every line or paragraph separator (U+2028,
 * U+2029) becomes '?', so a name is always one line of plain characters, in
 * other players' windows as in a log. Never longer than the name it is given.
 */
std::string registeredPlayerName(std::string_view name);

} // namespace gemvolt::transport
