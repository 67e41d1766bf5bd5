#include "Common/transport/ConnectionSocket.h"

#include "Common/transport/FrameReader.h"

#include <QEvent>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpSocket>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace gemvolt::transport {

namespace {

// One read from the system at most; a board snapshot is about 1.2 KB.
constexpr qint64 ReadPiece = 64 * 1024;

// Where a read lands before the frame reader takes it: one per thread that reads
// through a DirectSocket, made on its first read. (A buffer in thread-local storage
// itself would be cleared for every thread of every program that links this.)
char* readPiece() {
    thread_local std::unique_ptr<char[]> piece;
    if (!piece) {
        piece = std::make_unique<char[]>(std::size_t(ReadPiece));
    }
    return piece.get();
}

// A notifier that calls its socket from the loop's event itself. Every relayed
// message wakes the accepting end, and QSocketNotifier's own answer, two signals
// behind a guard, delayed every delivery of it by several microseconds.
class CallingNotifier final : public QSocketNotifier {
public:
    CallingNotifier(int fd, Type type, DirectSocket* socket, void (DirectSocket::*ready)())
        : QSocketNotifier(qintptr(fd), type, socket), m_socket(socket), m_ready(ready) {}

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::SockAct || event->type() == QEvent::SockClose) {
            (m_socket->*m_ready)();
            return true;
        }
        return QSocketNotifier::event(event);
    }

private:
    DirectSocket* m_socket;
    void (DirectSocket::*m_ready)();
};

void call(const std::function<void()>& event) {
    // A copy: the event may replace the socket's events, this one included.
    const std::function<void()> run = event;
    if (run) {
        run();
    }
}

} // namespace

// ----- QtConnectionSocket -----------------------------------------------------------

QtConnectionSocket::QtConnectionSocket(QTcpSocket* socket) : m_socket(socket) {}

QtConnectionSocket::~QtConnectionSocket() = default;

void QtConnectionSocket::follow(Events events) {
    // The socket is the context: its signals stop with it, whoever deletes it.
    m_socket->disconnect();
    const auto forward = [this](auto signal, const std::function<void()>& run) {
        if (run) {
            QObject::connect(m_socket, signal, m_socket, [run] { call(run); });
        }
    };
    forward(&QTcpSocket::readyRead, events.readable);
    forward(&QTcpSocket::connected, events.connected);
    forward(&QTcpSocket::disconnected, events.disconnected);
    forward(&QTcpSocket::errorOccurred, events.failed);
}

ConnectionSocket::State QtConnectionSocket::state() const {
    switch (m_socket->state()) {
    case QAbstractSocket::UnconnectedState:
        return State::Unconnected;
    case QAbstractSocket::ConnectedState:
        return State::Connected;
    case QAbstractSocket::ClosingState:
        return State::Closing;
    default:
        return State::Connecting;
    }
}

qintptr QtConnectionSocket::descriptor() const {
    return m_socket->socketDescriptor();
}

qint64 QtConnectionSocket::bytesToWrite() const {
    return m_socket->bytesToWrite();
}

void QtConnectionSocket::write(const char* data, qint64 size) {
    m_socket->write(data, size);
}

void QtConnectionSocket::flush() {
    m_socket->flush();
}

qint64 QtConnectionSocket::readInto(FrameReader& reader, qint64 max) {
    const qint64 available = std::min(m_socket->bytesAvailable(), max);
    if (available <= 0) {
        return 0;
    }
    char* room = reader.prepare(std::size_t(available));
    const qint64 got = m_socket->read(room, available);
    reader.commit(got > 0 ? std::size_t(got) : 0);
    return got;
}

bool QtConnectionSocket::holdsInput() const {
    return m_socket->bytesAvailable() > 0;
}

void QtConnectionSocket::discardInput() {
    m_socket->skip(m_socket->bytesAvailable());
}

void QtConnectionSocket::setReadBudget(qint64 bytes) {
    m_socket->setReadBufferSize(bytes);
}

void QtConnectionSocket::disconnectFromHost() {
    m_socket->disconnectFromHost();
}

void QtConnectionSocket::abort() {
    m_socket->abort();
}

QString QtConnectionSocket::errorString() const {
    return m_socket->errorString();
}

void QtConnectionSocket::deleteLater() {
    m_socket->disconnect();
    m_socket->deleteLater();
    delete this;
}

// ----- DirectSocket -----------------------------------------------------------------

DirectSocket::DirectSocket(int fd, QObject* parent) : QObject(parent), m_fd(fd) {
    m_readNotifier =
        new CallingNotifier(fd, QSocketNotifier::Read, this, &DirectSocket::readyToRead);
    m_writeNotifier =
        new CallingNotifier(fd, QSocketNotifier::Write, this, &DirectSocket::readyToWrite);
    m_writeNotifier->setEnabled(false);
}

