#include "Common/transport/SessionServer.h"

#include "Common/transport/ControlMessages.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace gemvolt::transport {

namespace {

// Sends collected by sendToAll are written at the latest when they reach this
// size, so a long burst without a return to the event loop stays bounded.
constexpr qsizetype FlushThreshold = 256 * 1024;

// Connections taken from the system in one go before the event loop runs again.
constexpr int AcceptsPerRound = 64;

// Bytes read from one client's socket at a time.
constexpr qint64 ReadBufferSize = 256 * 1024;

// Before WELCOME a connection needs no more than one short frame: a stranger's
// bytes wait in its own TCP window, not in the server's memory.
constexpr qint64 HandshakeReadBufferSize = 4 * 1024;

// The flood window is kept as this many slots of message bytes, so "within any
// FloodWindow" is judged to a tenth of a second with a fixed, small memory.
constexpr int FloodSlots = 40;
constexpr qint64 FloodSlotMs = FloodWindow.count() / FloodSlots;

// A delivered message's memory is kept for the next one up to this size: a board
// snapshot fits, a rare long one is given back.
constexpr qsizetype SpareMessageLimit = 4 * 1024;

} // namespace

// A client's connection with what the server keeps of it besides the protocol.
struct SessionServer::Peer : Connection {
    using Connection::Connection;

    qint32 id = 0;
    // The session this connection carries once welcomed; null before, and once
    // it has left the session or handed it to a newer connection.
    Player* player = nullptr;
    // The place in m_waiting while the handshake is pending.
    std::list<Peer*>::iterator waitingAt;
    bool waiting = false;
    // Message bytes received per slot of the flood window; floodSlot is the
    // number of the newest slot, floodBytes their sum.
    std::array<qint64, FloodSlots> floodSlots{};
    qint64 floodSlot = 0;
    qint64 floodBytes = 0;
};

// A welcomed client's session: outlives its connection while held for a resume.
struct SessionServer::Player {
    qint32 id = 0;
    // Null while held.
    Peer* connection = nullptr;
    // Null for a version 1 client, which is never held.
    std::unique_ptr<ResumableSession> session;
    // When its connection was lost (m_clock), or -1 while it has one.
    qint64 heldSince = -1;
};

// Marks a call into the server. Events raised inside are delivered when the
// outermost call returns, so no slot of the application runs while the server
// is in the middle of changing its own state. A call made by the application
// itself (Later) leaves the delivery to the event loop: its caller may be in
// the middle of walking its own lists.
class SessionServer::EntryGuard {
public:
    enum Delivery { Now, Later };
    explicit EntryGuard(SessionServer* server, Delivery delivery = Now)
        : m_server(server), m_delivery(delivery) {
        ++m_server->m_depth;
    }
    ~EntryGuard() {
        if (--m_server->m_depth == 0) {
            if (m_delivery == Now) {
                m_server->deliverEvents();
            } else {
                m_server->scheduleDelivery();
            }
        }
    }
    EntryGuard(const EntryGuard&) = delete;
    EntryGuard& operator=(const EntryGuard&) = delete;

private:
    SessionServer* m_server;
    Delivery m_delivery;
};

SessionServer::SessionServer(Timings timings, QObject* parent)
    : QObject(parent), m_timings(timings) {
    // A child, so that it follows the server to another thread if it is moved.
    m_checkTimer = new QTimer(this);
    m_checkTimer->setInterval(m_timings.checkInterval());
    connect(m_checkTimer, &QTimer::timeout, this, [this] {
        EntryGuard guard(this);
        checkLiveness();
        // Nobody connected and nobody held: nothing to watch until the next
        // connection, and an idle server sleeps rather than waking eight times a second.
        if (m_connections.empty() && m_players.empty()) {
            m_checkTimer->stop();
        }
    });
    m_acceptTimer = new QTimer(this);
    m_acceptTimer->setSingleShot(true);
    m_acceptTimer->setInterval(AcceptPause);
    connect(m_acceptTimer, &QTimer::timeout, this, [this] {
        if (m_acceptNotifier) {
            m_acceptNotifier->setEnabled(true);
        }
    });
}

SessionServer::~SessionServer() {
    close();
    // Sockets still draining are children of this object and go with it;
    // what they had was already handed to the system by close().
}

