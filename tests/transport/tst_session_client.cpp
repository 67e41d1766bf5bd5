#include "Common/transport/ControlMessages.h"
#include "Common/transport/SessionClient.h"
#include "Common/transport/SessionServer.h"
#include "support/HostileServer.h"
#include "support/SessionTestKit.h"
#include "support/WirePeer.h"

#include <QMutex>
#include <QSignalSpy>
#include <QTcpServer>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

using namespace gemvolt::transport;
using namespace gemvolt::testing;

namespace {

// A listener standing in for the server, so a test can answer the client's
// HELLO with exactly the frames it wants.
struct FakeServer {
    QTcpServer listener;
    WirePeer peer;

    FakeServer() { listener.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return listener.serverPort(); }

    // Waits for the client's connection and its HELLO.
    bool acceptHello(Hello& hello) { return peer.acceptHello(listener, hello); }
    void welcome(qint32 id) {
        peer.sendFrame(FrameKind::Welcome, encodeWelcome({id, std::string(SessionName)}));
    }
};

// The fake and hostile servers below speak the first version.
Timings firstVersion() {
    Timings t = quickTimings();
    t.clientVersion = ProtocolVersion;
    return t;
}

} // namespace

class TestSessionClient : public QObject {
    Q_OBJECT
private slots:
    void sendsTheHelloOfProtocolVersionOne() {
        FakeServer fake;
        SessionClient client(firstVersion());
        QSignalSpy done(&client, &SessionClient::connectComplete);
        client.connectToServer(QStringLiteral("127.0.0.1"), fake.port(), QStringLiteral("Myself"));
        Hello hello;
        QVERIFY(fake.acceptHello(hello));
        QCOMPARE(int(hello.version), 1);
        QCOMPARE(hello.applicationId, std::string("{7E47E1EA-129D-4C01-8FE1-91DA4F6A6A65}"));
        QCOMPARE(hello.playerName, std::string("Myself"));
        fake.welcome(42);
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty(), 5000);
        QCOMPARE(done[0][0].toBool(), true);
        QCOMPARE(done[0][1].value<qint32>(), 42);
        QCOMPARE(client.playerId(), 42);
    }

    void failsWhenNothingListens() {
        quint16 port = 0;
        {
            QTcpServer gone;
            QVERIFY(gone.listen(QHostAddress::LocalHost, 0));
            port = gone.serverPort();
        }
        SessionClient client(quickTimings());
        const ConnectResult r = connectClient(client, port, QStringLiteral("A"));
        QVERIFY(!r.success);
        QVERIFY(!r.reason.isEmpty());
        QVERIFY(!client.isConnected());
    }

    void failsWhenTheServerNeverAnswers() {
        FakeServer fake;
        SessionClient client(firstVersion());
        QSignalSpy done(&client, &SessionClient::connectComplete);
        client.connectToServer(QStringLiteral("127.0.0.1"), fake.port(), QStringLiteral("A"));
        Hello hello;
        QVERIFY(fake.acceptHello(hello));
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty(), 5000);
        QCOMPARE(done[0][0].toBool(), false);
        QVERIFY2(done[0][2].toString().contains(QStringLiteral("No answer")),
                 qPrintable(done[0][2].toString()));
        // And it gives up the connection.
        QVERIFY(fake.peer.waitForClosed());
    }

    void reportsTheRefusalText() {
        FakeServer fake;
        SessionClient client(firstVersion());
        QSignalSpy done(&client, &SessionClient::connectComplete);
        client.connectToServer(QStringLiteral("127.0.0.1"), fake.port(), QStringLiteral("A"));
        Hello hello;
        QVERIFY(fake.acceptHello(hello));
        fake.peer.sendFrame(FrameKind::Refuse, encodeRefuse({2, "The session is full"}));
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty(), 5000);
        QCOMPARE(done[0][0].toBool(), false);
        QCOMPARE(done[0][2].toString(), QStringLiteral("The session is full"));
        QCOMPARE(done.size(), 1);
    }

    void rejectsAnAnswerThatIsNoHandshake() {
        FakeServer fake;
        SessionClient client(firstVersion());
        QSignalSpy done(&client, &SessionClient::connectComplete);
        QSignalSpy received(&client, &SessionClient::messageReceived);
        client.connectToServer(QStringLiteral("127.0.0.1"), fake.port(), QStringLiteral("A"));
        Hello hello;
        QVERIFY(fake.acceptHello(hello));
        fake.peer.sendData("\x01too early");
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty(), 5000);
        QCOMPARE(done[0][0].toBool(), false);
        QVERIFY(fake.peer.waitForClosed());
        QCOMPARE(received.size(), 0);
    }

    void answersPingsAndDetectsASilentServer() {
        FakeServer fake;
        SessionClient client(firstVersion());
        QSignalSpy terminated(&client, &SessionClient::sessionTerminated);
        QSignalSpy done(&client, &SessionClient::connectComplete);
        client.connectToServer(QStringLiteral("127.0.0.1"), fake.port(), QStringLiteral("A"));
        Hello hello;
        QVERIFY(fake.acceptHello(hello));
        fake.welcome(7);
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty(), 5000);

        fake.peer.sendFrame(FrameKind::Ping, encodeToken(0xABCD1234));
        WirePeer::Received frame;
        QVERIFY(fake.peer.waitForKind(FrameKind::Pong, frame));
        std::uint32_t token = 0;
        QVERIFY(decodeToken(frame.body.toStdString(), token));
        QCOMPARE(token, 0xABCD1234u);

        // From now on the fake server stays silent: the client pings, then gives up.
        fake.peer.setAnswerPings(false);
        QTRY_VERIFY_WITH_TIMEOUT(!terminated.isEmpty(), 3000);
        QVERIFY(fake.peer.pingsSeen() >= 1);
        QVERIFY(!client.isConnected());
        QVERIFY(fake.peer.waitForClosed());
    }

    void keepsItsLimitsWhileItsChecksSleep() {
        using namespace std::chrono_literals;
        Timings t = firstVersion();
        t.pingAfterIdle = 400ms;
        t.lostAfterSilence = 1200ms;
        FakeServer fake;
        fake.peer.setAnswerPings(false);
        SessionClient client(t);
        QElapsedTimer sinceLastFrame;
        qint64 endedAfter = -1;
        connect(&client, &SessionClient::sessionTerminated,
                [&] { endedAfter = sinceLastFrame.elapsed(); });
        QSignalSpy done(&client, &SessionClient::connectComplete);
        client.connectToServer(QStringLiteral("127.0.0.1"), fake.port(), QStringLiteral("A"));
        Hello hello;
        QVERIFY(fake.acceptHello(hello));
        fake.welcome(7);
        sinceLastFrame.start();
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty(), 5000);
        // Messages every 300 ms for longer than the silence limit keep the client:
        // each one counts as of its arrival.
        for (int i = 0; i < 6; ++i) {
            QTest::qWait(300);
            fake.peer.sendData("\x02tick");
            sinceLastFrame.start();
        }
        QCOMPARE(endedAfter, qint64(-1));
        // Then silence: the client pings once per idle limit, not in a busy loop,
        // and gives up at the silence limit, not before it.
        const int pingsBefore = fake.peer.pingsSeen();
        QTRY_VERIFY_WITH_TIMEOUT(endedAfter >= 0, 5000);
        QVERIFY2(endedAfter >= 1150 && endedAfter < 2000, qPrintable(QString::number(endedAfter)));
        const int pings = fake.peer.pingsSeen() - pingsBefore;
        QVERIFY2(pings >= 1 && pings <= 4, qPrintable(QString::number(pings)));
    }

    void endsOnByeAndOnBrokenFrames_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("bye") << QByteArray("\x01\x00\x00\x00\x07", 5);
        QTest::newRow("unknown kind") << QByteArray("\x01\x00\x00\x00\x63", 5);
        QTest::newRow("oversized") << QByteArray("\xFF\xFF\xFF\x7F\x04", 5);
        const std::string welcome = encodeFrame(FrameKind::Welcome, encodeWelcome({3, "again"}));
        QTest::newRow("second welcome") << QByteArray(welcome.data(), qsizetype(welcome.size()));
    }
    void endsOnByeAndOnBrokenFrames() {
        QFETCH(QByteArray, bytes);
        FakeServer fake;
        SessionClient client(firstVersion());
        QSignalSpy terminated(&client, &SessionClient::sessionTerminated);
        QSignalSpy received(&client, &SessionClient::messageReceived);
        QVERIFY(fake.listener.isListening());
        QSignalSpy done(&client, &SessionClient::connectComplete);
        client.connectToServer(QStringLiteral("127.0.0.1"), fake.port(), QStringLiteral("A"));
        Hello hello;
        QVERIFY(fake.acceptHello(hello));
        fake.welcome(5);
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty(), 5000);
        // A message, then the end: the message is delivered before the termination.
        fake.peer.sendData("\x02last");
        fake.peer.sendRaw(bytes);
        QTRY_VERIFY_WITH_TIMEOUT(!terminated.isEmpty(), 5000);
        QCOMPARE(received.size(), 1);
        QCOMPARE(received[0][0].toByteArray(), QByteArray("\x02last"));
        QVERIFY(fake.peer.waitForClosed());
    }

    void aTrickleOfBytesIsNoSignOfLife() {
        FakeServer fake;
        fake.peer.setAnswerPings(false);
        SessionClient client(firstVersion());
        QSignalSpy terminated(&client, &SessionClient::sessionTerminated);
        QSignalSpy done(&client, &SessionClient::connectComplete);
        client.connectToServer(QStringLiteral("127.0.0.1"), fake.port(), QStringLiteral("A"));
        Hello hello;
        QVERIFY(fake.acceptHello(hello));
        fake.welcome(4);
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty(), 5000);
        // A frame of 100 bytes that comes a byte every 50 ms, well within the silence limit
        // each time, and never completes.
        fake.peer.sendRaw(QByteArray("\x64\x00\x00\x00\x04", 5));
        QTimer trickle;
        connect(&trickle, &QTimer::timeout, [&] { fake.peer.sendRaw("x"); });
        trickle.start(50);
        QTRY_VERIFY_WITH_TIMEOUT(!terminated.isEmpty(), 3000);
        QCOMPARE(terminated[0][0].toString(), QStringLiteral("The server stopped answering"));
    }

    void aFloodWaitsInTheServerWhileTheApplicationIsBusy() {
        // 96 messages of 1 MiB, far more than the client may hold for a busy application.
        HostileServer hostile;
        const std::uint64_t frameSize = FrameHeaderSize + MaxFrameBody;
        hostile.flood(std::string(MaxFrameBody, 'm'), 96 * frameSize, std::chrono::seconds(30));
        SessionClient client(firstVersion());
        QSignalSpy received(&client, &SessionClient::messageReceived);
        QVERIFY(connectClient(client, quint16(hostile.port()), QStringLiteral("Busy")).success);

        // This thread takes nothing now: the flood must stall, the client having taken
        // 8 MiB plus what the system buffers on both sides.
        QVERIFY(hostile.waitForStall(std::chrono::milliseconds(400), std::chrono::seconds(20)));
        QVERIFY2(hostile.bytesSent() < 64 * frameSize,
                 qPrintable(QString::number(hostile.bytesSent() / frameSize)));

        // Once the application takes them, the rest comes, every message once and in order.
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 96, 30000);
        for (int i = 0; i < received.size(); ++i) {
            QCOMPARE(received[i][0].toByteArray().right(8).toInt(), i);
        }
    }

    void closeSaysByeAndSilencesEvents() {
        FakeServer fake;
        SessionClient client(firstVersion());
        QSignalSpy done(&client, &SessionClient::connectComplete);
        QSignalSpy received(&client, &SessionClient::messageReceived);
        QSignalSpy terminated(&client, &SessionClient::sessionTerminated);
        client.connectToServer(QStringLiteral("127.0.0.1"), fake.port(), QStringLiteral("A"));
        Hello hello;
        QVERIFY(fake.acceptHello(hello));
        fake.welcome(9);
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty(), 5000);
        QVERIFY(client.send("\x01goodbye soon"));
        // Kept open here whatever the fake's socket does when the client's side ends.
        const int fd = ::dup(int(fake.peer.socket().socketDescriptor()));
        client.close();
        // The message sent before close goes out, then BYE, then the connection ends.
        WirePeer::Received frame;
        QVERIFY(fake.peer.waitForKind(FrameKind::Data, frame));
        QCOMPARE(frame.body, QByteArray("\x01goodbye soon"));
        QVERIFY(fake.peer.waitForKind(FrameKind::Bye, frame));
        // What the server sent before it read the BYE is taken, not answered with a
        // reset that could cost the server the BYE itself.
        const std::string late(16 * 1024, 'x');
        bool taken = true;
        for (int i = 0; i < 4 && taken; ++i) {
            QTest::qWait(20);
            taken = ::send(fd, late.data(), late.size(), MSG_NOSIGNAL | MSG_DONTWAIT) > 0;
        }
        ::close(fd);
        QVERIFY(taken);
        QVERIFY(fake.peer.waitForClosed());
        QCOMPARE(received.size(), 0);
        QCOMPARE(terminated.size(), 0);
        QVERIFY(!client.send("\x01late"));
    }

    void survivesABlockedMainThread() {
        // The server runs on a thread of its own here, so that blocking this thread
        // blocks only the client's application side, as the game's animations do.
        const Timings timings = quickTimings();
        QThread serverThread;
        serverThread.start();
        auto* server = new SessionServer(timings);
        server->moveToThread(&serverThread);
        std::atomic<int> destroyed{0};
        QMutex mutex;
        QList<QByteArray> atServer;
        connect(
            server, &SessionServer::playerDestroyed, server, [&](qint32) { ++destroyed; },
            Qt::DirectConnection);
        connect(
            server, &SessionServer::messageReceived, server,
            [&](qint32, const QByteArray& m) {
                QMutexLocker lock(&mutex);
                atServer << m;
                // Answer every message so the client has something to receive later.
                server->sendToAll("\x02" + m.mid(1));
            },
            Qt::DirectConnection);
        quint16 port = 0;
        QMetaObject::invokeMethod(
            server,
            [&] {
                server->host(11, 0);
                port = server->port();
            },
            Qt::BlockingQueuedConnection);
        QVERIFY(port != 0);

        SessionClient client(timings);
        QSignalSpy terminated(&client, &SessionClient::sessionTerminated);
        QSignalSpy received(&client, &SessionClient::messageReceived);
        QVERIFY(connectClient(client, port, QStringLiteral("Busy")).success);
        QVERIFY(client.send("\x01"
                            "before"));

        // Blocked for five times the liveness limit: nothing on this thread runs.
        QThread::msleep(5 * timings.lostAfterSilence.count());

        // The network thread kept the connection alive; the reply waited in order.
        QVERIFY(client.isConnected());
        QVERIFY(client.send("\x01"
                            "after"));
        QTRY_COMPARE(received.size(), 2);
        QCOMPARE(received[0][0].toByteArray(), QByteArray("\x02"
                                                          "before"));
        QCOMPARE(received[1][0].toByteArray(), QByteArray("\x02"
                                                          "after"));
        QCOMPARE(terminated.size(), 0);
        QCOMPARE(destroyed.load(), 0);

        QMetaObject::invokeMethod(
            server, [server] { delete server; }, Qt::BlockingQueuedConnection);
        serverThread.quit();
        serverThread.wait();
    }

    void reconnectsAfterAFailure() {
        SessionServer server;
        QVERIFY(server.host(11, 0));
        SessionClient client(quickTimings());
        const ConnectResult wrong =
            connectClient(client, server.port(), QStringLiteral("A"), QStringLiteral("{other}"));
        QVERIFY(!wrong.success);
        const ConnectResult right = connectClient(client, server.port(), QStringLiteral("A"));
        QVERIFY2(right.success, qPrintable(right.reason));
        QVERIFY(client.isConnected());

        // Connecting again while connected leaves the old session cleanly, without a
        // termination event; a message sent right after the new connect is not lost.
        ServerLog log(server);
        QSignalSpy terminated(&client, &SessionClient::sessionTerminated);
        QSignalSpy done(&client, &SessionClient::connectComplete);
        client.connectToServer(QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("A2"));
        QVERIFY(client.send("\x01"
                            "again"));
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty(), 5000);
        const qint32 second = done[0][1].value<qint32>();
        QVERIFY(second > right.id);
        QTRY_COMPARE(log.events.size(), 3);
        QVERIFY(log.events.contains(QStringLiteral("destroyed %1").arg(right.id)));
        QVERIFY(log.events.indexOf(QStringLiteral("created %1").arg(second)) <
                log.events.indexOf(QStringLiteral("message %1 \x01"
                                                  "again")
                                       .arg(second)));
        QCOMPARE(terminated.size(), 0);
        QCOMPARE(server.playerName(second), QStringLiteral("A2"));
    }
};

QTEST_GUILESS_MAIN(TestSessionClient)
#include "tst_session_client.moc"
