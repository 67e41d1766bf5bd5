#pragma once

#include "Common/transport/Connection.h"
#include "Common/transport/ControlMessages.h"
#include "Common/transport/Timings.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

class QTimer;

namespace gemvolt::transport {

/**
 * Frames the application has sent and the socket thread has not written yet.
 * Filled on the application's thread, emptied on the socket thread.
 */
struct OutgoingFrames {
    QMutex mutex;
    QByteArray bytes;
    // The connect these frames belong to: a connection of another generation
    // never takes them, however the threads interleave.
    quint64 generation = 0;
    // A flush is on its way to the socket thread; no need to post another.
    bool flushPosted = false;
};

/**
 * Received messages on their way from the socket thread to the application,
 * each with the connect it belongs to. Filled on the socket thread, emptied on
 * the application's thread; what an old connection left is dropped there.
 */
struct IncomingMessages {
    QMutex mutex;
    std::deque<std::pair<quint64, QByteArray>> messages;
    /** Their bytes, each message with HeldMessageOverhead for its bookkeeping. */
    qint64 bytes = 0;
    /** A delivery is on its way to the application's thread; no need to post another. */
    bool deliveryPosted = false;
    /** The socket thread has stopped reading; the application's side wakes it. */
    bool paused = false;
};

/** Past this much held, the socket thread stops reading: TCP then slows the server. */
inline constexpr qint64 HeldMessagesLimit = 8 * 1024 * 1024;
/** Reading starts again once the application has brought the held bytes below this. */
inline constexpr qint64 HeldMessagesResume = HeldMessagesLimit / 2;
/** What a waiting message costs besides its bytes (its copy's header, the queue entry). */
inline constexpr qint64 HeldMessageOverhead = 128;

/** Bytes of sent, unacknowledged DATA frames the client keeps for a resume at most. */
inline constexpr qint64 ClientKeepLimit = 1024 * 1024;

/**
 * The client's connection, living on the client's network thread: handshake,
 * frames, liveness, and in version 2 the resume of a lost connection (the
 * session's counts and unacknowledged frames outlive each connection). It
 * reports through queued signals, each tagged with the generation of the
 * connect it belongs to, so that the application's side can drop news of a
 * connection it has already given up.
 */
class ClientWorker : public QObject, private Connection::Handler {
    Q_OBJECT
public:
    ClientWorker(Timings timings, std::shared_ptr<OutgoingFrames> outgoing,
                 std::shared_ptr<IncomingMessages> incoming);

    /** Opens a new connection (ending any earlier one) and registers name when connected. */
    void start(quint64 generation, const QString& host, quint16 port, const std::string& name,
               const std::string& applicationId);
    /** Writes what the application has sent, once the session is open. */
    void flushOutgoing();
    /** Reads again after a pause for held messages (the application has caught up). */
    void resumeReading();
    /** Ends the connection (BYE when welcomed) without reporting anything more. */
    void closeSession();
    /** closeSession(), then frees the socket and timers before the thread ends. */
    void shutdown();

signals:
    void connectComplete(quint64 generation, bool success, qint32 playerId, const QString& reason);
    /** Messages wait in the incoming queue (once until the application has emptied it). */
    void messagesWaiting();
    void sessionTerminated(quint64 generation, const QString& reason);
    void connectionInterrupted(quint64 generation);
    void connectionResumed(quint64 generation);

private:
    // Connection::Handler: what the connecting end adds to a connection.
    void readable(Connection& c) override {
        c.pump();
        c.sendUrgentAck();
    }
    void connected(Connection& c) override;
    void handshakeFrame(Connection& c, const Frame& frame) override;
    bool message(Connection& c, std::string_view body) override;
    void ended(Connection& c, Connection::End why) override;
    void flushQueued(Connection&) override { flushOutgoing(); }
    bool mayRead(Connection&) override;
    void acknowledged(Connection&) override { flushOutgoing(); }
    void checkWithin(Connection&, qint64 ms) override;

    /** The stage of the current connection; Dead when there is none. */
    Connection::Stage stage() const;
    void makeTimers();
    /** Checks the welcomed connection c now, and again when a limit could pass. */
    void checkNow(Connection& c);
    /** A new TCP connection; HELLO follows once it is made. */
    void connectNow();
    QByteArray hello();
    void welcomed(Connection& c, const Welcome& welcome);
    void resumed(Connection& c, const Welcome& welcome);
    /** Sends what the application queued: as much as the keep limit allows, or all of it. */
    void sendOutgoing(bool all);
    void endConnection(bool sendPending);
    void fail(const QString& reason);
    void terminate(const QString& reason, bool graceful);
    /** The welcomed connection was lost: the resume starts. */
    void interrupt();
    /** One resume try came to nothing: the next after its wait, unless the time is up. */
    void tryFailed();
    /** The resume cannot succeed: the session is over. */
    void giveUp(const QString& reason);
    void stopTimers();

    Timings m_timings;
    std::shared_ptr<OutgoingFrames> m_outgoing;
    std::shared_ptr<IncomingMessages> m_incoming;
    std::unique_ptr<Connection> m_connection;
    QTimer* m_connectTimer = nullptr;
    QTimer* m_checkTimer = nullptr;
    // The next connect: a resume try, or a new session again in the first version.
    QTimer* m_retryTimer = nullptr;
    // The end of the resume: so long after the loss.
    QTimer* m_giveUpTimer = nullptr;
    quint64 m_generation = 0;
    QString m_host;
    quint16 m_port = 0;
    std::string m_name;
    std::string m_applicationId;
    // The version the next HELLO names.
    std::uint16_t m_version = ResumableProtocolVersion;
    // The version 2 session, from its first WELCOME to its end; its token is the last WELCOME's.
    std::unique_ptr<ResumableSession> m_session;
    std::string m_token;
    qint32 m_playerId = 0;
    bool m_resuming = false;
    int m_failedTries = 0;
};

} // namespace gemvolt::transport
