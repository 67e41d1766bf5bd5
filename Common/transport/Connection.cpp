#include "Common/transport/Connection.h"

#include "Common/transport/ControlMessages.h"
#include "Common/transport/SendBatch.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <utility>

namespace gemvolt::transport {

namespace {

// Unacknowledged DATA frames that make an ACK go at once rather than after the delay.
constexpr std::uint32_t AckAtOnceFrames = 64;
// So do this many bytes of them: large frames arriving fast would otherwise fill
// the sender's keep limit within the delay, though this end keeps up.
constexpr std::size_t AckAtOnceBytes = 64 * 1024;

// What is left on a failing socket is read in pieces of this size at most.
constexpr qint64 LastReadChunk = 64 * 1024;

} // namespace

Connection::Connection(ConnectionSocket* socket, Handler& handler, Stage stage, qint64 readChunk)
    : m_handler(handler), m_stage(stage), m_readChunk(readChunk) {
    m_clock.start();
    attach(socket);
}

Connection::Connection(QTcpSocket* socket, Handler& handler, Stage stage, qint64 readChunk)
    : Connection(new QtConnectionSocket(socket), handler, stage, readChunk) {}

Connection::~Connection() {
    detach();
}

void Connection::attach(ConnectionSocket* socket) {
    m_socket = socket;
    m_socket->follow({
        [this] { m_handler.readable(*this); },
        [this] { m_handler.connected(*this); },
        [this] { m_handler.ended(*this, End::Disconnected); },
        [this] { m_handler.ended(*this, End::SocketError); },
    });
}

void Connection::detach() {
    dropBatchedWrite();
    // Silenced first: the socket's last events are no longer this connection's news.
    m_socket->follow({});
    const ConnectionSocket::State state = m_socket->state();
    if (state != ConnectionSocket::State::Unconnected &&
        state != ConnectionSocket::State::Closing) {
        m_socket->abort();
    }
    // Later, not now: this may run inside one of the socket's own signals.
    m_socket->deleteLater();
    m_socket = nullptr;
}

QByteArray Connection::frameBytes(FrameKind kind, std::string_view body) {
    QByteArray out(qsizetype(FrameHeaderSize + body.size()), Qt::Uninitialized);
    writeFrameHeader(out.data(), kind, body.size());
    std::copy(body.begin(), body.end(), out.data() + FrameHeaderSize);
    return out;
}

void Connection::beginHandshake() {
    m_stage = Stage::Handshake;
    m_since = m_lastReceived = m_lastSent = m_lastCheck = now();
}

void Connection::welcome() {
    m_stage = Stage::Welcomed;
    m_reader.setMaxLength(MaxFrameLength);
    m_lastReceived = now();
}

void Connection::finish(bool handOverNow) {
    if (m_stage == Stage::Closing || m_stage == Stage::Dead) {
        return;
    }
    // What is in the batch was sent before the close and goes before it.
    settleBatch();
    // The stage changes first: a flush or a close may report the socket's end at once.
    m_stage = Stage::Closing;
    m_since = now();
    if (handOverNow) {
        m_socket->flush();
        const qintptr fd = m_socket->descriptor();
        if (m_socket->bytesToWrite() == 0 && fd >= 0 &&
            m_socket->state() == ConnectionSocket::State::Connected) {
            // All of it is with the system: our side ends here, and what the peer
            // still sends is read away until it closes too. Closing with its bytes
            // unread would reset the connection, and a reset can cost the peer our
            // last frame.
            ::shutdown(int(fd), SHUT_WR);
            return;
        }
    }
    // Waits for what is queued to go out.
    m_socket->disconnectFromHost();
}

void Connection::awaitPeerClose(std::chrono::milliseconds limit) {
    if (m_stage != Stage::Closing || m_socket->state() != ConnectionSocket::State::Connected) {
        return;
    }
    const qintptr fd = m_socket->descriptor();
    if (fd < 0) {
        return;
    }
    const QDeadlineTimer deadline(limit);
    char scratch[16 * 1024];
    for (;;) {
        pollfd wanted{int(fd), POLLIN, 0};
        const int ready = ::poll(&wanted, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return;
        }
        const ssize_t got = ::recv(int(fd), scratch, sizeof scratch, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            return;
        }
    }
}

void Connection::drop() {
    if (m_stage == Stage::Dead) {
        return;
    }
    m_stage = Stage::Dead;
    dropBatchedWrite();
    if (m_socket->state() != ConnectionSocket::State::Unconnected) {
        m_socket->abort();
    }
}

bool Connection::send(const QByteArray& bytes) {
    if (m_socket->bytesToWrite() + bytes.size() > m_backlogLimit) {
        // Before judging the peer, hand the system what it will take now: a long
        // burst handled without a return to the event loop has not been offered yet.
        m_socket->flush();
        if (m_socket->bytesToWrite() + bytes.size() > m_backlogLimit) {
            // Too far behind: keeping it would only grow our memory.
            m_handler.ended(*this, End::Backlog);
            return false;
        }
    }
    queue(bytes);
    return true;
}

void Connection::queue(const QByteArray& bytes) {
    if (m_timesEach) {
        m_lastSent = now();
    } else {
        m_sentSinceCheck = true;
    }
    if (m_batch && !m_inBatch && m_batch->isOpen() && sendsDirectly()) {
        m_inBatch = true;
        m_batch->add(*this, bytes);
        return;
    }
    // A second write would overtake a first one the system takes only in part.
    settleBatch();
    const qint64 taken = sendNow(bytes);
    if (taken < bytes.size()) {
        m_socket->write(bytes.constData() + taken, bytes.size() - taken);
    }
}

bool Connection::sendsDirectly() const {
    return m_socket->bytesToWrite() == 0 &&
           m_socket->state() == ConnectionSocket::State::Connected && m_socket->descriptor() >= 0;
}

void Connection::settleBatch() {
    if (m_inBatch) {
        m_batch->submit();
    }
}

void Connection::dropBatchedWrite() {
    // Discarded with the rest of what is queued, or with the connection itself.
    if (m_inBatch) {
        m_batch->forget(*this);
        m_inBatch = false;
    }
}

void Connection::sentInBatch(const QByteArray& bytes, qint64 result) {
    m_inBatch = false;
    if (result == bytes.size() || m_stage == Stage::Dead) {
        return;
    }
    // What the system did not take waits in the socket. An error shows again when the
    // socket writes it, and the socket reads what the peer sent before it went (perhaps
    // its BYE) before it closes.
    const qint64 taken = std::max<qint64>(result, 0);
    m_socket->write(bytes.constData() + taken, bytes.size() - taken);
}

void Connection::finishWith(FrameKind kind, std::string_view body) {
    // The last frame goes behind what is queued whatever the backlog: the peer
    // learns why the connection ends.
    queue(frameBytes(kind, body));
    // The program may end next.
    finish(true);
}

bool Connection::sendMessages(const QByteArray& frames, std::uint32_t count) {
    if (m_session && !m_session->keep(frames, count)) {
        // The peer has left this much unacknowledged: it could not be sent
        // again after a resume, so the session cannot go on whole.
        m_handler.ended(*this, End::Backlog);
        return false;
    }
    return send(frames);
}

bool Connection::sendControl(FrameKind kind, const std::string& body) {
    if (m_stage == Stage::Welcomed) {
        // Everything the application sent before this frame goes first.
        m_handler.flushQueued(*this);
        if (m_stage != Stage::Welcomed) {
            return false;
        }
    }
    return send(frameBytes(kind, body));
}

void Connection::flush() {
    m_socket->flush();
}

qint64 Connection::sendNow(const QByteArray& bytes) {
    // With nothing queued in the socket, the bytes go straight to the system: the
    // socket's own buffer would switch its write notifier on and off again for each
    // send, which costs a relay to ten players more than the writes themselves.
    // Whatever the system does not take, or an error it reports, is left to the
    // socket, which queues the rest and reports the error its own way.
    if (!sendsDirectly()) {
        return 0;
    }
    const qintptr fd = m_socket->descriptor();
    for (;;) {
        const ssize_t sent = ::send(int(fd), bytes.constData(), std::size_t(bytes.size()),
                                    MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0) {
            return qint64(sent);
        }
        if (errno == EPIPE || errno == ECONNRESET) {
            // The peer is gone. The socket would close on this error at once, and
            // what the peer sent before it went, perhaps its BYE, with it.
            readWhatIsLeft();
            if (!isOpen()) {
                // It said goodbye: the bytes have nowhere to go.
                return bytes.size();
            }
            return 0;
        }
        if (errno != EINTR) {
            return 0;
        }
    }
}

bool Connection::pump() {
    if (m_stage == Stage::Dead) {
        return false;
    }
    if (m_stage == Stage::Closing) {
        // Nothing more is accepted; read it away so the close stays orderly.
        m_socket->discardInput();
        return false;
    }
    // Frames left in the reader by a pause go first, in order.
    if (!takeFrames()) {
        return false;
    }
    for (;;) {
        const qint64 got = m_socket->readInto(m_reader, m_readChunk);
        if (got == 0) {
            return true;
        }
        if (got < 0 || !takeFrames()) {
            return false;
        }
    }
}

void Connection::readWhatIsLeft() {
    if (!isOpen() || !pump()) {
        return;
    }
    const qintptr fd = m_socket->descriptor();
    if (fd < 0) {
        return;
    }
    const std::size_t chunk = std::size_t(std::min<qint64>(m_readChunk, LastReadChunk));
    for (;;) {
        char* room = m_reader.prepare(chunk);
        ssize_t got = -1;
        do {
            got = ::recv(int(fd), room, chunk, MSG_DONTWAIT);
        } while (got < 0 && errno == EINTR);
        m_reader.commit(got > 0 ? std::size_t(got) : 0);
        if (got <= 0 || !takeFrames()) {
            return;
        }
    }
}

bool Connection::takeFrames() {
    Frame frame;
    while (isOpen()) {
        if (!m_handler.mayRead(*this)) {
            return false;
        }
        const FrameReader::Result result = m_reader.next(frame);
        if (result == FrameReader::Result::NeedMore) {
            return true;
        }
        if (result == FrameReader::Result::Error) {
            m_handler.ended(*this, End::BadFrame);
            return false;
        }
        if (m_timesEach) {
            m_lastReceived = now();
        } else {
            m_receivedSinceCheck = true;
        }
        if (m_session && m_stage == Stage::Welcomed) {
            // The peer has spoken on the connection its last WELCOME came on: it holds that
            // token, and the one it resumed with no longer resumes.
            m_session->confirmToken();
        }
        if (m_stage == Stage::Handshake) {
            m_handler.handshakeFrame(*this, frame);
        } else if (!sessionFrame(frame)) {
            return false;
        }
    }
    return false;
}

bool Connection::sessionFrame(const Frame& frame) {
    switch (frame.kind) {
    case FrameKind::Data:
        // A message starts with its type byte, so an empty one breaks the protocol.
        if (frame.body.empty()) {
            break;
        }
        // Every DATA frame counts, whatever the application makes of it.
        countReceived(frame.body.size());
        return m_handler.message(*this, frame.body);
    case FrameKind::Ping: {
        std::uint32_t token = 0;
        if (!decodeToken(frame.body, token)) {
            break;
        }
        sendControl(FrameKind::Pong, encodeToken(token));
        return m_stage == Stage::Welcomed;
    }
    case FrameKind::Pong: {
        // Its token is not checked: anything arriving is a sign of life.
        std::uint32_t token = 0;
        if (!decodeToken(frame.body, token)) {
            break;
        }
        return true;
    }
    case FrameKind::Ack:
        if (!takeAck(frame.body)) {
            break;
        }
        return m_stage == Stage::Welcomed;
    case FrameKind::Bye:
        if (!decodeBye(frame.body)) {
            break;
        }
        m_handler.ended(*this, End::PeerBye);
        return false;
    case FrameKind::Hello:
    case FrameKind::Welcome:
    case FrameKind::Refuse:
        break;
    }
    m_handler.ended(*this, End::BrokenProtocol);
    return false;
}

void Connection::countReceived(std::size_t bytes) {
    if (!m_session) {
        return;
    }
    m_session->countReceived(bytes);
    if (m_session->unacknowledgedReceived() >= AckAtOnceFrames ||
        m_session->unacknowledgedReceivedBytes() >= AckAtOnceBytes) {
        m_ackAtOnce = true;
    } else if (m_ackDueAt < 0) {
        // A check comes within half the delay and sends it: it goes within the delay.
        m_ackDueAt = now() + m_ackDelay / 2;
        m_handler.checkWithin(*this, m_ackDelay / 2);
    }
}

bool Connection::takeAck(std::string_view body) {
    std::uint32_t count = 0;
    // Legal only on a resumable session, and never above what was sent.
    if (!m_session || !decodeToken(body, count) || !m_session->acknowledge(count)) {
        return false;
    }
    m_handler.acknowledged(*this);
    return true;
}

void Connection::sendUrgentAck() {
    if (m_ackAtOnce && m_stage == Stage::Welcomed) {
        sendAck();
    }
}

void Connection::sendAck() {
    m_ackDueAt = -1;
    m_ackAtOnce = false;
    if (m_session && m_session->unacknowledgedReceived() > 0) {
        sendControl(FrameKind::Ack, encodeToken(m_session->takeAcknowledgement()));
    }
}

void Connection::checkLiveness(const Timings& timings) {
    const qint64 at = now();
    // Unless timed one by one (timeEachFrame(), which a relay to ten players would
    // pay for with eleven clock reads a message), what was received or sent since
    // the last check counts as of that check: every limit holds within one check
    // interval.
    if (std::exchange(m_receivedSinceCheck, false)) {
        m_lastReceived = std::max(m_lastReceived, m_lastCheck);
    }
    if (std::exchange(m_sentSinceCheck, false)) {
        m_lastSent = std::max(m_lastSent, m_lastCheck);
    }
    m_lastCheck = at;
    switch (m_stage) {
    case Stage::Connecting:
    case Stage::Dead:
        break;
    case Stage::Handshake:
        if (at - m_since >= timings.handshakeTimeout.count()) {
            m_handler.ended(*this, End::HandshakeLate);
        }
        break;
    case Stage::Welcomed:
        if (!m_handler.mayRead(*this)) {
            // Not reading is our own doing: the peer is not silent.
            m_lastReceived = at;
        } else if (at - m_lastReceived >= timings.lostAfterSilence.count()) {
            m_handler.ended(*this, End::Silent);
            break;
        }
        if (m_ackDueAt >= 0 && at >= m_ackDueAt) {
            sendAck();
        } else if (at - m_lastSent >= timings.pingAfterIdle.count()) {
            sendControl(FrameKind::Ping, encodeToken(m_nextToken++));
        }
        break;
    case Stage::Closing:
        // A peer that never reads would keep the close waiting for ever.
        if (at - m_since >= timings.lostAfterSilence.count()) {
            drop();
            m_handler.ended(*this, End::Stalled);
        }
        break;
    }
}

qint64 Connection::untilNextCheck(const Timings& timings) {
    if (!m_timesEach) {
        return timings.checkInterval().count();
    }
    // Before WELCOME and while closing, and while this end does not read on purpose
    // (each check then counts the peer as heard), the checks keep the resting pace:
    // every limit still holds within a tenth.
    qint64 due = now() + timings.restingCheckInterval().count();
    if (m_stage == Stage::Welcomed && m_handler.mayRead(*this)) {
        due = std::min(m_lastReceived + timings.lostAfterSilence.count(),
                       m_lastSent + timings.pingAfterIdle.count());
        if (m_ackDueAt >= 0) {
            due = std::min(due, m_ackDueAt);
        }
    }
    return std::max<qint64>(due - now(), 1);
}

} // namespace gemvolt::transport
