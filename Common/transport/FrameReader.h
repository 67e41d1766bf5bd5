#pragma once

#include "Common/transport/WireFormat.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace gemvolt::transport {

/** One frame taken from the stream; body points into the reader's buffer. */
struct Frame {
    FrameKind kind = FrameKind::Data;
    std::string_view body;
};

/** Why a stream stopped being readable. */
enum class FrameError {
    None,
    /** A length field of 0 or above the reader's limit (MaxFrameLength unless lowered). */
    BadLength,
    /** A kind byte that no protocol version knows. */
    UnknownKind,
};

/**
 * Cuts a byte stream into frames as the bytes arrive, in pieces of any size.
 *
 * A bad length is rejected as soon as its four bytes are in, and an unknown
 * kind as soon as its byte is in, so a peer cannot make the reader hold more
 * than one legal frame. Once an error is found the reader stays in it: the
 * connection is over and nothing after the fault is trusted.
 */
class FrameReader {
public:
    enum class Result {
        /** No whole frame yet: feed more bytes. */
        NeedMore,
        /** A frame was stored in the argument of next(). */
        FrameReady,
        /** The stream broke the framing rules; see error(). */
        Error,
    };

    /** Adds bytes from the stream. Invalidates the bodies of earlier frames. */
    void append(const char* data, std::size_t size);
    void append(std::string_view data) { append(data.data(), data.size()); }

    /**
     * Room for size more bytes at the end of the buffer, for a read straight
     * from a socket; follow with commit() of the count actually written.
     * Invalidates the bodies of earlier frames.
     */
    char* prepare(std::size_t size);
    /** Keeps written bytes of the room handed out by prepare(). */
    void commit(std::size_t written);

    /** Takes the next whole frame, if there is one. */
    Result next(Frame& frame);

    /**
     * Lowers (or restores) the largest length field accepted, for a stage of the
     * connection where only short frames are legal: a longer one is an error as
     * soon as its header is in, before any of its body is held. At most
     * MaxFrameLength; applies to the frames not yet taken.
     */
    void setMaxLength(std::uint32_t length);
    std::uint32_t maxLength() const { return m_maxLength; }

    /** The error that stopped the stream, or None. */
    FrameError error() const { return m_error; }

    /** Bytes received but not yet handed out as frames. */
    std::size_t pendingBytes() const { return m_buffer.size() - m_start; }

    /** Forgets everything, error and lowered limit included, for a new connection. */
    void reset();

private:
    void compact();

    std::string m_buffer;
    std::size_t m_start = 0;
    std::size_t m_prepared = 0;
    std::uint32_t m_maxLength = MaxFrameLength;
    FrameError m_error = FrameError::None;
};

/** A short English description of a framing error, for logs and reasons. */
const char* describe(FrameError error);

} // namespace gemvolt::transport
