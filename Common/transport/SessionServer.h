#pragma once

#include "Common/transport/Connection.h"
#include "Common/transport/SendBatch.h"
#include "Common/transport/Timings.h"
#include "Common/transport/WireFormat.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <vector>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

namespace gemvolt::transport {

struct Hello;

/**
 * The server side of a session: accepts clients over TCP, runs the handshake
 * and liveness of every connection, and reports players and their messages.
 *
 * Lives on the thread it belongs to (the program's main thread) and never
 * blocks it. Events are emitted one at a time, in the order in which they
 * happened; an event raised while a slot of another is still running (for
 * example a nested event loop in a slot) waits until that slot returns.
 * Slots may call any function of the server, but should end it with
 * deleteLater() rather than delete.
 *
 * A version 2 client whose connection is lost without BYE is held for the
 * resume hold: it keeps its place, sendToAll keeps what is sent to it, and a
 * resume on a new connection goes on where the old one stopped; the
 * application hears playerInterrupted and playerResumed, or playerDestroyed
 * when the hold runs out. A version 1 client's session ends with its connection.
 */
class SessionServer : public QObject, private Connection::Handler {
    Q_OBJECT
public:
    /** Why host() failed; the number shown to the user as "Error #<n>". */
    enum HostError {
        NoError = 0,
        /** The player limit is below 1 (it counts the server's own player). */
        BadPlayerLimit = 1,
        /** host() was called while a session is already hosted. */
        AlreadyHosting = 2,
        /** Another program holds the port. */
        AddressInUse = 3,
        /** The system does not allow listening on the port. */
        AccessDenied = 4,
        /** Any other reason the port could not be opened. */
        ListenFailed = 5,
    };

    explicit SessionServer(Timings timings = {}, QObject* parent = nullptr);
    /** Closes the session as close() does. */
    ~SessionServer() override;

    /**
     * Starts the session: listens on port (0 picks a free one, see port()) on
     * every IPv4 and IPv6 address, and creates the server's own player, whose
     * playerCreated is emitted before host() returns. maxPlayers counts that
     * player. Returns false and sets errorNumber()/errorText() on failure.
     */
    bool host(int maxPlayers, quint16 port = DefaultPort,
              const QString& applicationId = QString::fromUtf8(ApplicationId),
              const QString& sessionName = QString::fromUtf8(SessionName));

    /** Why the last host() failed, or NoError. */
    int errorNumber() const { return m_errorNumber; }
    /** A sentence describing the last host() failure. */
    QString errorText() const { return m_errorText; }

    bool isHosting() const { return m_hosting; }
    /** The port listened on, or 0 when not hosting. */
    quint16 port() const;
    /** The identifier of the server's own player (0 before hosting). */
    qint32 hostPlayerId() const { return m_hostPlayerId; }
    /** Clients welcomed whose session goes on: connected, or held for a resume. */
    int clientCount() const { return int(m_players.size()); }

    /**
     * Sends one message to every welcomed client. Sends made from a slot of
     * this server are collected and written together when the delivery of the
     * events of that read ends; others when control returns to the event loop.
     * Either way a burst costs one write per client, handed to the system at
     * once. A client that falls more than the backlog limit behind is
     * disconnected; its playerDestroyed comes from the event loop, never from
     * inside this call. False (nothing sent) when not hosting
     * or when the message is empty or too large for a frame.
     */
    bool sendToAll(QByteArrayView message);

    /**
     * Ends a client's session for good: what was already sent to it goes out
     * first, then BYE, then the connection closes (a player held for a resume
     * is simply let go). The client leaves the players at once (sendToAll no
     * longer reaches it); playerDestroyed follows from the event loop. An
     * unknown identifier does nothing.
     */
    void closePlayer(qint32 playerId);

    /** The name a connected client registered, or an empty text. */
    QString playerName(qint32 playerId) const;

    /**
     * The address clients connect to, as
     * "x-gemvolt:/provider=tcp;hostname=<address>;port=<port>" with the first
     * non-loopback IPv4 address of this machine, else the loopback address.
     */
    QString localAddress() const;

    /**
     * Ends the session: BYE to every client, REFUSE "shutting down" to
     * handshakes in progress, and no more events. host() may be called again.
     */
    void close();

    /**
     * Unsent bytes allowed per client before it is dropped as too slow; for a
     * resumable client also the unacknowledged bytes kept for it, connected
     * or held (everything unsent is among them).
     */
    void setBacklogLimit(qint64 bytes);

    /**
     * Message bytes a client may send within FloodWindow; one that sends more
     * has its session ended with BYE (the message that passed the limit is not
     * delivered). 0 turns the limit off, for load measurements.
     */
    void setFloodLimit(qint64 bytes) { m_floodLimit = std::max<qint64>(0, bytes); }
    qint64 floodLimit() const { return m_floodLimit; }

    /**
     * How long a resumable client whose connection was lost keeps its place
     * waiting for a resume; 0 turns resuming off (its session ends at once).
     */
    void setResumeHold(int seconds) { m_resumeHoldSeconds = std::max(0, seconds); }
    int resumeHold() const { return m_resumeHoldSeconds; }

