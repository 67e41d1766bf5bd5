#include "WirePeer.h"

#include "Common/transport/ControlMessages.h"

#include <QSignalSpy>
#include <QTest>

namespace gemvolt::testing {

using transport::FrameKind;

WirePeer::WirePeer() {
    adopt(new QTcpSocket(this));
}

bool WirePeer::acceptHello(QTcpServer& listener, transport::Hello& hello) {
    QSignalSpy incoming(&listener, &QTcpServer::newConnection);
    if (!listener.hasPendingConnections() && !incoming.wait(5000)) {
        return false;
    }
    adopt(listener.nextPendingConnection());
    Received frame;
    return waitForKind(FrameKind::Hello, frame) &&
           transport::decodeHello(frame.body.toStdString(), hello);
}

void WirePeer::adopt(QTcpSocket* socket) {
    if (m_socket && m_socket != socket) {
        m_socket->disconnect(this);
        m_socket->deleteLater();
    }
    m_socket = socket;
    socket->setParent(this);
    m_closed = false;
    connect(socket, &QTcpSocket::readyRead, this, &WirePeer::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, [this] { m_closed = true; });
    if (socket->bytesAvailable() > 0) {
        onReadyRead();
    }
}

bool WirePeer::connectTo(quint16 port, const QHostAddress& address) {
    QSignalSpy connected(m_socket, &QTcpSocket::connected);
    m_socket->connectToHost(address, port);
    return connected.count() > 0 || connected.wait(5000);
}

void WirePeer::sendRaw(const QByteArray& bytes) {
    m_socket->write(bytes);
}

void WirePeer::sendFrame(FrameKind kind, const std::string& body) {
    const std::string frame = transport::encodeFrame(kind, body);
    sendRaw(QByteArray(frame.data(), qsizetype(frame.size())));
}

void WirePeer::sendHello(const std::string& name, const std::string& applicationId,
                         quint16 version) {
    sendFrame(FrameKind::Hello, transport::encodeHello({version, applicationId, name}));
}

void WirePeer::sendData(const QByteArray& message) {
    sendFrame(FrameKind::Data, message.toStdString());
}

qint32 WirePeer::join(const std::string& name) {
    sendHello(name);
    Received frame;
    if (!waitForKind(FrameKind::Welcome, frame)) {
        return 0;
    }
    transport::Welcome welcome;
    if (!transport::decodeWelcome(frame.body.toStdString(), welcome)) {
        return 0;
    }
    return welcome.playerId;
}

void WirePeer::sendResumableHello(const std::string& name, const std::string& token,
                                  quint32 received) {
    transport::Hello hello{transport::ResumableProtocolVersion,
                           std::string(transport::ApplicationId), name};
    hello.resumeToken = token;
    hello.receivedCount = received;
    sendFrame(FrameKind::Hello, transport::encodeHello(hello));
}

bool WirePeer::joinResumable(transport::Welcome& welcome, const std::string& name,
                             const std::string& token, quint32 received) {
    sendResumableHello(name, token, received);
    Received frame;
    return waitForKind(FrameKind::Welcome, frame) &&
           transport::decodeWelcome(frame.body.toStdString(), welcome,
                                    transport::ResumableProtocolVersion);
}

qint64 WirePeer::waitForAck(int timeoutMs) {
    Received frame;
    std::uint32_t count = 0;
    if (!waitForKind(FrameKind::Ack, frame, timeoutMs) ||
        !transport::decodeToken(frame.body.toStdString(), count)) {
        return -1;
    }
    return count;
}

bool WirePeer::waitForFrame(Received& frame, int timeoutMs) {
    (void)QTest::qWaitFor([this] { return !m_frames.empty() || m_closed; }, timeoutMs);
    if (m_frames.empty()) {
        return false;
    }
    frame = std::move(m_frames.front());
    m_frames.pop_front();
    return true;
}

bool WirePeer::waitForKind(FrameKind kind, Received& frame, int timeoutMs) {
    while (waitForFrame(frame, timeoutMs)) {
        if (frame.kind == kind) {
            return true;
        }
        if (frame.kind != FrameKind::Ping && frame.kind != FrameKind::Pong) {
            return false;
        }
    }
    return false;
}

bool WirePeer::waitForClosed(int timeoutMs) {
    return QTest::qWaitFor([this] { return m_closed; }, timeoutMs);
}

void WirePeer::stopReading() {
    m_reading = false;
    // A one-byte read buffer makes Qt stop taking bytes from the system.
    m_socket->setReadBufferSize(1);
}

void WirePeer::resumeReading() {
    m_reading = true;
    m_socket->setReadBufferSize(0);
    onReadyRead();
}

void WirePeer::onReadyRead() {
    if (!m_reading) {
        return;
    }
    m_reader.append(m_socket->readAll().toStdString());
    transport::Frame frame;
    while (m_reader.next(frame) == transport::FrameReader::Result::FrameReady) {
        if (frame.kind == FrameKind::Ping) {
            ++m_pingsSeen;
            if (m_answerPings) {
                sendFrame(FrameKind::Pong, std::string(frame.body));
            }
            continue;
        }
        m_frames.push_back(
            {frame.kind, QByteArray(frame.body.data(), qsizetype(frame.body.size()))});
    }
}

RefuseSeen refuseOf(const WirePeer::Received& frame) {
    transport::Refuse refuse;
    if (frame.kind != FrameKind::Refuse ||
        !transport::decodeRefuse(frame.body.toStdString(), refuse)) {
        return {};
    }
    return {refuse.reason, QString::fromStdString(refuse.text)};
}

} // namespace gemvolt::testing