void SessionServer::setBacklogLimit(qint64 bytes) {
    m_backlogLimit = bytes;
    for (auto& c : m_connections) {
        c->setBacklogLimit(bytes);
    }
    for (auto& p : m_players) {
        if (p->session) {
            p->session->setKeepLimit(bytes);
        }
    }
}

bool SessionServer::host(int maxPlayers, quint16 port, const QString& applicationId,
                         const QString& sessionName) {
    m_errorNumber = NoError;
    m_errorText.clear();
    if (m_hosting) {
        m_errorNumber = AlreadyHosting;
        m_errorText = QStringLiteral("A session is already hosted");
        return false;
    }
    if (maxPlayers < 1) {
        m_errorNumber = BadPlayerLimit;
        m_errorText = QStringLiteral("The number of players must be at least 1 (the server's own "
                                     "player counts), not %1")
                          .arg(maxPlayers);
        return false;
    }
    if (!m_listener) {
        m_listener = new QTcpServer(this);
    }
    // The dual-stack "any" address takes IPv6 and IPv4 clients on one socket.
    if (!m_listener->listen(QHostAddress::Any, port)) {
        switch (m_listener->serverError()) {
        case QAbstractSocket::AddressInUseError:
            m_errorNumber = AddressInUse;
            break;
        case QAbstractSocket::SocketAccessError:
            m_errorNumber = AccessDenied;
            break;
        default:
            m_errorNumber = ListenFailed;
            break;
        }
        m_errorText =
            QStringLiteral("Cannot listen on port %1: %2").arg(port).arg(m_listener->errorString());
        return false;
    }

    // Connections are taken by the server itself rather than by the listener, which
    // retries at once, without end, when the system has no descriptor left.
    m_listener->pauseAccepting();
    m_acceptNotifier =
        new QSocketNotifier(m_listener->socketDescriptor(), QSocketNotifier::Read, this);
    connect(m_acceptNotifier, &QSocketNotifier::activated, this, [this] {
        EntryGuard guard(this);
        acceptConnections();
    });

    m_hosting = true;
    m_maxPlayers = maxPlayers;
    m_applicationId = applicationId.toUtf8();
    m_sessionName = sessionName.toUtf8();
    m_checkTimer->start();
    m_clock.start();

    EntryGuard guard(this);
    m_hostPlayerId = static_cast<qint32>(m_nextId++);
    post({Event::Created, m_hostPlayerId, {}});
    return true;
}

quint16 SessionServer::port() const {
    return m_hosting ? m_listener->serverPort() : 0;
}

bool SessionServer::sendToAll(QByteArrayView message) {
    if (!m_hosting || message.isEmpty() || std::size_t(message.size()) > MaxFrameBody) {
        return false;
    }
    if (m_players.empty()) {
        return true;
    }
    char header[FrameHeaderSize];
    writeFrameHeader(header, FrameKind::Data, std::size_t(message.size()));
    m_pending.append(header, FrameHeaderSize);
    m_pending.append(message);
    ++m_pendingFrames;
    if (m_pending.size() >= FlushThreshold) {
        EntryGuard guard(this, EntryGuard::Later);
        flushPending();
    } else if (!m_delivering || QThread::currentThread()->loopLevel() != m_deliveryLoopLevel) {
        // A send straight from a slot of ours goes out when the delivery of that read's
        // events ends, together with what the others sent, without a round through the
        // event loop first. This covers the rest (a send from a timer, or from a slot
        // that waits in an event loop of its own) at the next return to the event loop.
        scheduleFlush();
    }
    return true;
}

void SessionServer::scheduleFlush() {
    if (m_flushScheduled) {
        return;
    }
    m_flushScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_flushScheduled = false;
            EntryGuard guard(this);
            flushPending();
        },
        Qt::QueuedConnection);
}

