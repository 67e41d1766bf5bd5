#pragma once

#include "Common/transport/Timings.h"
#include "Common/transport/WireFormat.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QThread>

#include <memory>

namespace gemvolt::transport {

class ClientWorker;
struct IncomingMessages;
struct OutgoingFrames;

/**
 * The client side of a session. The connection runs on a network thread of
 * its own, so it keeps answering the server while the application's thread is
 * busy (the game's animations block it on purpose). Events are emitted on the
 * thread that created the client, one at a time and in order, and none is
 * emitted after close(). Messages are handed over in slices of a few
 * milliseconds, so a flood leaves the application's own events their turn;
 * when the application falls behind by 8 MiB of messages, the network thread
 * stops reading until it has caught up.
 *
 * It speaks protocol version 2 unless Timings::clientVersion says otherwise
 * (and the first version with a server that refuses the second). In version 2
 * a connection lost without BYE is resumed over a new one: the session stays
 * connected meanwhile, messages sent wait, and nothing is lost or repeated.
 */
class SessionClient : public QObject {
    Q_OBJECT
public:
    explicit SessionClient(Timings timings = {}, QObject* parent = nullptr);
    /** Closes the connection as close() does and stops the network thread. */
    ~SessionClient() override;

    /**
     * Connects to host:port and registers playerName; connectComplete follows
     * in any case. An earlier connection is closed first.
     */
    void connectToServer(const QString& host, quint16 port, const QString& playerName,
                         const QString& applicationId = QString::fromUtf8(ApplicationId));

    /**
     * Sends one message to the server. Messages sent before connectComplete
     * go out once the session is open. False (nothing sent) when there is no
     * connection, or the message is empty or too large for a frame.
     */
    bool send(QByteArrayView message);

    /** Ends the session with BYE after what was sent; no event follows. */
    void close();

    /** The identifier the server gave, or 0 before that. */
    qint32 playerId() const { return m_playerId; }
    /** True between a successful connectComplete and the end of the session, resumes included. */
    bool isConnected() const { return m_state == State::Connected; }

signals:
    /** The connect ended: success with the player's identifier, or a reason to show. */
    void connectComplete(bool success, qint32 playerId, const QString& reason);
    /** A message from the server. */
    void messageReceived(const QByteArray& message);
    /**
     * The open session ended without close(): the server left or went silent,
     * or (in version 2) the resume of a lost connection gave up or was refused.
     */
    void sessionTerminated(const QString& reason);
    /**
     * The connection was lost and the client is trying to resume the session;
     * nothing sent or received is lost if it succeeds.
     */
    void connectionInterrupted();
    /** A resume succeeded: the session goes on where it was, nothing lost. */
    void connectionResumed();

private:
    enum class State { Idle, Connecting, Connected, Ended };

    /** How long one turn of the event loop hands over messages at most. */
    static constexpr qint64 DeliverySliceMs = 10;

    void deliverMessages();
    /** Emits waiting messages, all or for one slice; false when a receiver destroyed this. */
    bool deliverWaiting(bool inSlices);
    void clearOutgoing();

    QThread m_thread;
    ClientWorker* m_worker = nullptr;
    std::shared_ptr<OutgoingFrames> m_outgoing;
    std::shared_ptr<IncomingMessages> m_incoming;
    quint64 m_generation = 0;
    State m_state = State::Idle;
    qint32 m_playerId = 0;
};

} // namespace gemvolt::transport
