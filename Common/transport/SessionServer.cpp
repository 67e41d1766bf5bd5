#include "Common/transport/SessionServer.h"

#include "Common/transport/ControlMessages.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <sys/socket.h>
#include <unistd.h>

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

QByteArray frameBytes(FrameKind kind, const std::string& body) {
    QByteArray out(qsizetype(FrameHeaderSize + body.size()), Qt::Uninitialized);
    writeFrameHeader(out.data(), kind, body.size());
    std::copy(body.begin(), body.end(), out.data() + FrameHeaderSize);
    return out;
}

} // namespace

struct SessionServer::Connection {
    enum State {
        // Connected, waiting for HELLO.
        Handshake,
        // A player of the session.
        Welcomed,
        // BYE or REFUSE sent (or received); waiting for the socket to drain and close.
        Closing,
        // Gone; the socket is deleted at the next reap.
        Dead,
    };

    QTcpSocket* socket = nullptr;
    FrameReader reader;
    State state = Handshake;
    qint32 id = 0;
    qint64 since = 0;
    // When the last whole frame arrived: a trickle of bytes is no sign of life.
    qint64 lastReceived = 0;
    qint64 lastSent = 0;
    // The place in m_waiting while the handshake is pending.
    std::list<Connection*>::iterator waitingAt;
    bool waiting = false;
    // Message bytes received per slot of the flood window; floodSlot is the
    // number of the newest slot, floodBytes their sum.
    std::array<qint64, FloodSlots> floodSlots{};
    qint64 floodSlot = 0;
    qint64 floodBytes = 0;
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
    m_clock.start();
    // A child, so that it follows the server to another thread if it is moved.
    m_checkTimer = new QTimer(this);
    m_checkTimer->setInterval(m_timings.checkInterval());
    connect(m_checkTimer, &QTimer::timeout, this, [this] {
        EntryGuard guard(this);
        checkLiveness();
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
    for (auto& [socket, c] : m_connections) {
        socket->disconnect(this);
    }
    // Sockets still draining are children of this object and go with it;
    // what they had was already handed to the system by close().
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
    if (m_pending.size() >= FlushThreshold) {
        EntryGuard guard(this, EntryGuard::Later);
        flushPending();
    } else {
        // A send from a slot of ours goes out when the delivery of that read's events ends,
        // together with what the others sent; this covers the rest (a send from a timer, or
        // from a slot that waits in the event loop) at the next return to the event loop.
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
    for (std::size_t i = 0; i < m_players.size();) {
        Connection* c = m_players[i];
        if (writeTo(*c, batch)) {
            // Hand it to the system now rather than when the socket's write notifier
            // fires: that costs a relay an event-loop round. What the system does not
            // take stays queued in the socket and counts towards the backlog limit.
            c->socket->flush();
            ++i;
        }
        // A client dropped by writeTo has left m_players; i now names the next one.
    }
}

bool SessionServer::writeTo(Connection& c, const QByteArray& bytes) {
    if (c.socket->bytesToWrite() + bytes.size() > m_backlogLimit) {
        // Before judging the client, hand the system what it will take now: a long
        // burst handled without a return to the event loop has not been offered yet.
        c.socket->flush();
        if (c.socket->bytesToWrite() + bytes.size() > m_backlogLimit) {
            // Too far behind: keeping it would only grow the server's memory.
            drop(c);
            return false;
        }
    }
    c.lastSent = m_clock.elapsed();
    const qint64 taken = sendNow(c, bytes);
    if (taken < bytes.size()) {
        c.socket->write(bytes.constData() + taken, bytes.size() - taken);
    }
    return true;
}

qint64 SessionServer::sendNow(Connection& c, const QByteArray& bytes) {
    // With nothing queued in the socket, the bytes go straight to the system: the
    // socket's own buffer would switch its write notifier on and off again for each
    // client, which costs a relay to ten players more than the writes themselves.
    // Whatever the system does not take, or an error it reports, is left to the
    // socket, which queues the rest and reports the error its own way.
    if (c.socket->bytesToWrite() > 0 || c.socket->state() != QAbstractSocket::ConnectedState) {
        return 0;
    }
    const qintptr fd = c.socket->socketDescriptor();
    if (fd < 0) {
        return 0;
    }
    for (;;) {
        const ssize_t sent = ::send(int(fd), bytes.constData(), std::size_t(bytes.size()),
                                    MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0) {
            return qint64(sent);
        }
        if (errno != EINTR) {
            return 0;
        }
    }
}

void SessionServer::writeControl(Connection& c, FrameKind kind, const std::string& body) {
    if (c.state == Connection::Welcomed) {
        // Everything sent to all before this frame goes first.
        flushPending();
        if (c.state != Connection::Welcomed) {
            return;
        }
    }
    writeTo(c, frameBytes(kind, body));
}

void SessionServer::closePlayer(qint32 playerId) {
    auto it = std::find_if(m_players.begin(), m_players.end(),
                           [playerId](const Connection* c) { return c->id == playerId; });
    if (it == m_players.end()) {
        return;
    }
    EntryGuard guard(this, EntryGuard::Later);
    Connection& c = **it;
    writeControl(c, FrameKind::Bye, {});
    finishGracefully(c);
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
    m_players.clear();
    m_names.clear();
    m_waiting.clear();
    for (auto& [socket, c] : m_connections) {
        c->waiting = false;
        if (c->state == Connection::Handshake) {
            c->socket->write(
                frameBytes(FrameKind::Refuse,
                           encodeRefuse({static_cast<std::uint8_t>(RefuseReason::ShuttingDown),
                                         "The server is shutting down"})));
        } else if (c->state == Connection::Welcomed) {
            c->socket->write(frameBytes(FrameKind::Bye, {}));
        } else {
            continue;
        }
        c->state = Connection::Closing;
        c->since = m_clock.elapsed();
        // Hand the last frames to the system now: the program may end next.
        c->socket->flush();
        c->socket->disconnectFromHost();
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

void SessionServer::stopWaiting(Connection& c) {
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
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(fd)) {
            ::close(fd);
            delete socket;
            continue;
        }
        makeRoomForHandshake();
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // Until WELCOME only a short HELLO is legal; a welcomed client's bytes are
        // then taken in bounded bites, so a fast sender waits in its own TCP
        // window instead of in the server's memory.
        socket->setReadBufferSize(HandshakeReadBufferSize);
        auto c = std::make_unique<Connection>();
        c->socket = socket;
        c->reader.setMaxLength(MaxHandshakeFrameLength);
        c->since = c->lastReceived = c->lastSent = m_clock.elapsed();
        Connection* raw = c.get();
        raw->waitingAt = m_waiting.insert(m_waiting.end(), raw);
        raw->waiting = true;
        m_connections.emplace(socket, std::move(c));
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] {
            QPointer<SessionServer> self(this);
            for (;;) {
                {
                    EntryGuard guard(this);
                    readFrom(*raw);
                }
                // A slot that ran the event loop while handling these events let the socket
                // buffer more bytes without another readyRead: take them now. (Connections
                // are only freed from the event loop, so raw is still valid here.)
                if (!self || raw->state == Connection::Dead || raw->socket->bytesAvailable() <= 0) {
                    break;
                }
            }
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            EntryGuard guard(this);
            onDisconnected(socket);
        });
        // Bytes may have come with the connection already.
        if (socket->bytesAvailable() > 0) {
            readFrom(*raw);
        }
    }
}

void SessionServer::readFrom(Connection& c) {
    if (c.state == Connection::Dead) {
        return;
    }
    const qint64 available = c.socket->bytesAvailable();
    if (available <= 0) {
        return;
    }
    if (c.state == Connection::Closing) {
        // Nothing more is accepted; read it away so the close stays orderly.
        c.socket->skip(available);
        return;
    }
    char* room = c.reader.prepare(std::size_t(available));
    const qint64 got = c.socket->read(room, available);
    c.reader.commit(got > 0 ? std::size_t(got) : 0);
    const qint64 now = m_clock.elapsed();

    Frame frame;
    while (c.state == Connection::Handshake || c.state == Connection::Welcomed) {
        const FrameReader::Result result = c.reader.next(frame);
        if (result == FrameReader::Result::NeedMore) {
            break;
        }
        if (result == FrameReader::Result::Error) {
            if (c.state != Connection::Handshake) {
                drop(c);
            } else if (c.reader.error() == FrameError::BadLength &&
                       c.reader.maxLength() < MaxFrameLength) {
                refuse(c, RefuseReason::MalformedHandshake,
                       QStringLiteral("Bad frame: longer than %1 bytes before WELCOME")
                           .arg(c.reader.maxLength()));
            } else {
                refuse(c, RefuseReason::MalformedHandshake,
                       QStringLiteral("Bad frame: %1").arg(describe(c.reader.error())));
            }
            break;
        }
        c.lastReceived = now;
        if (c.state == Connection::Handshake) {
            handleHandshake(c, frame);
        } else if (!handleSessionFrame(c, frame)) {
            break;
        }
    }
}

void SessionServer::handleHandshake(Connection& c, const Frame& frame) {
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
    if (version != ProtocolVersion) {
        refuse(c, RefuseReason::UnsupportedVersion,
               QStringLiteral("Protocol version %1 is not supported; this server speaks version %2")
                   .arg(version)
                   .arg(ProtocolVersion));
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
    if (!isValidPlayerName(hello.playerName)) {
        refuse(c, RefuseReason::MalformedHandshake,
               QStringLiteral("The player name must be valid UTF-8 of at most %1 bytes")
                   .arg(MaxPlayerNameBytes));
        return;
    }
    // The server's own player holds one of the places.
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
    stopWaiting(c);
    c.id = static_cast<qint32>(m_nextId++);
    c.state = Connection::Welcomed;
    c.reader.setMaxLength(MaxFrameLength);
    c.socket->setReadBufferSize(ReadBufferSize);
    m_names[c.id] = name;
    writeTo(c, frameBytes(FrameKind::Welcome,
                          encodeWelcome({c.id, std::string(m_sessionName.constData(),
                                                           std::size_t(m_sessionName.size()))})));
    m_players.push_back(&c);
    post({Event::Created, c.id, {}});
}

bool SessionServer::handleSessionFrame(Connection& c, const Frame& frame) {
    switch (frame.kind) {
    case FrameKind::Data:
        // A message starts with its type byte, so an empty one breaks the protocol.
        if (frame.body.empty()) {
            break;
        }
        if (!withinFloodLimit(c, m_clock.elapsed(), frame.body.size())) {
            // Relaying it would push the players who keep up towards their backlog
            // limit: the flooder goes, not they.
            writeControl(c, FrameKind::Bye, {});
            finishGracefully(c);
            return false;
        }
        post({Event::Received, c.id, QByteArray(frame.body.data(), qsizetype(frame.body.size()))});
        return true;
    case FrameKind::Ping: {
        std::uint32_t token = 0;
        if (!decodeToken(frame.body, token)) {
            break;
        }
        writeControl(c, FrameKind::Pong, encodeToken(token));
        return c.state == Connection::Welcomed;
    }
    case FrameKind::Pong: {
        std::uint32_t token = 0;
        if (!decodeToken(frame.body, token)) {
            break;
        }
        return true;
    }
    case FrameKind::Bye:
        if (!decodeBye(frame.body)) {
            break;
        }
        finishGracefully(c);
        return false;
    case FrameKind::Hello:
    case FrameKind::Welcome:
    case FrameKind::Refuse:
        break;
    }
    // Anything else breaks the protocol and ends the connection.
    drop(c);
    return false;
}

bool SessionServer::withinFloodLimit(Connection& c, qint64 now, std::size_t bytes) {
    if (m_floodLimit <= 0) {
        return true;
    }
    const qint64 slot = now / FloodSlotMs;
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

void SessionServer::refuse(Connection& c, RefuseReason reason, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    writeTo(c, frameBytes(FrameKind::Refuse,
                          encodeRefuse({static_cast<std::uint8_t>(reason),
                                        std::string(utf8.constData(), std::size_t(utf8.size()))})));
    finishGracefully(c);
}

void SessionServer::finishGracefully(Connection& c) {
    if (c.state == Connection::Dead || c.state == Connection::Closing) {
        return;
    }
    stopWaiting(c);
    leaveSession(c);
    c.state = Connection::Closing;
    c.since = m_clock.elapsed();
    // Waits for what is queued to go out; may report the disconnect at once.
    c.socket->disconnectFromHost();
}

void SessionServer::drop(Connection& c) {
    if (c.state == Connection::Dead) {
        return;
    }
    stopWaiting(c);
    leaveSession(c);
    c.state = Connection::Dead;
    c.socket->abort();
    scheduleReap();
}

void SessionServer::leaveSession(Connection& c) {
    if (c.state != Connection::Welcomed) {
        return;
    }
    m_players.erase(std::remove(m_players.begin(), m_players.end(), &c), m_players.end());
    post({Event::Destroyed, c.id, {}});
}

void SessionServer::onDisconnected(QTcpSocket* socket) {
    auto it = m_connections.find(socket);
    if (it == m_connections.end()) {
        return;
    }
    Connection& c = *it->second;
    stopWaiting(c);
    leaveSession(c);
    c.state = Connection::Dead;
    scheduleReap();
}

void SessionServer::checkLiveness() {
    const qint64 now = m_clock.elapsed();
    const qint64 handshakeLimit = m_timings.handshakeTimeout.count();
    const qint64 idleLimit = m_timings.pingAfterIdle.count();
    const qint64 silenceLimit = m_timings.lostAfterSilence.count();
    for (auto& [socket, c] : m_connections) {
        switch (c->state) {
        case Connection::Handshake:
            if (now - c->since >= handshakeLimit) {
                refuse(*c, RefuseReason::MalformedHandshake,
                       QStringLiteral("No HELLO arrived in time"));
            }
            break;
        case Connection::Welcomed:
            if (now - c->lastReceived >= silenceLimit) {
                drop(*c);
            } else if (now - c->lastSent >= idleLimit) {
                writeControl(*c, FrameKind::Ping, encodeToken(m_nextToken++));
            }
            break;
        case Connection::Closing:
            // A peer that never reads would keep the close waiting for ever.
            if (now - c->since >= silenceLimit) {
                c->state = Connection::Dead;
                c->socket->abort();
                scheduleReap();
            }
            break;
        case Connection::Dead:
            break;
        }
    }
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
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if (it->second->state == Connection::Dead) {
            it->first->disconnect(this);
            it->first->deleteLater();
            it = m_connections.erase(it);
        } else {
            ++it;
        }
    }
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
            emit messageReceived(event.playerId, event.message);
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
