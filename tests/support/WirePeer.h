#pragma once

#include "Common/transport/ControlMessages.h"
#include "Common/transport/FrameReader.h"
#include "Common/transport/WireFormat.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <deque>
#include <string>

namespace gemvolt::testing {

/**
 * A hand-driven peer that speaks the session protocol frame by frame, so
 * tests can send exactly the bytes they want (including broken ones) and see
 * exactly the frames that come back. Lives on the test's thread; every wait
 * runs the event loop.
 */
class WirePeer : public QObject {
    Q_OBJECT
public:
    struct Received {
        transport::FrameKind kind;
        QByteArray body;
    };

    WirePeer();

    /** Connects to address:port and waits for the TCP connection. */
    bool connectTo(quint16 port, const QHostAddress& address = QHostAddress::LocalHost);
    /** Adopts a socket accepted by a test's own listener (the peer then plays a server). */
    void adopt(QTcpSocket* socket);
    /** Waits for the next connection to listener, adopts it and reads its HELLO. */
    bool acceptHello(QTcpServer& listener, transport::Hello& hello);

    void sendRaw(const QByteArray& bytes);
    void sendFrame(transport::FrameKind kind, const std::string& body);
    void sendHello(const std::string& name,
                   const std::string& applicationId = std::string(transport::ApplicationId),
                   quint16 version = transport::ProtocolVersion);
    void sendData(const QByteArray& message);

    /** Sends HELLO and waits for WELCOME; returns the identifier, or 0. */
    qint32 join(const std::string& name);
    /** A version 2 HELLO: an empty token asks for a new session. */
    void sendResumableHello(const std::string& name, const std::string& token = {},
                            quint32 received = 0);
    /** Sends a version 2 HELLO and waits for WELCOME; false when anything else comes. */
    bool joinResumable(transport::Welcome& welcome, const std::string& name,
                       const std::string& token = {}, quint32 received = 0);
    /** Waits for an ACK; its count, or -1. */
    qint64 waitForAck(int timeoutMs = 5000);

    /** Waits for the next frame; false on timeout or when the connection ends first. */
    bool waitForFrame(Received& frame, int timeoutMs = 5000);
    /** Waits for the next frame of the given kind, skipping PING/PONG; false if another comes. */
    bool waitForKind(transport::FrameKind kind, Received& frame, int timeoutMs = 5000);
    /** Waits until the other side has closed the connection. */
    bool waitForClosed(int timeoutMs = 5000);

    /** Answer PING with PONG (on by default). */
    void setAnswerPings(bool answer) { m_answerPings = answer; }
    /** Stop reading from the socket at all: the kernel buffers fill and the sender backs up. */
    void stopReading();
    /** Reads again, what waited first. */
    void resumeReading();

    bool isClosed() const { return m_closed; }
    int pingsSeen() const { return m_pingsSeen; }
    QTcpSocket& socket() { return *m_socket; }

private:
    void onReadyRead();

    QTcpSocket* m_socket = nullptr;
    transport::FrameReader m_reader;
    std::deque<Received> m_frames;
    bool m_closed = false;
    bool m_reading = true;
    bool m_answerPings = true;
    int m_pingsSeen = 0;
};

/** The body of one REFUSE frame, decoded; reason 0 when it is not one. */
struct RefuseSeen {
    int reason = 0;
    QString text;
};
RefuseSeen refuseOf(const WirePeer::Received& frame);

} // namespace gemvolt::testing
