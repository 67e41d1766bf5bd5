#pragma once

#include "Common/transport/ConnectionSocket.h"
#include "Common/transport/FrameReader.h"
#include "Common/transport/ResumableSession.h"
#include "Common/transport/Timings.h"
#include "Common/transport/WireFormat.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <limits>
#include <string>
#include <string_view>

class QTcpSocket;

namespace gemvolt::transport {

class SendBatch;

/**
 * One TCP connection of a session, the same at both ends: it owns its socket
 * and knows the frame rules, the handshake stages, liveness (PING after
 * silence of our own, loss after silence of the peer's) and the send queue
 * with its cap. What only one end does (accepting, the player table,
 * connecting, the hand-off to the application) is the Handler's.
 *
 * Everything the connection sends goes through send(), and its socket's
 * signals are followed in one place (attach), so exchanging the socket for
 * another would touch this class alone. The socket is deleted later rather
 * than at once: the connection may be destroyed from inside one of its signals.
 */
class Connection {
public:
    enum class Stage {
        /** The TCP connect is on its way (the connecting end only). */
        Connecting,
        /** Connected, before WELCOME or REFUSE (see limitHandshakeFrames()). */
        Handshake,
        /** A player of the session: every frame up to MaxFrameLength. */
        Welcomed,
        /** BYE or REFUSE sent or received: what is queued drains, then the socket closes. */
        Closing,
        /** Over; nothing more is read or sent. */
        Dead,
    };

    /** Why a connection stopped being usable; the Handler decides what follows. */
    enum class End {
        /** The byte stream broke the frame rules (see badFrameText()). */
        BadFrame,
        /** A frame that is not legal at this stage, or a malformed control frame. */
        BrokenProtocol,
        /** The peer said BYE. */
        PeerBye,
        /** No whole frame from the peer within the silence limit. */
        Silent,
        /** No handshake within its limit. */
        HandshakeLate,
        /** The peer let the backlog grow past its cap: nothing more can be sent to it. */
        Backlog,
        /** A closing connection did not drain within the silence limit; it is dropped already. */
        Stalled,
        /** The socket closed. */
        Disconnected,
        /** The socket reported an error (see socket()->errorString()); it closes next. */
        SocketError,
    };

    /** What each end adds to a connection. Called on the connection's thread. */
    class Handler {
    public:
        /** The socket has bytes: read them through pump(), in whatever guard the end needs. */
        virtual void readable(Connection& c) = 0;
        /** The TCP connect finished (the connecting end). */
        virtual void connected(Connection&) {}
        /** A frame arrived before WELCOME. */
        virtual void handshakeFrame(Connection& c, const Frame& frame) = 0;
        /** A message (a non-empty DATA body) arrived; false stops reading. */
        virtual bool message(Connection& c, std::string_view body) = 0;
        /** The connection cannot go on as it was; see End. */
        virtual void ended(Connection& c, End why) = 0;
        /** Writes what the application queued, so that a control frame follows it. */
        virtual void flushQueued(Connection&) {}
        /** False while the end stops reading on purpose (its application has not caught up). */
        virtual bool mayRead(Connection&) { return true; }
        /** The peer acknowledged frames: room for more in the session's keep limit. */
        virtual void acknowledged(Connection&) {}
        /** Received frames owe the peer an ACK: a check is needed within ms to send it. */
        virtual void checkWithin(Connection&, qint64 /*ms*/) {}

    protected:
        ~Handler() = default;
    };

    /**
     * Takes the socket (connected, or about to connect) and follows its reports.
     * readChunk bounds one read; the socket's own budget is the caller's choice.
     */
    Connection(ConnectionSocket* socket, Handler& handler, Stage stage, qint64 readChunk);
    /** The same over a QTcpSocket. */
    Connection(QTcpSocket* socket, Handler& handler, Stage stage, qint64 readChunk);
    virtual ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    ConnectionSocket* socket() const { return m_socket; }
    Stage stage() const { return m_stage; }
    /** True before WELCOME or REFUSE and while welcomed: frames are still taken. */
    bool isOpen() const { return m_stage == Stage::Handshake || m_stage == Stage::Welcomed; }
    /** Milliseconds since the connection was made. */
    qint64 now() const { return m_clock.elapsed(); }

    /** Before WELCOME only frames up to MaxHandshakeFrameLength are taken (the accepting end). */
    void limitHandshakeFrames() { m_reader.setMaxLength(MaxHandshakeFrameLength); }
    /** The TCP connect finished: the handshake starts. */
    void beginHandshake();
    /** The handshake succeeded: full-size frames from here on. */
    void welcome();
    /**
     * Sends what is queued, then closes; nothing more is read. handOverNow
     * gives the system what it takes at once, for when the program may end next.
     */
    void finish(bool handOverNow = false);
    /** One last frame (BYE, REFUSE) behind what is queued, all handed to the system, then finish().
     */
    void finishWith(FrameKind kind, std::string_view body);
    /**
     * After finish(true): reads away what the peer still sends until it closes
     * too, or limit passes, so the connection ends without a reset. Blocks.
     */
    void awaitPeerClose(std::chrono::milliseconds limit);
    /** Closes at once, discarding what is queued. */
    void drop();

    /**
     * While batch (not owned; it outlives the connection) is open, a write that
     * would go straight to the system joins it instead (the accepting end's relay).
     */
    void setSendBatch(SendBatch* batch) { m_batch = batch; }

    /** Unsent bytes allowed before the peer is dropped as too slow. */
    void setBacklogLimit(qint64 bytes) { m_backlogLimit = bytes; }