void SessionServer::flushPending() {
    if (m_pending.isEmpty()) {
        return;
    }
    // One buffer for everybody: each socket keeps a shared reference to it
    // rather than a copy.
    QByteArray batch;
    batch.swap(m_pending);
    const std::uint32_t frames = std::exchange(m_pendingFrames, 0);
    // The player whose message this most likely relays has it already: its copy
    // goes last, and everybody else's one send sooner.
    const qint32 last = std::exchange(m_lastSender, 0);
    m_sendBatch.open();
    for (std::size_t i = 0; i < m_players.size();) {
        Player* p = m_players[i].get();
        if (p->id != last) {
            relay(*p, batch, frames);
        }
        // A client dropped as too slow, or whose peer reset the connection under
        // the flush, has left m_players; i then names the next one already.
        if (i < m_players.size() && m_players[i].get() == p) {
            ++i;
        }
    }
    const auto sender = std::find_if(m_players.begin(), m_players.end(),
                                     [last](const auto& p) { return p->id == last; });
    if (sender != m_players.end()) {
        relay(**sender, batch, frames);
    }
    m_sendBatch.close();
    // Nobody kept a reference (all of it went straight to the system): the next
    // batch is collected in the same memory rather than in a new allocation.
    if (m_pending.isEmpty() && batch.isDetached()) {
        batch.truncate(0);
        m_pending.swap(batch);
    }
}

void SessionServer::relay(Player& p, const QByteArray& batch, std::uint32_t frames) {
    if (Peer* c = p.connection) {
        if (c->sendMessages(batch, frames)) {
            // Hand it to the system now rather than when the socket's write notifier
            // fires: that costs a relay an event-loop round. What the system does not
            // take stays queued in the socket and counts towards the backlog limit.
            c->flush();
        }
    } else if (!p.session->keep(batch, frames)) {
        // Held past the limit: the resume could not be whole.
        endSession(p);
    }
}

void SessionServer::closePlayer(qint32 playerId) {
    auto it = std::find_if(m_players.begin(), m_players.end(),
                           [playerId](const auto& p) { return p->id == playerId; });
    if (it == m_players.end()) {
        return;
    }
    EntryGuard guard(this, EntryGuard::Later);
    Peer* c = (*it)->connection;
    if (!c) {
        endSession(**it);
        return;
    }
    c->sendControl(FrameKind::Bye, {});
    finishGracefully(*c);
}

QString SessionServer::playerName(qint32 playerId) const {
    auto it = m_names.find(playerId);
    return it == m_names.end() ? QString() : it->second;
}

QString SessionServer::localAddress() const {
    QString address = QHostAddress(QHostAddress::LocalHost).toString();
    const auto all = QNetworkInterface::allAddresses();
    for (const QHostAddress& a : all) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback()) {
            address = a.toString();
            break;
        }
    }
    return QStringLiteral("x-gemvolt:/provider=tcp;hostname=%1;port=%2").arg(address).arg(port());
}

void SessionServer::close() {
    if (!m_hosting) {
        return;
    }
    flushPending();
    m_hosting = false;
    // The notifier goes before the descriptor it watches; this may run inside its own signal.
    m_acceptNotifier->setEnabled(false);
    m_acceptNotifier->deleteLater();
    m_acceptNotifier = nullptr;
    m_listener->close();
    m_checkTimer->stop();
    m_acceptTimer->stop();
    m_events.clear();
    for (auto& p : m_players) {
        if (p->connection) {
            p->connection->player = nullptr;
            p->connection->setResumable(nullptr, m_timings.ackDelay);
        }
    }
    m_players.clear();
    m_pendingFrames = 0;
    m_names.clear();
    m_waiting.clear();
    for (auto& c : m_connections) {
        c->waiting = false;
        if (c->stage() == Connection::Stage::Handshake) {
            c->finishWith(FrameKind::Refuse,
                          encodeRefuse({static_cast<std::uint8_t>(RefuseReason::ShuttingDown),
                                        "The server is shutting down"}));
        } else if (c->stage() == Connection::Stage::Welcomed) {
            c->finishWith(FrameKind::Bye, {});
        }
    }
}

void SessionServer::pauseAccepting() {
    // The system refused a connection for want of descriptors or memory. The
    // connection stays queued, so retrying at once would only spin; players
    // already here go on meanwhile, and a freed descriptor is used at the next try.
    m_acceptNotifier->setEnabled(false);
    m_acceptTimer->start();
}

void SessionServer::makeRoomForHandshake() {
    while (int(m_waiting.size()) >= MaxWaitingHandshakes) {
        // A stranger that has said nothing for longest gives way, so silent
        // connections cannot lock players out.
        drop(*m_waiting.front());
    }
}

