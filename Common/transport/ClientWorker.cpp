#include "Common/transport/ClientWorker.h"

#include "Common/transport/ControlMessages.h"

#include <QMutexLocker>
#include <QTcpSocket>
#include <QTimer>

namespace gemvolt::transport {

namespace {

QString secondsText(std::chrono::milliseconds duration) {
    return QString::number(double(duration.count()) / 1000.0);
}

// What the socket takes from the system at most before it is read, and what
// one read takes: a server cannot make the socket thread hold more than this
// besides the messages it hands on and one partial frame.
constexpr qint64 ReadChunk = 256 * 1024;

} // namespace

ClientWorker::ClientWorker(Timings timings, std::shared_ptr<OutgoingFrames> outgoing,
                           std::shared_ptr<IncomingMessages> incoming)
    : m_timings(timings), m_outgoing(std::move(outgoing)), m_incoming(std::move(incoming)) {}

Connection::Stage ClientWorker::stage() const {
    return m_connection ? m_connection->stage() : Connection::Stage::Dead;
}

void ClientWorker::start(quint64 generation, const QString& host, quint16 port,
                         const QByteArray& hello) {
    // A session still open says goodbye before the new connection starts; what
    // waits to be sent already belongs to the new one.
    endConnection(false);
    m_connection.reset();
    if (!m_connectTimer) {
        // Created here, on the network thread, so that they run on it.
        m_connectTimer = new QTimer(this);
        m_connectTimer->setSingleShot(true);
        connect(m_connectTimer, &QTimer::timeout, this, [this] {
            fail(QStringLiteral("No answer from the server within %1 s")
                     .arg(secondsText(m_timings.connectTimeout)));
        });
        m_checkTimer = new QTimer(this);
        m_checkTimer->setInterval(m_timings.checkInterval());
        connect(m_checkTimer, &QTimer::timeout, this, [this] {
            if (stage() == Connection::Stage::Welcomed) {
                m_connection->checkLiveness(m_timings);
            }
        });
    }
    m_generation = generation;
    m_hello = hello;
    auto* socket = new QTcpSocket(this);
    socket->setReadBufferSize(ReadChunk);
    m_connection = std::make_unique<Connection>(socket, static_cast<Handler&>(*this),
                                                Connection::Stage::Connecting, ReadChunk);
    m_connectTimer->start(m_timings.connectTimeout);
    socket->connectToHost(host, port);
}

void ClientWorker::connected(Connection& c) {
    if (c.stage() != Connection::Stage::Connecting) {
        return;
    }
    c.socket()->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    c.beginHandshake();
    c.send(m_hello);
}

void ClientWorker::resumeReading() {
    if (m_connection) {
        m_connection->pump();
    }
}

bool ClientWorker::mayRead(Connection&) {
    QMutexLocker lock(&m_incoming->mutex);
    if (m_incoming->bytes >= HeldMessagesLimit) {
        m_incoming->paused = true;
    }
    return !m_incoming->paused;
}

void ClientWorker::handshakeFrame(Connection& c, const Frame& frame) {
    if (frame.kind == FrameKind::Welcome) {
        Welcome welcome;
        if (!decodeWelcome(frame.body, welcome) || welcome.playerId <= 0) {
            fail(QStringLiteral("The server's welcome is malformed"));
            return;
        }
        c.welcome();
        m_connectTimer->stop();
        m_checkTimer->start();
        flushOutgoing();
        emit connectComplete(m_generation, true, welcome.playerId, QString());
        return;
    }
    if (frame.kind == FrameKind::Refuse) {
        Refuse refuse;
        if (!decodeRefuse(frame.body, refuse)) {
            fail(QStringLiteral("The server refused the connection"));
            return;
        }
        fail(QString::fromUtf8(refuse.text.data(), qsizetype(refuse.text.size())));
        return;
    }
    fail(QStringLiteral("The server broke the handshake"));
}

bool ClientWorker::message(Connection&, std::string_view body) {
    bool post = false;
    {
        QMutexLocker lock(&m_incoming->mutex);
        m_incoming->messages.emplace_back(m_generation,
                                          QByteArray(body.data(), qsizetype(body.size())));
        m_incoming->bytes += qint64(body.size()) + HeldMessageOverhead;
        post = !std::exchange(m_incoming->deliveryPosted, true);
    }
    if (post) {
        emit messagesWaiting();
    }
    return true;
}

void ClientWorker::ended(Connection& c, Connection::End why) {
    const bool handshaking =
        c.stage() == Connection::Stage::Connecting || c.stage() == Connection::Stage::Handshake;
    QString reason;
    bool graceful = false;
    switch (why) {
    case Connection::End::BadFrame:
        reason = QStringLiteral("The server sent a bad frame (%1)").arg(c.badFrameText());
        break;
    case Connection::End::BrokenProtocol:
        reason = QStringLiteral("The server broke the protocol");
        break;
    case Connection::End::PeerBye:
        reason = QStringLiteral("The server ended the session");
        graceful = true;
        break;
    case Connection::End::Silent:
        reason = QStringLiteral("The server stopped answering");
        break;
    case Connection::End::Disconnected:
        reason = QStringLiteral("The server closed the connection");
        break;
    case Connection::End::SocketError:
        reason = c.socket()->errorString();
        break;
    case Connection::End::HandshakeLate:
    case Connection::End::Backlog:
    case Connection::End::Stalled:
        // The connect timer bounds the handshake; nothing caps what the client queues.
        return;
    }
    if (handshaking) {
        fail(reason);
    } else {
        terminate(reason, graceful);
    }
}

void ClientWorker::flushOutgoing() {
    QByteArray bytes;
    {
        QMutexLocker lock(&m_outgoing->mutex);
        m_outgoing->flushPosted = false;
        if (stage() != Connection::Stage::Welcomed || m_outgoing->generation != m_generation) {
            // Kept until the session opens (or dropped when the connect fails).
            return;
        }
        bytes.swap(m_outgoing->bytes);
    }
    if (!bytes.isEmpty()) {
        m_connection->send(bytes);
    }
}

void ClientWorker::fail(const QString& reason) {
    if (stage() != Connection::Stage::Connecting && stage() != Connection::Stage::Handshake) {
        return;
    }
    stopTimers();
    m_connection->drop();
    emit connectComplete(m_generation, false, 0, reason);
}

void ClientWorker::terminate(const QString& reason, bool graceful) {
    if (stage() != Connection::Stage::Welcomed) {
        return;
    }
    stopTimers();
    if (graceful) {
        m_connection->finish();
    } else {
        m_connection->drop();
    }
    emit sessionTerminated(m_generation, reason);
}

void ClientWorker::closeSession() {
    endConnection(true);
}

void ClientWorker::endConnection(bool sendPending) {
    if (stage() == Connection::Stage::Welcomed) {
        if (sendPending) {
            flushOutgoing();
        }
        m_connection->finishWith(FrameKind::Bye, {});
    } else if (stage() == Connection::Stage::Connecting ||
               stage() == Connection::Stage::Handshake) {
        // A connect or handshake still under way is given up.
        m_connection->drop();
    }
    stopTimers();
}

void ClientWorker::shutdown() {
    closeSession();
    m_connection.reset();
    delete m_connectTimer;
    m_connectTimer = nullptr;
    delete m_checkTimer;
    m_checkTimer = nullptr;
}

void ClientWorker::stopTimers() {
    if (m_connectTimer) {
        m_connectTimer->stop();
        m_checkTimer->stop();
    }
}

} // namespace gemvolt::transport