    /**
     * The version 2 session this connection carries (not owned; null for
     * version 1 and before WELCOME): DATA frames each way are counted and
     * acknowledged, and what is sent is kept until the peer acknowledges it.
     * ACK is a broken frame without one.
     */
    void setResumable(ResumableSession* session, std::chrono::milliseconds ackDelay) {
        m_session = session;
        m_ackDelay = ackDelay.count();
        m_ackDueAt = -1;
        m_ackAtOnce = false;
    }
    ResumableSession* resumable() const { return m_session; }

    /**
     * Sends count whole DATA frames. On a resumable connection they are kept
     * until acknowledged; past the keep limit nothing is sent, ended(Backlog)
     * tells the handler and the result is false (as past the backlog limit).
     */
    bool sendMessages(const QByteArray& frames, std::uint32_t count);

    /**
     * Queues bytes (whole frames) behind what is queued, handing them to the
     * system at once when nothing is. Past the backlog limit nothing is queued,
     * ended(Backlog) tells the handler, and the result is false.
     */
    bool send(const QByteArray& bytes);
    /** One frame of kind with body, after what the application queued. */
    bool sendControl(FrameKind kind, const std::string& body);
    /** Hands what is queued to the system now, as far as it takes it. */
    void flush();

    /**
     * Takes the frames already read, then reads on while the socket has bytes
     * and the connection is open. False when it stopped before the socket was
     * empty (closed, or paused by the handler).
     */
    bool pump();

    /**
     * Sends the ACK that is due at once (64 frames or 64 KiB unacknowledged),
     * if one is. Called when the frames of a read have been handled, and what
     * they made the application send has gone out: a sender acknowledged ahead
     * of the answers to its own frames would run ahead of its own reading.
     */
    void sendUrgentAck();

    /** PING after our silence, loss after the peer's, the handshake and drain limits, a
     * delayed ACK. */
    void checkLiveness(const Timings& timings);
    /**
     * From here on each frame and each send is timed as it happens, a clock read
     * each, rather than as of the next check: the checks need not run between the
     * limits (see untilNextCheck()). For an end with few frames; a relay keeps the
     * periodic checks.
     */
    void timeEachFrame() { m_timesEach = true; }
    /**
     * The milliseconds until a limit or an owed ACK needs checkLiveness, if nothing
     * happens meanwhile; an owed ACK calls Handler::checkWithin. Without
     * timeEachFrame(), the periodic check interval.
     */
    qint64 untilNextCheck(const Timings& timings);

    /** Why the stream is unreadable, for a reason shown to a person. */
    const char* badFrameText() const { return describe(m_reader.error()); }
    /** The frame limit in force when a bad length came: below MaxFrameLength before WELCOME. */
    std::uint32_t frameLimit() const { return m_reader.maxLength(); }
    bool badLength() const { return m_reader.error() == FrameError::BadLength; }

    /** One whole frame as bytes. */
    static QByteArray frameBytes(FrameKind kind, std::string_view body);

private:
    /** Follows socket's reports; the connection owns it from here on. */
    void attach(ConnectionSocket* socket);
    /** Lets go of the socket: no more of its signals, an abort unless it drains, deleted later. */
    void detach();
    bool takeFrames();
    /** Takes the frames the system still holds for us from a peer that has gone. */
    void readWhatIsLeft();
    bool sessionFrame(const Frame& frame);
    /** Queues bytes, handing the system what it takes at once. */
    void queue(const QByteArray& bytes);
    /** Bytes to the system when nothing is queued; how many it took. */
    qint64 sendNow(const QByteArray& bytes);
    /** Nothing queued in the socket, and it is connected: a write may go straight out. */
    bool sendsDirectly() const;
    /** A write of ours in the batch goes to the system before anything else is written. */
    void settleBatch();
    /** A write of ours in the batch is not made after all. */
    void dropBatchedWrite();
    friend class SendBatch;
    /** The batch's result for bytes: how many the system took, or -errno. */
    void sentInBatch(const QByteArray& bytes, qint64 result);
    /** Counts a DATA frame received and acknowledges at once or within the ACK delay. */
    void countReceived(std::size_t bytes);
    bool takeAck(std::string_view body);
    void sendAck();

    ConnectionSocket* m_socket = nullptr;
    Handler& m_handler;
    Stage m_stage;
    qint64 m_readChunk;
    qint64 m_backlogLimit = std::numeric_limits<qint64>::max();
    FrameReader m_reader;
    QElapsedTimer m_clock;
    // When the stage began (the handshake's or the drain's limit counts from it).
    qint64 m_since = 0;
    // When the last whole frame arrived: a trickle of bytes is no sign of life.
    qint64 m_lastReceived = 0;
    qint64 m_lastSent = 0;
    // The last liveness check, and whether a frame came or a send went since.
    qint64 m_lastCheck = 0;
    bool m_receivedSinceCheck = false;
    bool m_sentSinceCheck = false;
    // Frames and sends are timed one by one (timeEachFrame()).
    bool m_timesEach = false;
    quint32 m_nextToken = 1;
    ResumableSession* m_session = nullptr;
    SendBatch* m_batch = nullptr;
    // A write of ours waits in m_batch.
    bool m_inBatch = false;
    // When an ACK for what has arrived is due, or -1 when none is owed.
    qint64 m_ackDueAt = -1;
    bool m_ackAtOnce = false;
    qint64 m_ackDelay = 250;
};

} // namespace gemvolt::transport
