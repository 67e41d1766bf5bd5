#pragma once

#include <QByteArray>

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace gemvolt::transport {

/**
 * What one end keeps of a version 2 session besides its connection, so that
 * a new connection can take over where a lost one stopped: the DATA frames
 * sent and not yet acknowledged, the counts of DATA frames each way, and (at
 * the server) the resume tokens that may still resume it.
 *
 * DATA frames are numbered 1, 2, 3, ... per direction by their order; the
 * numbers are never on the wire. The server's player table owns one of these
 * per player (it outlives the player's connections); the client's network
 * thread owns one per session.
 */
class ResumableSession {
public:
    /** keepLimit: bytes of unacknowledged frames kept at most (4 MiB at the server, 1 MiB at
     * the client). */
    explicit ResumableSession(qint64 keepLimit) : m_keepLimit(keepLimit) {}

    // ---- What this end sends -----------------------------------------------

    /** True when frames of this many bytes may be kept: within the limit, or nothing kept yet. */
    bool hasRoomFor(qint64 bytes) const {
        return m_keptBytes == 0 || m_keptBytes + bytes <= m_keepLimit;
    }
    /**
     * Numbers and keeps count whole DATA frames (frames holds nothing else)
     * until they are acknowledged. False, with nothing kept, when they would
     * pass the keep limit: the session cannot go on without losing them.
     */
    bool keep(const QByteArray& frames, std::uint32_t count);
    /**
     * The peer has received count frames: those are forgotten. A count below
     * an earlier one is ignored; false when it is above what was sent (a
     * broken peer).
     */
    bool acknowledge(std::uint32_t count);
    /** DATA frames sent in the session. */
    std::uint32_t sent() const { return m_sent; }
    /** DATA frames the peer has acknowledged. */
    std::uint32_t acknowledged() const { return m_acknowledged; }
    /** True when count is one the peer may claim on a resume: neither forgotten nor unsent. */
    bool canResumeFrom(std::uint32_t count) const {
        return count >= m_acknowledged && count <= m_sent;
    }
    /** The kept frames after the first count, in order (count as canResumeFrom allows). */
    QByteArray framesAfter(std::uint32_t count) const;
    qint64 keptBytes() const { return m_keptBytes; }
    qint64 keepLimit() const { return m_keepLimit; }
    void setKeepLimit(qint64 bytes) { m_keepLimit = bytes; }

    // ---- What this end receives --------------------------------------------

    /** One more DATA frame arrived, of this many bytes. */
    void countReceived(std::size_t bytes) {
        ++m_received;
        m_receivedBytesUnacknowledged += bytes;
    }
    /** Bytes of the frames received since the last acknowledgement. */
    std::size_t unacknowledgedReceivedBytes() const { return m_receivedBytesUnacknowledged; }
    std::uint32_t received() const { return m_received; }
    /** Frames received since the last ACK this end sent (or the count a WELCOME or HELLO
     * carried). */
    std::uint32_t unacknowledgedReceived() const { return m_received - m_receivedAcknowledged; }
    /** The count to send in an ACK (or a resuming HELLO or WELCOME), marked as told. */
    std::uint32_t takeAcknowledgement() {
        m_receivedAcknowledged = m_received;
        m_receivedBytesUnacknowledged = 0;
        return m_received;
    }

    // ---- Resume tokens (kept by the server) ---------------------------------

    /**
     * The token the last WELCOME carried, and the one it replaced. The
     * replaced one still resumes until the client has sent a frame on the
     * connection whose WELCOME carried its successor (see confirmToken), so a
     * WELCOME lost in a second cut does not lose the session.
     */
    const std::string& token() const { return m_token; }
    /** A new token for a WELCOME; resumedWith is the token the HELLO carried ("" for a new
     * session). */
    void replaceToken(std::string next, std::string_view resumedWith);
    /** The client spoke on the connection of the latest WELCOME: older tokens no longer resume. */
    void confirmToken() { m_previousToken.clear(); }
    /** True when token resumes this session (compared in constant time). */
    bool resumesWith(std::string_view token) const;

private:
    // A run of frames as it was sent (one send of the application or one batch
    // to every player): shared with the socket's buffer rather than copied.
    struct Chunk {
        QByteArray bytes;
        std::uint32_t first = 0; // number of its first frame
        std::uint32_t count = 0;
    };

    qint64 m_keepLimit;
    qint64 m_keptBytes = 0;
    std::deque<Chunk> m_kept;
    std::uint32_t m_sent = 0;
    std::uint32_t m_acknowledged = 0;
    std::uint32_t m_received = 0;
    std::uint32_t m_receivedAcknowledged = 0;
    std::size_t m_receivedBytesUnacknowledged = 0;
    std::string m_token;
    std::string m_previousToken;
};

} // namespace gemvolt::transport
