#include "Common/transport/ClientWorker.h"

#include "Common/transport/ControlMessages.h"

#include <QMutexLocker>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace gemvolt::transport {

namespace {

QString secondsText(std::chrono::milliseconds duration) {
    return QString::number(double(duration.count()) / 1000.0);
}

// What the socket takes from the system at most before it is read, and what
// one read takes: a server cannot make the socket thread hold more than this
// besides the messages it hands on and one partial frame.
constexpr qint64 ReadChunk = 256 * 1024;

// How long an ending program waits for the server to close after our BYE.
constexpr std::chrono::milliseconds ShutdownLinger{300};

} // namespace

ClientWorker::ClientWorker(Timings timings, std::shared_ptr<OutgoingFrames> outgoing,
                           std::shared_ptr<IncomingMessages> incoming)
    : m_timings(timings), m_outgoing(std::move(outgoing)), m_incoming(std::move(incoming)) {}

Connection::Stage ClientWorker::stage() const {
    return m_connection ? m_connection->stage() : Connection::Stage::Dead;
}

void ClientWorker::makeTimers() {
    if (m_connectTimer) {
        return;
    }
    // Created here, on the network thread, so that they run on it.
    m_connectTimer = new QTimer(this);
    m_connectTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, [this] {
        if (m_resuming) {
            tryFailed();
            return;
        }
        fail(QStringLiteral("No answer from the server within %1 s")
                 .arg(secondsText(m_timings.connectTimeout)));
    });
    m_checkTimer = new QTimer(this);
    // A connected client mostly waits. Its connection times each frame, and each
    // check sleeps until the next limit could pass: an idle program wakes a few
    // times in ten seconds, not eight times a second. Never early: an early check
    // would only sleep again.
    m_checkTimer->setSingleShot(true);
    m_checkTimer->setTimerType(Qt::PreciseTimer);
    connect(m_checkTimer, &QTimer::timeout, this, [this] {
        if (stage() == Connection::Stage::Welcomed) {
            checkNow(*m_connection);
        }
    });
    m_retryTimer = new QTimer(this);
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &ClientWorker::connectNow);
    m_giveUpTimer = new QTimer(this);
    m_giveUpTimer->setSingleShot(true);
    connect(m_giveUpTimer, &QTimer::timeout, this, [this] {
        giveUp(QStringLiteral("The connection to the server was lost and could not be resumed "
                              "within %1 s")
                   .arg(secondsText(m_timings.resumeGiveUp)));
    });
}

void ClientWorker::checkNow(Connection& c) {
    c.checkLiveness(m_timings);
    // The check may have ended the connection.
    if (stage() == Connection::Stage::Welcomed) {
        m_checkTimer->start(std::chrono::milliseconds(c.untilNextCheck(m_timings)));
    }
}

void ClientWorker::checkWithin(Connection&, qint64 ms) {
    // Checks run only on a welcomed connection; a sooner one stands.
    if (m_checkTimer->isActive() && m_checkTimer->remainingTime() > ms) {
        m_checkTimer->start(std::chrono::milliseconds(ms));
    }
}

void ClientWorker::start(quint64 generation, const QString& host, quint16 port,
                         const std::string& name, const std::string& applicationId) {
    // A session still open says goodbye before the new connection starts; what
    // waits to be sent already belongs to the new one.
    endConnection(false);
    m_connection.reset();
    makeTimers();
    m_generation = generation;
    m_host = host;
    m_port = port;
    m_name = name;
    m_applicationId = applicationId;
    m_version = m_timings.clientVersion;
    m_session.reset();
    m_token.clear();
    m_playerId = 0;
    m_resuming = false;
    connectNow();
}

void ClientWorker::connectNow() {
    // Never from inside a signal of the connection it replaces: this runs from
    // start() or from a timer.
    m_connection.reset();
    auto* socket = new QTcpSocket(this);
    socket->setReadBufferSize(ReadChunk);
    m_connection = std::make_unique<Connection>(socket, static_cast<Handler&>(*this),
                                                Connection::Stage::Connecting, ReadChunk);
    // Its checks then sleep from one limit to the next (see makeTimers()).
    m_connection->timeEachFrame();
    m_connectTimer->start(m_timings.connectTimeout);
    socket->connectToHost(m_host, m_port);
}

