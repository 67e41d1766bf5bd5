#pragma once

#include "Common/MessageBuffer.h"
#include "Common/transport/FrameReader.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace gemvolt::bench {

/**
 * One plain client on the session transport over loopback, for load drivers
 * that run many of them on one thread: a non-blocking socket registered with
 * the driver's epoll, HELLO on connect, the player id from WELCOME, PING
 * answered with PONG, game messages in DATA frames both ways. What a received
 * DATA frame means is the driver's: it derives from this and takes onData.
 *
 * A resumable client speaks the version with resumable sessions: it counts
 * DATA both ways, acknowledges what it received, keeps what it sent until the
 * server acknowledges it, and when its connection is lost without BYE or
 * REFUSE it connects again with its resume token and received count and sends
 * again what the server's WELCOME says it missed, with the same waits between
 * tries as the program's own client. Its driver calls service() often.
 */
class ProtocolClient {
public:
    /** index is the driver's own number for this client (names, stamps). */
    explicit ProtocolClient(std::uint32_t index, bool resumable = false)
        : m_index(index), m_resumable(resumable) {}
    /** Closes the socket if it is still open. */
    virtual ~ProtocolClient();
    ProtocolClient(const ProtocolClient&) = delete;
    ProtocolClient& operator=(const ProtocolClient&) = delete;

    /** Connects to the server on the loopback port, registers with epoll and sends
     * HELLO with name. Fails the program when the server cannot be reached. */
    void connect(int epoll, int port, const std::string& name);

    /** Polls epoll until the server has welcomed this client; false when it is
     * closed or not welcomed within the time. */
    bool awaitWelcome(std::chrono::milliseconds within);

    /** Sends one encoded game message in a DATA frame (what the socket does not
     * take now goes out when it can). */
    void sendData(const common::Bytes& message);

    /** Stops or resumes taking bytes from the socket, as a player whose machine is
     * busy would: what the server sends meanwhile waits in the system, then in the
     * server. */
    void setReading(bool reading);

    /** Says BYE and closes the socket, unless the connection is already closed. */
    void disconnect();

    /** What is due by the clock: a delayed ACK, the next try to resume. */
    void service();

    /** Waits up to timeoutMs for socket events on epoll and handles them for
     * every ProtocolClient registered there; a client that has sent nothing for
     * five seconds then sends PING, as every peer must. */
    static void poll(int epoll, int timeoutMs);

    std::uint32_t index() const { return m_index; }
    /** The player id the server gave in WELCOME; 0 until then. */
    std::int32_t playerId() const { return m_playerId; }
    /** Whether the server closed, refused or said BYE, or the socket failed. */
    bool closed() const { return m_closed; }
    /** Frames received so far, of every kind. */
    std::uint64_t framesSeen() const { return m_framesSeen; }
    /** Bytes given to send that the socket has not taken yet. */
    std::size_t unsent() const { return m_out.size() - m_outStart; }
    /** Connections lost that a resume was tried for, and resumes welcomed. */
    int interruptions() const { return m_interruptions; }
    int resumes() const { return m_resumes; }
    /** True while a lost connection is being resumed. */
    bool interrupted() const { return m_interrupted; }

protected:
    /** A DATA frame arrived; now is the time (nowNs) its bytes were read. */
    virtual void onData(std::string_view body, std::int64_t now) = 0;

private:
    /** A connected, registered, non-blocking socket to port; -1 when none could be made. */
    int openSocket(int port);
    void sendHello();
    void sendAck();
    /** The connection ended: a resumable session is tried again, any other is over. */
    void lost();
    void endForGood();
    /** Lets go of the socket, if there is one. */
    void closeSocket();
    void onWelcome(std::string_view body);
    void onAck(std::string_view body);
    void flush();
    void readAll();
    void keepAlive();
    void handleFrame(const transport::Frame& frame, std::int64_t now);
    void watch();

    std::uint32_t m_index;
    int m_fd = -1;
    int m_epoll = -1;
    std::int32_t m_playerId = 0;
    transport::FrameReader m_reader;
    std::string m_out;
    std::size_t m_outStart = 0;
    bool m_wantWrite = false;
    bool m_reading = true;
    std::int64_t m_lastSentNs = 0;
    std::uint32_t m_nextToken = 1;
    bool m_closed = false;
    std::uint64_t m_framesSeen = 0;

    // The resumable session.
    bool m_resumable;
    int m_port = 0;
    std::string m_name;
    bool m_welcomedHere = false; // this connection's WELCOME arrived
    bool m_interrupted = false;
    std::string m_token;
    std::uint32_t m_received = 0;      // DATA frames received in the session
    std::uint32_t m_ackSent = 0;       // the count last acknowledged to the server
    std::int64_t m_ackDueNs = -1;      // when an ACK for what came since is due
    std::uint32_t m_sentCount = 0;     // DATA frames sent in the session
    std::uint32_t m_serverAcked = 0;   // of those, what the server has acknowledged
    std::deque<std::string> m_unacked; // whole DATA frames after m_serverAcked
    std::size_t m_unackedBytes = 0;
    std::int64_t m_lostNs = 0;
    std::int64_t m_nextTryNs = 0;
    std::int64_t m_nextWaitNs = 0;
    int m_interruptions = 0;
    int m_resumes = 0;
};

} // namespace gemvolt::bench