void SessionServer::stopWaiting(Peer& c) {
    if (c.waiting) {
        m_waiting.erase(c.waitingAt);
        c.waiting = false;
    }
}

void SessionServer::acceptConnections() {
    if (!m_acceptNotifier) {
        return;
    }
    const int listening = int(m_listener->socketDescriptor());
    // A bounded round: under a storm of connections the players already here are
    // served between rounds; the notifier calls again for the rest.
    for (int round = 0; round < AcceptsPerRound && m_hosting; ++round) {
        const int fd = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                pauseAccepting();
            }
            // Otherwise nothing is waiting (or the next event says what is wrong).
            return;
        }
        const int noDelay = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        auto* socket = new DirectSocket(fd, this);
        makeRoomForHandshake();
        // Until WELCOME only a short HELLO is legal; a welcomed client's bytes are
        // then taken in bounded bites, so a fast sender waits in its own TCP
        // window instead of in the server's memory.
        socket->setReadBudget(HandshakeReadBufferSize);
        auto c = std::make_unique<Peer>(socket, static_cast<Handler&>(*this),
                                        Connection::Stage::Handshake,
                                        std::numeric_limits<qint64>::max());
        c->limitHandshakeFrames();
        c->setBacklogLimit(m_backlogLimit);
        c->setSendBatch(&m_sendBatch);
        Peer* raw = c.get();
        raw->waitingAt = m_waiting.insert(m_waiting.end(), raw);
        raw->waiting = true;
        m_connections.push_back(std::move(c));
        if (!m_checkTimer->isActive()) {
            m_checkTimer->start();
        }
        // Bytes that came with the connection: the read notifier reports them.
    }
}

void SessionServer::readable(Connection& c) {
    QPointer<SessionServer> self(this);
    for (;;) {
        {
            EntryGuard guard(this);
            c.pump();
        }
        // A slot that ran the event loop while handling these events let the socket
        // buffer more bytes without another readyRead: take them now. (Connections
        // are only freed from the event loop, so c is still valid here.)
        if (!self || c.stage() == Connection::Stage::Dead) {
            break;
        }
        // After the relays of what was read: see sendUrgentAck().
        c.sendUrgentAck();
        if (!c.socket()->holdsInput()) {
            break;
        }
    }
}

void SessionServer::handshakeFrame(Connection& connection, const Frame& frame) {
    auto& c = static_cast<Peer&>(connection);

    if (frame.kind != FrameKind::Hello) {
        refuse(c, RefuseReason::MalformedHandshake,
               QStringLiteral("The first frame must be HELLO"));
        return;
    }
    std::uint16_t version = 0;
    if (!peekHelloVersion(frame.body, version)) {
        refuse(c, RefuseReason::MalformedHandshake, QStringLiteral("HELLO is too short"));
        return;
    }
    if (!isSupportedVersion(version)) {
        refuse(c, RefuseReason::UnsupportedVersion,
               QStringLiteral("Protocol version %1 is not supported; this server speaks versions "
                              "%2 and %3")
                   .arg(version)
                   .arg(ProtocolVersion)
                   .arg(ResumableProtocolVersion));
        return;
    }
    Hello hello;
    if (!decodeHello(frame.body, hello)) {
        refuse(c, RefuseReason::MalformedHandshake, QStringLiteral("HELLO is malformed"));
        return;
    }
    if (QByteArrayView(hello.applicationId.data(), qsizetype(hello.applicationId.size())) !=
        m_applicationId) {
        refuse(c, RefuseReason::WrongApplication,
               QStringLiteral("This server hosts another application"));
        return;
    }
    if (!hello.resumeToken.empty()) {
        resume(c, hello);
        return;
    }
    if (hello.receivedCount != 0) {
        refuse(c, RefuseReason::MalformedHandshake,
               QStringLiteral("HELLO counts received frames but names no session to resume"));
        return;
    }
    welcomeNew(c, hello);
}

