#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace gemvolt::transport {

/**
 * The first protocol version: no numbering, no resuming. A server still serves
 * it, and tools that speak the protocol by hand use it.
 */
inline constexpr std::uint16_t ProtocolVersion = 1;

/**
 * The version with resumable sessions (resume token and counts in HELLO and
 * WELCOME, ACK): what SessionClient speaks unless told otherwise.
 */
inline constexpr std::uint16_t ResumableProtocolVersion = 2;

/** True for the versions a server welcomes. */
constexpr bool isSupportedVersion(std::uint16_t version) {
    return version == ProtocolVersion || version == ResumableProtocolVersion;
}

/** Largest value of a frame's length field (kind byte plus body). */
inline constexpr std::uint32_t MaxFrameLength = 1048576;

/**
 * Largest length field accepted before WELCOME: a HELLO needs about 350 bytes,
 * so a stranger cannot make the server hold a large frame it has not agreed to.
 */
inline constexpr std::uint32_t MaxHandshakeFrameLength = 1024;

/** Bytes in front of every body: the u32 length and the u8 kind. */
inline constexpr std::size_t FrameHeaderSize = 5;

/** Largest body a frame can carry (the kind byte counts towards the length). */
inline constexpr std::size_t MaxFrameBody = MaxFrameLength - 1;

/** Longest player name HELLO may register, in UTF-8 bytes. */
inline constexpr std::size_t MaxPlayerNameBytes = 255;

/** The session's well-known TCP port. */
inline constexpr std::uint16_t DefaultPort = 4000;

/** The application identifier both programs present in the handshake. */
inline constexpr std::string_view ApplicationId = "{7E47E1EA-129D-4C01-8FE1-91DA4F6A6A65}";

/** The session name the server announces in WELCOME. */
inline constexpr std::string_view SessionName = "First DirectXPlay App (Messaging Program)";

/** What a frame carries; any other value of the kind byte ends the connection. */
enum class FrameKind : std::uint8_t {
    Hello = 1,
    Welcome = 2,
    Refuse = 3,
    Data = 4,
    Ping = 5,
    Pong = 6,
    Bye = 7,
    /** Version 2 only, after WELCOME: DATA frames received from the peer so far. */
    Ack = 8,
};

/** True for every kind of either version (whether it is legal where it comes is checked later). */
constexpr bool isKnownFrameKind(std::uint8_t kind) {
    return kind >= static_cast<std::uint8_t>(FrameKind::Hello) &&
           kind <= static_cast<std::uint8_t>(FrameKind::Ack);
}

/** Why the server turned a handshake down (the u8 of REFUSE). */
enum class RefuseReason : std::uint8_t {
    WrongApplication = 1,
    SessionFull = 2,
    UnsupportedVersion = 3,
    MalformedHandshake = 4,
    ShuttingDown = 5,
    /** The resume token is unknown, already replaced, or its session has ended. */
    UnknownSession = 6,
};

/** Characters of a resume token: 128 bits as lowercase hexadecimal digits. */
inline constexpr std::size_t ResumeTokenLength = 32;

/** Writes v as four little-endian bytes at out. */
inline void putU32(char* out, std::uint32_t v) {
    out[0] = static_cast<char>(v & 0xFF);
    out[1] = static_cast<char>((v >> 8) & 0xFF);
    out[2] = static_cast<char>((v >> 16) & 0xFF);
    out[3] = static_cast<char>((v >> 24) & 0xFF);
}

/** Reads four little-endian bytes at in. */
inline std::uint32_t getU32(const char* in) {
    const auto* p = reinterpret_cast<const unsigned char*>(in);
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

/**
 * Writes the five header bytes of a frame whose body has bodySize bytes.
 * The caller keeps bodySize within MaxFrameBody.
 */
inline void writeFrameHeader(char* out, FrameKind kind, std::size_t bodySize) {
    putU32(out, static_cast<std::uint32_t>(bodySize + 1));
    out[4] = static_cast<char>(kind);
}

/** Appends one whole frame (header and body) to out. body must fit MaxFrameBody. */
void appendFrame(std::string& out, FrameKind kind, std::string_view body);

/** One whole frame as bytes. body must fit MaxFrameBody. */
std::string encodeFrame(FrameKind kind, std::string_view body);

} // namespace gemvolt::transport
