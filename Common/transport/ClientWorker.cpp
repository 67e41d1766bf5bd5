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
    : m_timings(timings), m_outgoing(std::move(outgoing)), m_incoming(std::move(incoming)) {
    m_clock.start();
}

void ClientWorker::start(quint64 generation, const QString& host, quint16 port,
                         const QByteArray& hello) {
    // A session still open says goodbye before the new connection starts; what
    // waits to be sent already belongs to the new one.
    endConnection(false);
    discardSocket();
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
        connect(m_checkTimer, &QTimer::timeout, this, &ClientWorker::checkLiveness);
    }
    m_generation = generation;
    m_hello = hello;
    m_reader.reset();
    m_state = State::Connecting;
    m_socket = new QTcpSocket(this);
    m_socket->setReadBufferSize(ReadChunk);
    connect(m_socket, &QTcpSocket::connected, this, &ClientWorker::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientWorker::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &ClientWorker::onDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &ClientWorker::onError);
    m_connectTimer->start(m_timings.connectTimeout);
    m_socket->connectToHost(host, port);
}

void ClientWorker::onConnected() {
    if (m_state != State::Connecting) {
        return;
    }
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_state = State::Handshaking;
    m_socket->write(m_hello);
    m_lastSent = m_clock.elapsed();
}

void ClientWorker::onReadyRead() {
    // Frames left in the reader by a pause go first, in order.
    if (!takeFrames()) {
        return;
    }
    for (;;) {
        const qint64 available = std::min(m_socket->bytesAvailable(), ReadChunk);
        if (available <= 0) {
            return;
        }
        char* room = m_reader.prepare(std::size_t(available));
        const qint64 got = m_socket->read(room, available);
        m_reader.commit(got > 0 ? std::size_t(got) : 0);
        if (got <= 0 || !takeFrames()) {
            return;
        }
    }
}

void ClientWorker::resumeReading() {
    if (m_socket) {
        onReadyRead();
    }
}

bool ClientWorker::takeFrames() {
    Frame frame;
    while (m_state == State::Handshaking || m_state == State::Welcomed) {
        if (holdsTooMuch()) {
            return false;
        }
        const FrameReader::Result result = m_reader.next(frame);
        if (result == FrameReader::Result::NeedMore) {
            return true;
        }
        if (result == FrameReader::Result::Error) {
            const QString reason =
                QStringLiteral("The server sent a bad frame (%1)").arg(describe(m_reader.error()));
            if (m_state == State::Handshaking) {
                fail(reason);
            } else {
                terminate(reason, false);
            }
            return false;
        }
        m_lastFrame = m_clock.elapsed();
        if (m_state == State::Handshaking) {
            handleHandshake(frame);
        } else if (!handleSessionFrame(frame)) {
            return false;
        }
    }
    return false;
}

bool ClientWorker::holdsTooMuch() {
    QMutexLocker lock(&m_incoming->mutex);
    if (m_incoming->bytes >= HeldMessagesLimit) {
        m_incoming->paused = true;
    }
    return m_incoming->paused;
}