void SessionServer::welcomeNew(Peer& c, const Hello& hello) {
    if (!isValidPlayerName(hello.playerName)) {
        refuse(c, RefuseReason::MalformedHandshake,
               QStringLiteral("The player name must be valid UTF-8 of at most %1 bytes")
                   .arg(MaxPlayerNameBytes));
        return;
    }
    // The server's own player holds one of the places, and so does every held player.
    if (qint64(m_players.size()) + 1 >= m_maxPlayers ||
        m_nextId > std::numeric_limits<qint32>::max()) {
        refuse(c, RefuseReason::SessionFull, QStringLiteral("The session is full"));
        return;
    }
    const std::string registered = registeredPlayerName(hello.playerName);
    const QString name = QString::fromUtf8(registered.data(), qsizetype(registered.size()));
    if (m_admit && !m_admit(name)) {
        refuse(c, RefuseReason::SessionFull,
               QStringLiteral("The session is full: its player list has no room for another name"));
        return;
    }

    // Sends to all made before this client joined are not for it.
    flushPending();
    auto player = std::make_unique<Player>();
    player->id = static_cast<qint32>(m_nextId++);
    Welcome welcome{player->id,
                    std::string(m_sessionName.constData(), std::size_t(m_sessionName.size())),
                    hello.version};
    if (hello.version == ResumableProtocolVersion) {
        player->session = std::make_unique<ResumableSession>(m_backlogLimit);
        player->session->replaceToken(newResumeToken(), {});
        welcome.resumeToken = player->session->token();
    }
    m_names[player->id] = name;
    Player& p = *player;
    m_players.push_back(std::move(player));
    join(c, p);
    c.send(Connection::frameBytes(FrameKind::Welcome, encodeWelcome(welcome)));
    post({Event::Created, p.id, {}});
}

void SessionServer::resume(Peer& c, const Hello& hello) {
    // What was sent to every player so far is the held player's too: it is kept
    // (and sent again below) rather than sent after the frames that follow it.
    flushPending();
    // A scan over every session: each comparison takes the same time whatever it finds.
    Player* p = nullptr;
    for (auto& candidate : m_players) {
        if (candidate->session && candidate->session->resumesWith(hello.resumeToken)) {
            p = candidate.get();
        }
    }
    if (!p) {
        refuse(c, RefuseReason::UnknownSession,
               QStringLiteral("There is no session to resume: it has ended, or its token was "
                              "replaced"));
        return;
    }
    ResumableSession& session = *p->session;
    if (!session.canResumeFrom(hello.receivedCount)) {
        // The client claims what it cannot have: frames it acknowledged or that were never sent.
        refuse(c, RefuseReason::UnknownSession,
               QStringLiteral("The session cannot be resumed: the client's count of received "
                              "frames is %1, the server has sent %2 and had %3 acknowledged")
                   .arg(hello.receivedCount)
                   .arg(session.sent())
                   .arg(session.acknowledged()));
        if (Peer* old = p->connection) {
            drop(*old);
        } else {
            endSession(*p);
        }
        return;
    }
    const bool tookOver = p->connection != nullptr;
    if (Peer* old = p->connection) {
        // The client noticed the loss before we did. Nothing more is read from the old
        // connection: a frame counted there would also come again on the new one.
        old->player = nullptr;
        old->setResumable(nullptr, m_timings.ackDelay);
        drop(*old);
    }
    const bool wasHeld = p->heldSince >= 0;
    p->heldSince = -1;
    session.acknowledge(hello.receivedCount);
    session.replaceToken(newResumeToken(), hello.resumeToken);
    join(c, *p);
    c.send(Connection::frameBytes(
        FrameKind::Welcome,
        encodeWelcome({p->id,
                       std::string(m_sessionName.constData(), std::size_t(m_sessionName.size())),
                       ResumableProtocolVersion, session.token(), session.takeAcknowledgement()})));
    const QByteArray again = session.framesAfter(hello.receivedCount);
    if (!again.isEmpty()) {
        c.send(again);
    }
    // A connection taken over was interrupted all the same, only noticed here
    // first: the application hears of both, as for any other blip.
    if (tookOver) {
        post({Event::Interrupted, p->id, {}});
    }
    if (wasHeld || tookOver) {
        post({Event::Resumed, p->id, {}});
    }
}

void SessionServer::join(Peer& c, Player& player) {
    stopWaiting(c);
    c.id = player.id;
    c.player = &player;
    player.connection = &c;
    c.welcome();
    c.socket()->setReadBudget(ReadBufferSize);
    c.setResumable(player.session.get(), m_timings.ackDelay);
}