QByteArray ClientWorker::hello() {
    Hello h{m_version, m_applicationId, m_name};
    if (m_resuming) {
        h.resumeToken = m_token;
        h.receivedCount = m_session->takeAcknowledgement();
    }
    return Connection::frameBytes(FrameKind::Hello, encodeHello(h));
}

void ClientWorker::connected(Connection& c) {
    if (c.stage() != Connection::Stage::Connecting) {
        return;
    }
    if (const qintptr fd = c.socket()->descriptor(); fd >= 0) {
        const int noDelay = 1;
        ::setsockopt(int(fd), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    }
    c.beginHandshake();
    c.send(hello());
}

void ClientWorker::resumeReading() {
    if (m_connection) {
        m_connection->pump();
        m_connection->sendUrgentAck();
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
        if (!decodeWelcome(frame.body, welcome, m_version) || welcome.playerId <= 0 ||
            (m_version != ProtocolVersion && !isWellFormedResumeToken(welcome.resumeToken))) {
            const QString reason = QStringLiteral("The server's welcome is malformed");
            m_resuming ? giveUp(reason) : fail(reason);
            return;
        }
        m_resuming ? resumed(c, welcome) : welcomed(c, welcome);
        return;
    }
    if (frame.kind == FrameKind::Refuse) {
        Refuse refuse;
        if (!decodeRefuse(frame.body, refuse)) {
            const QString reason = QStringLiteral("The server refused the connection");
            m_resuming ? giveUp(reason) : fail(reason);
            return;
        }
        const QString reason = QString::fromUtf8(refuse.text.data(), qsizetype(refuse.text.size()));
        if (m_resuming) {
            // Whatever the reason, the server no longer has the session.
            giveUp(reason);
        } else if (refuse.reason == std::uint8_t(RefuseReason::UnsupportedVersion) &&
                   m_version != ProtocolVersion) {
            // A server of the first version: a new session in that version, without resuming.
            m_version = ProtocolVersion;
            c.drop();
            m_connectTimer->stop();
            m_retryTimer->start(0);
        } else {
            fail(reason);
        }
        return;
    }
    const QString reason = QStringLiteral("The server broke the handshake");
    m_resuming ? giveUp(reason) : fail(reason);
}

void ClientWorker::welcomed(Connection& c, const Welcome& welcome) {
    if (m_version != ProtocolVersion) {
        if (welcome.receivedCount != 0) {
            fail(QStringLiteral("The server's welcome is malformed"));
            return;
        }
        m_session = std::make_unique<ResumableSession>(ClientKeepLimit);
        m_token = welcome.resumeToken;
    }
    m_playerId = welcome.playerId;
    c.welcome();
    c.setResumable(m_session.get(), m_timings.ackDelay);
    m_connectTimer->stop();
    checkNow(c);
    flushOutgoing();
    emit connectComplete(m_generation, true, welcome.playerId, QString());
}

void ClientWorker::resumed(Connection& c, const Welcome& welcome) {
    if (welcome.playerId != m_playerId || !m_session->canResumeFrom(welcome.receivedCount)) {
        giveUp(QStringLiteral("The server resumed another session"));
        return;
    }
    m_resuming = false;
    m_retryTimer->stop();
    m_giveUpTimer->stop();
    m_connectTimer->stop();
    m_token = welcome.resumeToken;
    m_session->acknowledge(welcome.receivedCount);
    c.welcome();
    c.setResumable(m_session.get(), m_timings.ackDelay);
    checkNow(c);
    // What the server missed goes first, in order, then what the application sent meanwhile.
    const QByteArray again = m_session->framesAfter(welcome.receivedCount);
    if (!again.isEmpty()) {
        c.send(again);
    }
    emit connectionResumed(m_generation);
    flushOutgoing();
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
        if (!m_resuming) {
            fail(reason);
        } else if (why == Connection::End::BadFrame || why == Connection::End::BrokenProtocol) {
            giveUp(reason);
        } else {
            tryFailed();
        }
    } else if (m_session && c.stage() == Connection::Stage::Welcomed &&
               (why == Connection::End::Disconnected || why == Connection::End::Silent ||
                why == Connection::End::SocketError)) {
        // Lost without BYE: the session may go on over a new connection.
        interrupt();
    } else {
        terminate(reason, graceful);
    }
}

void ClientWorker::interrupt() {
    stopTimers();
    m_connection->drop();
    m_resuming = true;
    m_failedTries = 0;
    m_giveUpTimer->start(m_timings.resumeGiveUp);
    // At once, yet not from inside a signal of the connection being replaced.
    m_retryTimer->start(0);
    emit connectionInterrupted(m_generation);
}