    /**
     * Asked before a client is welcomed, with the name it will be known by;
     * false refuses it as "session full". The application uses it when it has
     * no room for another player (a player list that would no longer fit in
     * one message). Called from inside the server: it must not change the
     * session. Every client is admitted while none is set.
     */
    void setAdmission(std::function<bool(const QString& name)> admit) {
        m_admit = std::move(admit);
    }

    /**
     * Where received messages go instead of messageReceived, when set. The
     * application that takes every message (and relays most of them) uses it:
     * a call spares each message the signal's dispatch, which on a relay is paid
     * in cold cache lines before anything is sent on. The same rules hold as for
     * a slot of messageReceived.
     */
    void setMessageHandler(std::function<void(qint32 senderId, const QByteArray& message)> handle) {
        m_handleMessage = std::move(handle);
    }

signals:
    /** A player joined; the first one of a session is the server's own. */
    void playerCreated(qint32 playerId);
    /** A welcomed client sent a message. */
    void messageReceived(qint32 senderId, const QByteArray& message);
    /** A welcomed client's session ended for good: it left, or its hold ran out. */
    void playerDestroyed(qint32 playerId);
    /** A resumable client's connection was lost; the player is held for the resume hold. */
    void playerInterrupted(qint32 playerId);
    /** A held player resumed its session on a new connection. */
    void playerResumed(qint32 playerId);

private:
    struct Peer;
    struct Player;
    class EntryGuard;
    struct Event {
        enum Type { Created, Received, Destroyed, Interrupted, Resumed } type;
        qint32 playerId;
        QByteArray message;
    };

    // Connection::Handler: what the accepting end adds to a connection.
    void readable(Connection& c) override;
    void handshakeFrame(Connection& c, const Frame& frame) override;
    bool message(Connection& c, std::string_view body) override;
    void ended(Connection& c, Connection::End why) override;
    void flushQueued(Connection&) override { flushPending(); }

    void acceptConnections();
    void pauseAccepting();
    void makeRoomForHandshake();
    void stopWaiting(Peer& c);
    bool withinFloodLimit(Peer& c, std::size_t bytes);
    void refuse(Peer& c, RefuseReason reason, const QString& text);
    void welcomeNew(Peer& c, const Hello& hello);
    void resume(Peer& c, const Hello& hello);
    void join(Peer& c, Player& player);
    void flushPending();
    /** One player's share of a flush: sent, or kept while it is held. */
    void relay(Player& p, const QByteArray& batch, std::uint32_t frames);
    void scheduleFlush();
    void finishGracefully(Peer& c);
    void drop(Peer& c);
    void leaveSession(Peer& c);
    void endSession(Player& player);
    bool mayHold(const Peer& c) const;
    void hold(Peer& c);
    void letGoOfExpiredHolds();
    void checkLiveness();
    void scheduleReap();
    void reap();
    void scheduleDelivery();
    void post(Event event);
    void deliverEvents();

    Timings m_timings;
    QTcpServer* m_listener = nullptr;
    QTimer* m_checkTimer = nullptr;
    QSocketNotifier* m_acceptNotifier = nullptr;
    QTimer* m_acceptTimer = nullptr;
    bool m_hosting = false;
    int m_maxPlayers = 0;
    QByteArray m_applicationId;
    QByteArray m_sessionName;
    qint32 m_hostPlayerId = 0;
    qint64 m_nextId = 1;
    qint64 m_backlogLimit = DefaultBacklogLimit;
    int m_resumeHoldSeconds = 30;
    qint64 m_floodLimit = DefaultFloodLimit;
    std::function<bool(const QString&)> m_admit;
    std::function<void(qint32, const QByteArray&)> m_handleMessage;
    int m_errorNumber = NoError;
    QString m_errorText;

    // A relay's writes to every player, handed to the system at once; outlives the connections.
    SendBatch m_sendBatch;
    std::vector<std::unique_ptr<Peer>> m_connections;
    // Connections waiting for their handshake, the longest waiting first.
    std::list<Peer*> m_waiting;
    // Welcomed clients in join order, the receivers of sendToAll; a held one has no connection.
    std::vector<std::unique_ptr<Player>> m_players;
    // Counts the hold of players whose connection was lost.
    QElapsedTimer m_clock;
    // Registered names, kept until the application has been told of the departure.
    std::map<qint32, QString> m_names;
    QByteArray m_pending;
    // A delivered message's memory, taken for the next one that is read: a board
    // snapshot is too large for the allocator's quick path.
    QByteArray m_spareMessage;
    // DATA frames in m_pending.
    std::uint32_t m_pendingFrames = 0;
    // Who sent the message read last: its relayed copy goes out last.
    qint32 m_lastSender = 0;
    bool m_flushScheduled = false;
    bool m_reapScheduled = false;
    bool m_reapAfterDelivery = false;

    std::deque<Event> m_events;
    bool m_delivering = false;
    /** The event loop level the delivery runs in; a deeper one is a slot waiting. */
    int m_deliveryLoopLevel = 0;
    bool m_deliveryScheduled = false;
    int m_depth = 0;
};

} // namespace gemvolt::transport