bool SessionServer::message(Connection& connection, std::string_view body) {
    auto& c = static_cast<Peer&>(connection);
    if (!withinFloodLimit(c, body.size())) {
        // Relaying it would push the players who keep up towards their backlog
        // limit: the flooder goes, not they.
        c.sendControl(FrameKind::Bye, {});
        finishGracefully(c);
        return false;
    }
    QByteArray copy = std::exchange(m_spareMessage, {});
    copy.resize(qsizetype(body.size()));
    std::memcpy(copy.data(), body.data(), body.size());
    post({Event::Received, c.id, std::move(copy)});
    m_lastSender = c.id;
    return true;
}

void SessionServer::ended(Connection& connection, Connection::End why) {
    auto& c = static_cast<Peer&>(connection);
    switch (why) {
    case Connection::End::BadFrame:
        if (c.stage() != Connection::Stage::Handshake) {
            drop(c);
        } else if (c.badLength() && c.frameLimit() < MaxFrameLength) {
            refuse(c, RefuseReason::MalformedHandshake,
                   QStringLiteral("Bad frame: longer than %1 bytes before WELCOME")
                       .arg(c.frameLimit()));
        } else {
            refuse(c, RefuseReason::MalformedHandshake,
                   QStringLiteral("Bad frame: %1").arg(c.badFrameText()));
        }
        break;
    case Connection::End::HandshakeLate:
        refuse(c, RefuseReason::MalformedHandshake, QStringLiteral("No HELLO arrived in time"));
        break;
    case Connection::End::PeerBye:
        finishGracefully(c);
        break;
    case Connection::End::Silent:
    case Connection::End::Disconnected:
        // A blip, perhaps: a resumable client's session waits for it.
        if (mayHold(c)) {
            hold(c);
        } else if (why == Connection::End::Silent) {
            drop(c);
        } else {
            // Perhaps dropped already (an abort reports the close at once): reaped all the same.
            stopWaiting(c);
            leaveSession(c);
            c.drop();
            scheduleReap();
        }
        break;
    case Connection::End::BrokenProtocol:
    case Connection::End::Backlog:
        drop(c);
        break;
    case Connection::End::Stalled:
        stopWaiting(c);
        leaveSession(c);
        scheduleReap();
        break;
    case Connection::End::SocketError:
        // The close that follows says it all.
        break;
    }
}

bool SessionServer::withinFloodLimit(Peer& c, std::size_t bytes) {
    if (m_floodLimit <= 0) {
        return true;
    }
    const qint64 slot = c.now() / FloodSlotMs;
    // Slots that fell out of the window since the last message are emptied.
    for (qint64 s = c.floodSlot + 1; s <= slot && s <= c.floodSlot + FloodSlots; ++s) {
        qint64& old = c.floodSlots[std::size_t(s % FloodSlots)];
        c.floodBytes -= old;
        old = 0;
    }
    c.floodSlot = std::max(c.floodSlot, slot);
    c.floodSlots[std::size_t(c.floodSlot % FloodSlots)] += qint64(bytes);
    c.floodBytes += qint64(bytes);
    return c.floodBytes <= m_floodLimit;
}

void SessionServer::refuse(Peer& c, RefuseReason reason, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    c.send(Connection::frameBytes(
        FrameKind::Refuse,
        encodeRefuse({static_cast<std::uint8_t>(reason),
                      std::string(utf8.constData(), std::size_t(utf8.size()))})));
    finishGracefully(c);
}

void SessionServer::finishGracefully(Peer& c) {
    if (c.stage() == Connection::Stage::Dead || c.stage() == Connection::Stage::Closing) {
        return;
    }
    stopWaiting(c);
    leaveSession(c);
    // May report the disconnect at once.
    c.finish();
}

void SessionServer::drop(Peer& c) {
    if (c.stage() == Connection::Stage::Dead) {
        return;
    }
    stopWaiting(c);
    leaveSession(c);
    c.drop();
    scheduleReap();
}

void SessionServer::leaveSession(Peer& c) {
    if (c.player) {
        endSession(*c.player);
    }
}