DirectSocket::~DirectSocket() {
    m_events = {};
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void DirectSocket::follow(Events events) {
    m_events = std::move(events);
}

void DirectSocket::write(const char* data, qint64 size) {
    if (m_fd < 0 || size <= 0) {
        return;
    }
    if (m_queueSent > 0 && m_queueSent >= m_queue.size() / 2) {
        m_queue.remove(0, m_queueSent);
        m_queueSent = 0;
    }
    m_queue.append(data, size);
    m_writeNotifier->setEnabled(true);
}

void DirectSocket::flush() {
    if (bytesToWrite() == 0) {
        return;
    }
    while (m_fd >= 0 && bytesToWrite() > 0) {
        const ssize_t sent = ::send(m_fd, m_queue.constData() + m_queueSent,
                                    std::size_t(bytesToWrite()), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
            m_queueSent += sent;
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        } else {
            fail(sent < 0 ? errno : EPIPE);
            return;
        }
    }
    if (m_fd < 0) {
        return;
    }
    m_queue.truncate(0);
    m_queueSent = 0;
    m_writeNotifier->setEnabled(false);
    if (m_state == State::Closing) {
        close({});
    }
}

qint64 DirectSocket::readInto(FrameReader& reader, qint64 max) {
    m_readCalled = true;
    if (m_fd < 0 || m_ended || max <= 0) {
        return 0;
    }
    if (!m_inReadable && !m_readNotifier->isEnabled()) {
        // Reading again after a pause: the system tells when more comes.
        m_readNotifier->setEnabled(true);
    }
    const qint64 room = std::min({max, ReadPiece, m_readBudget - m_readThisTurn});
    if (room <= 0 || (m_inReadable && m_drained)) {
        // This turn's share is taken, or the system had less than was asked for and
        // would only answer "nothing more" now: the notifier calls again for the rest.
        return 0;
    }
    char* piece = readPiece();
    ssize_t got = -1;
    do {
        got = ::recv(m_fd, piece, std::size_t(room), MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        reader.append(piece, std::size_t(got));
        m_readThisTurn += got;
        m_drained = got < room;
        return got;
    }
    if (got == 0) {
        m_ended = true;
        m_error = QStringLiteral("The remote host closed the connection");
    } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
        m_ended = true;
        m_error = QString::fromLocal8Bit(std::strerror(errno));
    }
    return 0;
}

void DirectSocket::discardInput() {
    m_readCalled = true;
    char* piece = readPiece();
    while (m_fd >= 0 && !m_ended && m_readThisTurn < m_readBudget) {
        const ssize_t got = ::recv(m_fd, piece, std::size_t(ReadPiece), MSG_DONTWAIT);
        if (got > 0) {
            m_readThisTurn += got;
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                m_ended = true;
            }
            return;
        }
    }
}

void DirectSocket::readyToRead() {
    if (m_inReadable) {
        // An event loop run from inside our own report: the outer turn reads on.
        m_readNotifier->setEnabled(false);
        return;
    }
    m_readCalled = false;
    if (!reportReadable()) {
        return;
    }
    if (m_ended) {
        // What came before the end has been taken; now the end itself.
        close(m_error);
        return;
    }
    // Nobody read: the notifier waits for the next read rather than calling at once again.
    m_readNotifier->setEnabled(m_readCalled);
}

bool DirectSocket::reportReadable() {
    QPointer<DirectSocket> self(this);
    m_readThisTurn = 0;
    m_drained = false;
    m_inReadable = true;
    call(m_events.readable);
    if (!self) {
        return false;
    }
    m_inReadable = false;
    return m_fd >= 0;
}

void DirectSocket::readyToWrite() {
    flush();
}

void DirectSocket::disconnectFromHost() {
    if (m_fd < 0 || m_state == State::Unconnected) {
        return;
    }
    if (bytesToWrite() == 0) {
        close({});
        return;
    }
    m_state = State::Closing;
}

void DirectSocket::abort() {
    close({});
}

void DirectSocket::close(const QString& why) {
    if (m_fd < 0) {
        return;
    }
    if (!why.isEmpty()) {
        m_error = why;
    }
    const bool wasOpen = m_state != State::Unconnected;
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    ::close(m_fd);
    m_fd = -1;
    m_state = State::Unconnected;
    m_queue.clear();
    m_queueSent = 0;
    if (wasOpen) {
        call(m_events.disconnected);
    }
}

void DirectSocket::fail(int error) {
    m_error = QString::fromLocal8Bit(std::strerror(error));
    // What the peer sent before it went, perhaps its BYE, can still be read while
    // the descriptor is open: a BYE read now ends its session for good rather than
    // leaving it held as if the network had broken.
    if (!m_inReadable && !reportReadable()) {
        return;
    }
    QPointer<DirectSocket> self(this);
    call(m_events.failed);
    if (self) {
        close({});
    }
}

} // namespace gemvolt::transport