void ClientWorker::tryFailed() {
    if (!m_resuming) {
        return;
    }
    m_connectTimer->stop();
    m_connection->drop();
    ++m_failedTries;
    // 1, 2, 4, 8 s, then every 8 s (the defaults); the give-up timer ends it in any case.
    std::chrono::milliseconds wait = m_timings.resumeLongestWait;
    if (m_failedTries <= 16) {
        wait = std::min(wait, std::chrono::milliseconds(m_timings.resumeFirstWait.count()
                                                        << (m_failedTries - 1)));
    }
    // A wait that would run past the give-up becomes one last try shortly before
    // it, so an outage of nearly the whole hold still resumes (with the defaults,
    // a try 29.5 s after the loss rather than none after the one at 23 s).
    // No last try hard on the heels of a failed one: it would find the same outage.
    const std::chrono::milliseconds left(m_giveUpTimer->remainingTime());
    const std::chrono::milliseconds margin = m_timings.resumeFirstWait / 2;
    if (wait >= left) {
        if (left - margin < m_timings.resumeFirstWait) {
            return;
        }
        wait = left - margin;
    }
    m_retryTimer->start(wait);
}

void ClientWorker::giveUp(const QString& reason) {
    if (!m_resuming) {
        return;
    }
    stopTimers();
    m_resuming = false;
    m_session.reset();
    if (m_connection) {
        m_connection->drop();
    }
    emit sessionTerminated(m_generation, reason);
}

void ClientWorker::flushOutgoing() {
    sendOutgoing(false);
}

void ClientWorker::sendOutgoing(bool all) {
    QByteArray bytes;
    std::uint32_t frames = 0;
    {
        QMutexLocker lock(&m_outgoing->mutex);
        m_outgoing->flushPosted = false;
        if (stage() != Connection::Stage::Welcomed || m_outgoing->generation != m_generation) {
            // Kept until the session opens or resumes (or dropped when it ends).
            return;
        }
        QByteArray& queued = m_outgoing->bytes;
        if (!m_session || all) {
            bytes.swap(queued);
        } else {
            // Whole frames while the keep limit has room: the rest waits here for
            // acknowledgements, so what a resume sends again stays within the limit.
            qsizetype taken = 0;
            while (taken < queued.size()) {
                const qsizetype size =
                    qsizetype(FrameHeaderSize - 1) + qsizetype(getU32(queued.constData() + taken));
                // One frame always goes when nothing waits for acknowledgement.
                const bool alone = taken == 0 && m_session->keptBytes() == 0;
                if (!alone && m_session->keptBytes() + taken + size > m_session->keepLimit()) {
                    break;
                }
                taken += size;
                ++frames;
            }
            if (taken == queued.size()) {
                bytes.swap(queued);
            } else if (taken > 0) {
                bytes = queued.left(taken);
                queued.remove(0, taken);
            }
        }
    }
    if (bytes.isEmpty()) {
        return;
    }
    if (all) {
        // The session ends with what follows: nothing will be sent again.
        m_connection->send(bytes);
    } else {
        m_connection->sendMessages(bytes, frames);
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
    // The session is over for good: nothing of it is kept for a resume.
    m_connection->setResumable(nullptr, m_timings.ackDelay);
    m_session.reset();
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
    m_resuming = false;
    m_session.reset();
    if (stage() == Connection::Stage::Welcomed) {
        m_connection->setResumable(nullptr, m_timings.ackDelay);
        if (sendPending) {
            sendOutgoing(true);
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
    if (m_connection) {
        // The program ends next: a moment for the server to close its side after our BYE.
        m_connection->awaitPeerClose(ShutdownLinger);
    }
    m_connection.reset();
    delete m_connectTimer;
    m_connectTimer = nullptr;
    delete m_checkTimer;
    m_checkTimer = nullptr;
    delete m_retryTimer;
    m_retryTimer = nullptr;
    delete m_giveUpTimer;
    m_giveUpTimer = nullptr;
}

void ClientWorker::stopTimers() {
    if (m_connectTimer) {
        m_connectTimer->stop();
        m_checkTimer->stop();
        m_retryTimer->stop();
        m_giveUpTimer->stop();
    }
}

} // namespace gemvolt::transport