void SessionServer::endSession(Player& player) {
    if (Peer* c = player.connection) {
        c->player = nullptr;
        c->setResumable(nullptr, m_timings.ackDelay);
    }
    const qint32 id = player.id;
    // Frees player: nothing of it is held any more.
    std::erase_if(m_players, [&player](const auto& p) { return p.get() == &player; });
    post({Event::Destroyed, id, {}});
}

bool SessionServer::mayHold(const Peer& c) const {
    return c.player && c.player->session && m_resumeHoldSeconds > 0 && m_hosting &&
           c.stage() == Connection::Stage::Welcomed;
}

void SessionServer::hold(Peer& c) {
    Player& player = *c.player;
    c.player = nullptr;
    c.setResumable(nullptr, m_timings.ackDelay);
    player.connection = nullptr;
    player.heldSince = m_clock.elapsed();
    post({Event::Interrupted, player.id, {}});
    drop(c);
}

void SessionServer::letGoOfExpiredHolds() {
    const qint64 limit = qint64(m_resumeHoldSeconds) * 1000;
    for (std::size_t i = 0; i < m_players.size();) {
        Player& p = *m_players[i];
        if (p.heldSince >= 0 && m_clock.elapsed() - p.heldSince >= limit) {
            endSession(p);
        } else {
            ++i;
        }
    }
}

void SessionServer::checkLiveness() {
    // By index: a check may accept nobody, but it may drop and refuse.
    for (std::size_t i = 0; i < m_connections.size(); ++i) {
        m_connections[i]->checkLiveness(m_timings);
    }
    letGoOfExpiredHolds();
}

void SessionServer::scheduleReap() {
    if (m_reapScheduled) {
        return;
    }
    m_reapScheduled = true;
    QMetaObject::invokeMethod(this, &SessionServer::reap, Qt::QueuedConnection);
}

void SessionServer::reap() {
    m_reapScheduled = false;
    if (m_depth > 0 || m_delivering) {
        // A slot of ours is on the stack (a nested event loop): a socket may be
        // in the middle of a signal. Come back when it has returned.
        m_reapAfterDelivery = true;
        return;
    }
    // A connection's socket is deleted later, never inside its own signal.
    std::erase_if(m_connections,
                  [](const auto& c) { return c->stage() == Connection::Stage::Dead; });
}

void SessionServer::scheduleDelivery() {
    if (m_events.empty() || m_deliveryScheduled) {
        return;
    }
    m_deliveryScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_deliveryScheduled = false;
            deliverEvents();
        },
        Qt::QueuedConnection);
}

void SessionServer::post(Event event) {
    m_events.push_back(std::move(event));
}

void SessionServer::deliverEvents() {
    if (m_delivering || m_depth > 0) {
        return;
    }
    m_delivering = true;
    m_deliveryLoopLevel = QThread::currentThread()->loopLevel();
    QPointer<SessionServer> self(this);
    for (;;) {
        if (m_events.empty()) {
            // What the slots sent goes out now, once for the whole batch of events. A client
            // dropped as too slow raises an event of its own, delivered by the next round.
            if (m_pending.isEmpty()) {
                break;
            }
            flushPending();
            continue;
        }
        Event event = std::move(m_events.front());
        m_events.pop_front();
        switch (event.type) {
        case Event::Created:
            emit playerCreated(event.playerId);
            break;
        case Event::Received:
            if (m_handleMessage) {
                m_handleMessage(event.playerId, event.message);
            } else {
                emit messageReceived(event.playerId, event.message);
            }
            if (self && event.message.isDetached() &&
                event.message.capacity() <= SpareMessageLimit) {
                // No slot kept a copy: the next message is read into the same memory.
                m_spareMessage = std::move(event.message);
            }
            break;
        case Event::Interrupted:
            emit playerInterrupted(event.playerId);
            break;
        case Event::Resumed:
            emit playerResumed(event.playerId);
            break;
        case Event::Destroyed:
            emit playerDestroyed(event.playerId);
            if (self) {
                // The name stays readable until the application has heard of the departure.
                m_names.erase(event.playerId);
            }
            break;
        }
        if (!self) {
            return;
        }
    }
    m_delivering = false;
    if (m_reapAfterDelivery) {
        m_reapAfterDelivery = false;
        scheduleReap();
    }
}

} // namespace gemvolt::transport