void ClientWorker::handleHandshake(const Frame& frame) {
    if (frame.kind == FrameKind::Welcome) {
        Welcome welcome;
        if (!decodeWelcome(frame.body, welcome) || welcome.playerId <= 0) {
            fail(QStringLiteral("The server's welcome is malformed"));
            return;
        }
        m_state = State::Welcomed;
        m_lastFrame = m_clock.elapsed();
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

bool ClientWorker::handleSessionFrame(const Frame& frame) {
    switch (frame.kind) {
    case FrameKind::Data:
        if (frame.body.empty()) {
            break;
        }
        handOn(frame.body);
        return true;
    case FrameKind::Ping: {
        std::uint32_t token = 0;
        if (!decodeToken(frame.body, token)) {
            break;
        }
        flushOutgoing();
        write(FrameKind::Pong, encodeToken(token));
        return true;
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
        terminate(QStringLiteral("The server ended the session"), true);
        return false;
    case FrameKind::Hello:
    case FrameKind::Welcome:
    case FrameKind::Refuse:
        break;
    }
    terminate(QStringLiteral("The server broke the protocol"), false);
    return false;
}

void ClientWorker::handOn(std::string_view message) {
    bool post = false;
    {
        QMutexLocker lock(&m_incoming->mutex);
        m_incoming->messages.emplace_back(m_generation,
                                          QByteArray(message.data(), qsizetype(message.size())));
        m_incoming->bytes += qint64(message.size()) + HeldMessageOverhead;
        post = !std::exchange(m_incoming->deliveryPosted, true);
    }
    if (post) {
        emit messagesWaiting();
    }
}

void ClientWorker::onDisconnected() {
    if (m_state == State::Connecting || m_state == State::Handshaking) {
        fail(QStringLiteral("The server closed the connection"));
    } else if (m_state == State::Welcomed) {
        terminate(QStringLiteral("The server closed the connection"), false);
    }
}

void ClientWorker::onError() {
    if (m_state == State::Connecting || m_state == State::Handshaking) {
        fail(m_socket->errorString());
    } else if (m_state == State::Welcomed) {
        terminate(m_socket->errorString(), false);
    }
}

void ClientWorker::checkLiveness() {
    if (m_state != State::Welcomed) {
        return;
    }
    const qint64 now = m_clock.elapsed();
    bool paused = false;
    {
        QMutexLocker lock(&m_incoming->mutex);
        paused = m_incoming->paused;
    }
    if (paused) {
        // Not reading is our own doing: the server is not silent.
        m_lastFrame = now;
    } else if (now - m_lastFrame >= m_timings.lostAfterSilence.count()) {
        terminate(QStringLiteral("The server stopped answering"), false);
    } else if (now - m_lastSent >= m_timings.pingAfterIdle.count()) {
        write(FrameKind::Ping, encodeToken(m_nextToken++));
    }
}

void ClientWorker::write(FrameKind kind, const std::string& body) {
    QByteArray frame(qsizetype(FrameHeaderSize + body.size()), Qt::Uninitialized);
    writeFrameHeader(frame.data(), kind, body.size());
    std::copy(body.begin(), body.end(), frame.data() + FrameHeaderSize);
    m_socket->write(frame);
    m_lastSent = m_clock.elapsed();
}

void ClientWorker::flushOutgoing() {
    QByteArray bytes;
    {
        QMutexLocker lock(&m_outgoing->mutex);
        m_outgoing->flushPosted = false;
        if (m_state != State::Welcomed || m_outgoing->generation != m_generation) {
            // Kept until the session opens (or dropped when the connect fails).
            return;
        }
        bytes.swap(m_outgoing->bytes);
    }
    if (!bytes.isEmpty()) {
        m_socket->write(bytes);
        m_lastSent = m_clock.elapsed();
    }
}

void ClientWorker::fail(const QString& reason) {
    if (m_state != State::Connecting && m_state != State::Handshaking) {
        return;
    }
    m_state = State::Closed;
    stopTimers();
    m_socket->abort();
    emit connectComplete(m_generation, false, 0, reason);
}

void ClientWorker::terminate(const QString& reason, bool graceful) {
    if (m_state != State::Welcomed) {
        return;
    }
    m_state = State::Closed;
    stopTimers();
    if (graceful) {
        m_socket->disconnectFromHost();
    } else {
        m_socket->abort();
    }
    emit sessionTerminated(m_generation, reason);
}

void ClientWorker::closeSession() {
    endConnection(true);
}

void ClientWorker::endConnection(bool sendPending) {
    if (m_state == State::Welcomed) {
        if (sendPending) {
            flushOutgoing();
        }
        write(FrameKind::Bye, {});
        m_state = State::Closed;
        // Hand everything to the system now: the program may end right after.
        m_socket->flush();
        m_socket->disconnectFromHost();
    } else if (m_state == State::Connecting || m_state == State::Handshaking) {
        m_state = State::Closed;
        m_socket->abort();
    }
    m_state = State::Closed;
    stopTimers();
}

void ClientWorker::shutdown() {
    closeSession();
    discardSocket();
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

void ClientWorker::discardSocket() {
    if (!m_socket) {
        return;
    }
    m_socket->disconnect(this);
    if (m_socket->state() != QAbstractSocket::UnconnectedState &&
        m_socket->state() != QAbstractSocket::ClosingState) {
        m_socket->abort();
    }
    delete m_socket;
    m_socket = nullptr;
}

} // namespace gemvolt::transport
