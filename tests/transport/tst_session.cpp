#include "Common/program/EpollEventDispatcher.h"
#include "Common/transport/ControlMessages.h"
#include "Common/transport/SessionClient.h"
#include "Common/transport/SessionServer.h"
#include "support/FaultProxy.h"
#include "support/SessionTestKit.h"
#include "support/WirePeer.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <memory>
#include <vector>

using namespace gemvolt::transport;
using namespace gemvolt::testing;

namespace {

QByteArray numbered(char type, quint32 n, qsizetype size = 8) {
    QByteArray m(size, 'p');
    m[0] = type;
    m[1] = char(n & 0xFF);
    m[2] = char((n >> 8) & 0xFF);
    m[3] = char((n >> 16) & 0xFF);
    m[4] = char((n >> 24) & 0xFF);
    return m;
}

quint32 numberOf(const QByteArray& m) {
    return quint32(quint8(m[1])) | (quint32(quint8(m[2])) << 8) | (quint32(quint8(m[3])) << 16) |
           (quint32(quint8(m[4])) << 24);
}

// A client whose received messages are checked against the numbers sent.
struct CountingClient {
    SessionClient client;
    quint32 received = 0;
    bool inOrder = true;
    bool terminated = false;
    CountingClient() {
        QObject::connect(&client, &SessionClient::messageReceived, [this](const QByteArray& m) {
            inOrder = inOrder && numberOf(m) == received;
            ++received;
        });
        QObject::connect(&client, &SessionClient::sessionTerminated, [this] { terminated = true; });
    }
};

} // namespace

class TestSession : public QObject {
    Q_OBJECT
private slots:
    void handshakeCreatesPlayersAndCarriesMessages() {
        SessionServer server;
        ServerLog log(server);
        QVERIFY(server.host(11, 0));
        QVERIFY(server.port() != 0);
        QCOMPARE(server.hostPlayerId(), 1);
        QCOMPARE(log.events, QStringList{"created 1"});

        SessionClient client;
        QSignalSpy received(&client, &SessionClient::messageReceived);
        QSignalSpy done(&client, &SessionClient::connectComplete);
        client.connectToServer(QStringLiteral("127.0.0.1"), server.port(),
                               QString::fromUtf8("J\xC3\xBCrgen"));
        // Sent before the session is open: goes out right after WELCOME.
        QVERIFY(client.send("\x05hi"));
        QTRY_VERIFY_WITH_TIMEOUT(!done.isEmpty(), 5000);
        QCOMPARE(done[0][0].toBool(), true);
        QCOMPARE(done[0][1].value<qint32>(), 2);
        QCOMPARE(client.playerId(), 2);
        QVERIFY(client.isConnected());

        QTRY_COMPARE(log.events.size(), 3);
        QCOMPARE(log.events[1], QStringLiteral("created 2"));
        QCOMPARE(log.events[2], QStringLiteral("message 2 \x05hi"));
        QCOMPARE(server.playerName(2), QString::fromUtf8("J\xC3\xBCrgen"));
        QCOMPARE(server.clientCount(), 1);

        QVERIFY(server.sendToAll("\x07world"));
        QTRY_VERIFY_WITH_TIMEOUT(!received.isEmpty(), 5000);
        QCOMPARE(received[0][0].toByteArray(), QByteArray("\x07world"));

        client.close();
        QVERIFY(!client.isConnected());
        QTRY_COMPARE(log.events.size(), 4);
        QCOMPARE(log.events[3], QStringLiteral("destroyed 2"));
        QCOMPARE(server.clientCount(), 0);
        QCOMPARE(server.playerName(2), QString());
    }

    void messageHandlerTakesTheMessagesAndWhatItKeepsStaysWhole() {
        SessionServer server;
        QVERIFY(server.host(11, 0));
        QSignalSpy signalled(&server, &SessionServer::messageReceived);
        std::vector<QByteArray> kept;
        int handled = 0;
        qint32 from = 0;
        server.setMessageHandler([&](qint32 sender, const QByteArray& m) {
            from = sender;
            QCOMPARE(numberOf(m), quint32(handled));
            // Every other one is kept; the rest are let go, and their memory is used again.
            if (handled++ % 2 == 0) {
                kept.push_back(m);
            }
        });
        SessionClient client;
        QVERIFY(connectClient(client, server.port(), QStringLiteral("Keeper")).success);
        for (quint32 n = 0; n < 8; ++n) {
            QVERIFY(client.send(numbered(char('A' + n), n, 1200)));
        }
        QTRY_COMPARE_WITH_TIMEOUT(handled, 8, 5000);
        QCOMPARE(from, client.playerId());
        QVERIFY(signalled.isEmpty());
        QCOMPARE(kept.size(), std::size_t(4));
        for (quint32 i = 0; i < kept.size(); ++i) {
            QCOMPARE(kept[i], numbered(char('A' + 2 * i), 2 * i, 1200));
        }
    }

    void welcomeCarriesTheSessionName() {
        SessionServer server;
        QVERIFY(server.host(11, 0));
        WirePeer peer;
        QVERIFY(peer.connectTo(server.port()));
        // HELLO dribbles in a byte at a time.
        const std::string hello =
            encodeFrame(FrameKind::Hello, encodeHello({1, std::string(ApplicationId), "Raw"}));
        for (char byte : hello) {
            peer.sendRaw(QByteArray(1, byte));
            peer.socket().flush();
            QCoreApplication::processEvents();
        }
        WirePeer::Received frame;
        QVERIFY(peer.waitForKind(FrameKind::Welcome, frame));
        Welcome welcome;
        QVERIFY(decodeWelcome(frame.body.toStdString(), welcome));
        QCOMPARE(welcome.playerId, 2);
        QCOMPARE(welcome.sessionName, std::string("First DirectXPlay App (Messaging Program)"));
    }

    void carriesTheLargestMessageAndRefusesLarger() {
        SessionServer server;
        QVERIFY(server.host(11, 0));
        QByteArray atServer;
        connect(&server, &SessionServer::messageReceived, this,
                [&](qint32, const QByteArray& m) { atServer = m; });
        SessionClient client;
        QSignalSpy received(&client, &SessionClient::messageReceived);
        QVERIFY(connectClient(client, server.port(), QStringLiteral("Big")).success);

        QByteArray largest(qsizetype(MaxFrameBody), 'L');
        largest[0] = '\x06';
        largest[largest.size() - 1] = 'E';
        const QByteArray tooLarge = largest + 'X';
        QVERIFY(!client.send(tooLarge));
        QVERIFY(!client.send(QByteArray()));
        QVERIFY(!server.sendToAll(tooLarge));
        QVERIFY(!server.sendToAll(QByteArray()));

        QVERIFY(client.send(largest));
        QTRY_COMPARE_WITH_TIMEOUT(atServer.size(), largest.size(), 10000);
        QCOMPARE(atServer, largest);
        // Plain byte vectors, as the message codecs make them, are sent as they are.
        const std::vector<std::uint8_t> small{0x03, 0x01, 0x00, 0x00, 0x00};
        QVERIFY(server.sendToAll(largest));
        QVERIFY(server.sendToAll(small));
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), 2, 10000);
        QCOMPARE(received[0][0].toByteArray(), largest);
        QCOMPARE(received[1][0].toByteArray(), QByteArray("\x03\x01\x00\x00\x00", 5));
    }

    void refusesBadHandshakes_data() {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<int>("reason");
        const auto frame = [](FrameKind kind, const std::string& body) {
            const std::string f = encodeFrame(kind, body);
            return QByteArray(f.data(), qsizetype(f.size()));
        };
        const std::string app(ApplicationId);
        QTest::newRow("wrong application")
            << frame(FrameKind::Hello,
                     encodeHello({1, "{00000000-0000-0000-0000-000000000000}", "A"}))
            << 1;
        QTest::newRow("application in lower case")
            << frame(FrameKind::Hello,
                     encodeHello({1, "{7e47e1ea-129d-4c01-8fe1-91da4f6a6a65}", "A"}))
            << 1;
        QTest::newRow("version 3") << frame(FrameKind::Hello, encodeHello({3, app, "A"})) << 3;
        QTest::newRow("version 0 with garbage after")
            << frame(FrameKind::Hello, std::string("\0\0\xFF", 3)) << 3;
        QTest::newRow("data before hello") << frame(FrameKind::Data, "\x01hello") << 4;
        QTest::newRow("ping before hello") << frame(FrameKind::Ping, encodeToken(1)) << 4;
        QTest::newRow("truncated hello")
            << frame(FrameKind::Hello, std::string("\x01\x00\x05", 3)) << 4;
        QTest::newRow("hello with trailing bytes")
            << frame(FrameKind::Hello, encodeHello({1, app, "A"}) + "x") << 4;
        QTest::newRow("name of 256 bytes")
            << frame(FrameKind::Hello, encodeHello({1, app, std::string(256, 'n')})) << 4;
        QTest::newRow("name not UTF-8")
            << frame(FrameKind::Hello, encodeHello({1, app, "caf\xE9"})) << 4;
        QTest::newRow("unknown kind") << QByteArray("\x01\x00\x00\x00\x09", 5) << 4;
        QTest::newRow("oversized frame") << QByteArray("\x01\x00\x10\x00\x01", 5) << 4;
        QTest::newRow("zero length") << QByteArray("\x00\x00\x00\x00", 4) << 4;
        // Refused from the header alone: the server holds none of its body.
        QTest::newRow("hello longer than a handshake needs")
            << QByteArray("\x01\x04\x00\x00\x01", 5) << 4;
    }
    void refusesBadHandshakes() {
        QFETCH(QByteArray, first);
        QFETCH(int, reason);
        SessionServer server;
        ServerLog log(server);
        QVERIFY(server.host(11, 0));
        WirePeer peer;
        QVERIFY(peer.connectTo(server.port()));
        peer.sendRaw(first);
        WirePeer::Received frame;
        QVERIFY(peer.waitForFrame(frame));
        QCOMPARE(refuseOf(frame).reason, reason);
        QVERIFY(!refuseOf(frame).text.isEmpty());
        // The server closes after REFUSE, and nobody joined.
        QVERIFY(peer.waitForClosed());
        QCOMPARE(log.events, QStringList{"created 1"});
    }

    void clientLearnsWhyItWasRefused() {
        SessionServer server;
        QVERIFY(server.host(11, 0));
        SessionClient client;
        const ConnectResult r = connectClient(client, server.port(), QStringLiteral("A"),
                                              QStringLiteral("{not-this-game}"));
        QVERIFY(!r.success);
        QCOMPARE(r.id, 0);
        QVERIFY2(r.reason.contains(QStringLiteral("another application")), qPrintable(r.reason));
        QVERIFY(!client.isConnected());
        QVERIFY(!client.send("\x01x"));
    }

    void sessionIsFullAtTheLimit() {
        // A limit of 3 is the server's own player and two clients.
        SessionServer server;
        ServerLog log(server);
        QVERIFY(server.host(3, 0));
        WirePeer a, b, c;
        QVERIFY(a.connectTo(server.port()));
        QVERIFY(b.connectTo(server.port()));
        QVERIFY(c.connectTo(server.port()));
        QCOMPARE(a.join("A"), 2);
        QCOMPARE(b.join("B"), 3);
        c.sendHello("C");
        WirePeer::Received frame;
        QVERIFY(c.waitForFrame(frame));
        QCOMPARE(refuseOf(frame).reason, int(RefuseReason::SessionFull));
        QVERIFY(c.waitForClosed());

        // A place that frees up can be taken again, under a new identifier.
        a.sendFrame(FrameKind::Bye, {});
        QTRY_VERIFY(log.events.contains(QStringLiteral("destroyed 2")));
        SessionClient d;
        const ConnectResult r = connectClient(d, server.port(), QStringLiteral("D"));
        QVERIFY2(r.success, qPrintable(r.reason));
        QCOMPARE(r.id, 4);

        SessionServer solo;
        QVERIFY(solo.host(1, 0));
        WirePeer e;
        QVERIFY(e.connectTo(solo.port()));
        e.sendHello("E");
        QVERIFY(e.waitForFrame(frame));
        QCOMPARE(refuseOf(frame).reason, int(RefuseReason::SessionFull));
    }

    void brokenFramesEndAWelcomedConnection_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("unknown kind") << QByteArray("\x03\x00\x00\x00\x2A\x01\x02", 7);
        QTest::newRow("oversized frame") << QByteArray("\x01\x00\x10\x00\x04", 5);
        QTest::newRow("zero length") << QByteArray("\x00\x00\x00\x00", 4);
        const std::string hello = encodeFrame(FrameKind::Hello, encodeHello({1, "x", "y"}));
        QTest::newRow("hello after welcome") << QByteArray(hello.data(), qsizetype(hello.size()));
        QTest::newRow("empty data") << QByteArray("\x01\x00\x00\x00\x04", 5);
        QTest::newRow("short ping") << QByteArray("\x02\x00\x00\x00\x05\x01", 6);
        QTest::newRow("bye with a body") << QByteArray("\x02\x00\x00\x00\x07\x01", 6);
        // Only a resumable session is acknowledged.
        QTest::newRow("ack in version 1") << QByteArray("\x05\x00\x00\x00\x08\x00\x00\x00\x00", 9);
    }
    void brokenFramesEndAWelcomedConnection() {
        QFETCH(QByteArray, bytes);
        SessionServer server;
        ServerLog log(server);
        QVERIFY(server.host(11, 0));
        WirePeer peer;
        QVERIFY(peer.connectTo(server.port()));
        QCOMPARE(peer.join("P"), 2);
        // A good message first, delivered; then the fault ends the connection.
        peer.sendRaw(QByteArray("\x02\x00\x00\x00\x04\x09", 6) + bytes);
        QVERIFY(peer.waitForClosed());
        QTRY_COMPARE(log.events,
                     (QStringList{"created 1", "created 2", "message 2 \x09", "destroyed 2"}));
    }

    void handshakeMustCompleteInTime() {
        SessionServer server(quickTimings());
        ServerLog log(server);
        QVERIFY(server.host(11, 0));
        WirePeer silent;
        QVERIFY(silent.connectTo(server.port()));
        WirePeer::Received frame;
        QVERIFY(silent.waitForFrame(frame, 3000));
        QCOMPARE(refuseOf(frame).reason, int(RefuseReason::MalformedHandshake));
        QVERIFY(silent.waitForClosed(3000));
        QCOMPARE(log.events, QStringList{"created 1"});
    }

    void silentClientIsLostAndAnsweringOneStays() {
        SessionServer server(quickTimings());
        ServerLog log(server);
        QVERIFY(server.host(11, 0));
        WirePeer answering, silent;
        QVERIFY(answering.connectTo(server.port()));
        QVERIFY(silent.connectTo(server.port()));
        QCOMPARE(answering.join("Answers"), 2);
        QCOMPARE(silent.join("Silent"), 3);
        silent.setAnswerPings(false);

        // The server pings an idle client, and drops the one that never answers.
        QVERIFY(silent.waitForClosed(3000));
        QVERIFY(silent.pingsSeen() >= 1);
        QTRY_VERIFY(log.events.contains(QStringLiteral("destroyed 3")));
        // Meanwhile the other one, which only answers pings, has outlived several limits.
        QTRY_VERIFY_WITH_TIMEOUT(answering.pingsSeen() >= 30, 5000);
        QVERIFY(!answering.isClosed());
        QVERIFY(!log.events.contains(QStringLiteral("destroyed 2")));
        QCOMPARE(server.clientCount(), 1);
    }

    void silentStrangersMakeRoomForNewcomers() {
        SessionServer server;
        ServerLog log(server);
        QVERIFY(server.host(11, 0));
        std::vector<std::unique_ptr<WirePeer>> silent;
        for (int i = 0; i < MaxWaitingHandshakes + 6; ++i) {
            silent.push_back(std::make_unique<WirePeer>());
            // Connected one after the other, so the server takes them in this order.
            QVERIFY(silent.back()->connectTo(server.port()));
        }
        // The six that waited longest were closed; the others still wait.
        for (int i = 0; i < 6; ++i) {
            QVERIFY2(silent[std::size_t(i)]->waitForClosed(), qPrintable(QString::number(i)));
        }
        QVERIFY(!silent[6]->isClosed());
        // And a player gets in however many strangers keep coming.
        SessionClient player;
        const ConnectResult r = connectClient(player, server.port(), QStringLiteral("Player"));
        QVERIFY2(r.success, qPrintable(r.reason));
        QVERIFY(silent[6]->waitForClosed());
        QCOMPARE(log.events, (QStringList{"created 1", QStringLiteral("created %1").arg(r.id)}));
    }

    void namesAreRegisteredAsOneLineAndAdmittedByTheApplication() {
        SessionServer server;
        ServerLog log(server);
        QStringList asked;
        server.setAdmission([&](const QString& name) {
            asked << name;
            return name != QStringLiteral("No room");
        });
        QVERIFY(server.host(11, 0));
        WirePeer peer, refused;
        QVERIFY(peer.connectTo(server.port()));
        QVERIFY(refused.connectTo(server.port()));
        // ESC, a line feed, NEL, tab, DEL, the line and the paragraph separator.
        const qint32 id = peer.join("A\x1B[2J\nB\xC2\x85"
                                    "C\tD\x7F"
                                    "E\xE2\x80\xA8"
                                    "F\xE2\x80\xA9"
                                    "\xC3\xA9");
        QVERIFY(id > 0);
        const QString registered = QStringLiteral("A?[2J?B?C?D?E?F?\u00E9");
        QCOMPARE(server.playerName(id), registered);
        refused.sendHello("No room");
        WirePeer::Received frame;
        QVERIFY(refused.waitForFrame(frame));
        QCOMPARE(refuseOf(frame).reason, int(RefuseReason::SessionFull));
        QCOMPARE(asked, (QStringList{registered, QStringLiteral("No room")}));
        QCOMPARE(log.events, (QStringList{"created 1", QStringLiteral("created %1").arg(id)}));
    }

    void floodingClientIsEndedAndTheOthersStay() {
        SessionServer server;
        ServerLog log(server);
        QVERIFY(server.host(11, 0));
        connect(&server, &SessionServer::messageReceived, this,
                [&](qint32, const QByteArray& m) { server.sendToAll(m); });
        CountingClient honest;
        QVERIFY(connectClient(honest.client, server.port(), QStringLiteral("Honest")).success);
        WirePeer flooder;
        QVERIFY(flooder.connectTo(server.port()));
        const qint32 flooderId = flooder.join("Flooder");
        // Three large lines at once: the third passes the limit and is not relayed.
        for (quint32 i = 0; i < 3; ++i) {
            flooder.sendData(numbered(1, i, 400 * 1024));
        }
        WirePeer::Received frame;
        bool bye = false;
        while (!bye && flooder.waitForFrame(frame)) {
            bye = frame.kind == FrameKind::Bye;
        }
        QVERIFY(bye);
        QVERIFY(flooder.waitForClosed());
        QTRY_VERIFY(log.events.contains(QStringLiteral("destroyed %1").arg(flooderId)));
        QTRY_COMPARE(honest.received, quint32(2));
        // The honest player stays, and small messages are no flood.
        for (quint32 i = 2; i < 50; ++i) {
            QVERIFY(honest.client.send(numbered(1, i, 1000)));
        }
        QTRY_COMPARE(honest.received, quint32(50));
        QVERIFY(honest.inOrder && !honest.terminated);
        QCOMPARE(server.clientCount(), 1);
    }

    void livenessCountsWholeFramesOnly() {
        SessionServer server(quickTimings());
        ServerLog log(server);
        QVERIFY(server.host(11, 0));
        WirePeer trickler;
        QVERIFY(trickler.connectTo(server.port()));
        const qint32 id = trickler.join("Trickle");
        trickler.setAnswerPings(false);
        // A frame that never completes, one byte every 50 ms: bytes but no frame.
        trickler.sendRaw(QByteArray("\x00\x10\x00\x00\x04", 5));
        QTimer drip;
        connect(&drip, &QTimer::timeout, this, [&] { trickler.sendRaw("x"); });
        drip.start(50);
        QVERIFY(trickler.waitForClosed(5000));
        QTRY_VERIFY(log.events.contains(QStringLiteral("destroyed %1").arg(id)));
    }

    void deliversThousandsOfMessagesInOrder() {
        SessionServer server;
        QVERIFY(server.host(11, 0));
        std::vector<quint32> fromClient;
        connect(&server, &SessionServer::messageReceived, this,
                [&](qint32, const QByteArray& m) { fromClient.push_back(numberOf(m)); });
        CountingClient a, b;
        QVERIFY(connectClient(a.client, server.port(), QStringLiteral("A")).success);
        QVERIFY(connectClient(b.client, server.port(), QStringLiteral("B")).success);

        const quint32 count = 5000;
        for (quint32 i = 0; i < count; ++i) {
            QVERIFY(a.client.send(numbered(1, i, 20 + qsizetype(i % 300))));
        }
        QTRY_COMPARE_WITH_TIMEOUT(fromClient.size(), std::size_t(count), 20000);
        for (quint32 i = 0; i < count; ++i) {
            QCOMPARE(fromClient[i], i);
        }

        for (quint32 i = 0; i < count; ++i) {
            QVERIFY(server.sendToAll(numbered(2, i, 270)));
        }
        QTRY_COMPARE_WITH_TIMEOUT(a.received, count, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(b.received, count, 20000);
        QVERIFY(a.inOrder);
        QVERIFY(b.inOrder);
    }

    void relaysABurstLargerThanTheBacklogCap() {
        // The server relays everything it receives, as the game server does with
        // boards. One client's burst is larger than the cap: readers that keep up
        // must not be mistaken for slow ones.
        SessionServer server;
        // The burst is far above what a player may send: this is about the backlog alone.
        server.setFloodLimit(0);
        QVERIFY(server.host(11, 0));
        connect(&server, &SessionServer::messageReceived, this,
                [&](qint32, const QByteArray& m) { server.sendToAll(m); });
        CountingClient sender, a, b;
        QVERIFY(connectClient(sender.client, server.port(), QStringLiteral("S")).success);
        QVERIFY(connectClient(a.client, server.port(), QStringLiteral("A")).success);
        QVERIFY(connectClient(b.client, server.port(), QStringLiteral("B")).success);
        const quint32 count = 24000; // 24000 x 275 bytes is about 6.3 MiB
        QVERIFY(qint64(count) * 275 > DefaultBacklogLimit);
        for (quint32 i = 0; i < count; ++i) {
            QVERIFY(sender.client.send(numbered(6, i, 270)));
        }
        QTRY_COMPARE_WITH_TIMEOUT(a.received, count, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(b.received, count, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(sender.received, count, 30000);
        QVERIFY(a.inOrder && b.inOrder && sender.inOrder);
        QCOMPARE(server.clientCount(), 3);
    }

    void relaysFromASlotThatWaitsInTheEventLoop() {
        // Relays made from a slot go out when its delivery ends; one that waits for an
        // answer to what it sent (as a modal box would) must still see it go out.
        SessionServer server;
        QVERIFY(server.host(11, 0));
        CountingClient sender, a;
        QVERIFY(connectClient(sender.client, server.port(), QStringLiteral("S")).success);
        QVERIFY(connectClient(a.client, server.port(), QStringLiteral("A")).success);
        bool reachedInsideSlot = false;
        connect(&server, &SessionServer::messageReceived, this, [&](qint32, const QByteArray& m) {
            QVERIFY(server.sendToAll(m));
            if (numberOf(m) == 0) {
                reachedInsideSlot = QTest::qWaitFor([&] { return a.received == 1; }, 5000);
            }
        });
        QVERIFY(sender.client.send(numbered(5, 0)));
        QVERIFY(sender.client.send(numbered(5, 1)));
        QTRY_COMPARE(a.received, quint32(2));
        QTRY_COMPARE(sender.received, quint32(2));
        QVERIFY(reachedInsideSlot);
        QVERIFY(a.inOrder && sender.inOrder);
    }

    void slowReaderIsCutOffWhileOthersKeepReceiving() {
        SessionServer server;
        ServerLog log(server);
        QVERIFY(server.host(11, 0));
        CountingClient a, b;
        QVERIFY(connectClient(a.client, server.port(), QStringLiteral("A")).success);
        QVERIFY(connectClient(b.client, server.port(), QStringLiteral("B")).success);
        WirePeer slow;
        QVERIFY(slow.connectTo(server.port()));
        const qint32 slowId = slow.join("Slow");
        QCOMPARE(slowId, 4);
        slow.stopReading();

        const QString slowGone = QStringLiteral("destroyed %1").arg(slowId);
        bool sending = false;
        bool eventInsideSend = false;
        connect(&server, &SessionServer::playerDestroyed, this,
                [&] { eventInsideSend = eventInsideSend || sending; });
        quint32 sent = 0;
        // The fast readers keep up; the slow one's backlog grows until the cap.
        while (!log.events.contains(slowGone) && sent < 4000) {
            for (int k = 0; k < 16; ++k) {
                sending = true;
                const bool accepted = server.sendToAll(numbered(3, sent++, 64 * 1024));
                sending = false;
                QVERIFY(accepted);
            }
            QTRY_COMPARE_WITH_TIMEOUT(a.received, sent, 10000);
            QTRY_COMPARE_WITH_TIMEOUT(b.received, sent, 10000);
        }
        QVERIFY(log.events.contains(slowGone));
        // The departure was reported from the event loop, not from inside a send.
        QVERIFY(!eventInsideSend);
        // It was not cut off before it held more than the cap.
        QVERIFY(qint64(sent) * 64 * 1024 > DefaultBacklogLimit);
        QVERIFY(a.inOrder && b.inOrder);
        QVERIFY(!a.terminated && !b.terminated);
        QCOMPARE(server.clientCount(), 2);

        // And the others go on after it.
        QVERIFY(server.sendToAll(numbered(3, sent++, 100)));
        QTRY_COMPARE(a.received, sent);
        QTRY_COMPARE(b.received, sent);
    }

    void relaysTakenInPartArriveWholeAndInOrder() {
        // A player that pauses fills its socket: a relay is taken only in part, the
        // rest and the relays behind it wait in the server, and all of it arrives
        // whole and in order once the player reads again. The others never wait.
        SessionServer server;
        // The system takes a few MiB for a player that does not read; the rest waits here.
        server.setBacklogLimit(32 * 1024 * 1024);
        QVERIFY(server.host(11, 0));
        WirePeer paused;
        QVERIFY(paused.connectTo(server.port()));
        QVERIFY(paused.join("paused") != 0);
        paused.socket().setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 16384);
        paused.stopReading();
        CountingClient other;
        QVERIFY(connectClient(other.client, server.port(), QStringLiteral("other")).success);
        const quint32 count = 160; // 10 MiB
        for (quint32 i = 0; i < count; ++i) {
            QVERIFY(server.sendToAll(numbered(8, i, 64 * 1024 - qsizetype(i))));
            if (i % 8 == 7) {
                QTRY_COMPARE(other.received, i + 1);
            }
        }
        QVERIFY(other.inOrder);
        paused.resumeReading();
        for (quint32 i = 0; i < count; ++i) {
            WirePeer::Received frame;
            QVERIFY(paused.waitForKind(FrameKind::Data, frame));
            QCOMPARE(frame.body, numbered(8, i, 64 * 1024 - qsizetype(i)));
        }
        QCOMPARE(server.clientCount(), 2);
    }

    void aPeerResetUnderTheFlushCostsTheNextOneNothing() {
        SessionServer server;
        QVERIFY(server.host(11, 0));
        FaultProxy proxy;
        QVERIFY(proxy.start(server.port()));
        WirePeer a, b, c;
        QVERIFY(a.connectTo(server.port()));
        QVERIFY(a.join("a") != 0);
        QVERIFY(b.connectTo(quint16(proxy.port())));
        QVERIFY(b.join("b") != 0);
        QVERIFY(c.connectTo(server.port()));
        QVERIFY(c.join("c") != 0);
        proxy.cutAll(FaultProxy::Cut::Reset);
        // Large enough to be handed to the system at once, where b's reset shows.
        QVERIFY(server.sendToAll(QByteArray(300 * 1024, '\x07')));
        WirePeer::Received frame;
        QVERIFY(a.waitForKind(FrameKind::Data, frame));
        QVERIFY(c.waitForKind(FrameKind::Data, frame));
        QCOMPARE(frame.body.size(), 300 * 1024);
    }

    void whatCameBeforeACloseIsDeliveredBeforeTheDeparture() {
        // Frames and the end of the stream arrive together: every frame is taken
        // first, in order, then the player leaves; by a close or by a reset alike.
        for (const bool reset : {false, true}) {
            SessionServer server;
            ServerLog log(server);
            QVERIFY(server.host(11, 0));
            WirePeer peer;
            QVERIFY(peer.connectTo(server.port()));
            QCOMPARE(peer.join("P"), 2);
            for (const char* m : {"\x01one", "\x01two", "\x01three"}) {
                peer.sendData(m);
            }
            peer.socket().flush();
            reset ? peer.socket().abort() : peer.socket().disconnectFromHost();
            QTRY_VERIFY(log.events.contains("destroyed 2"));
            QCOMPARE(log.events.mid(1),
                     (QStringList{"created 2", "message 2 \x01one", "message 2 \x01two",
                                  "message 2 \x01three", "destroyed 2"}));
        }
    }

    void identifiersAreNeverReused() {
        SessionServer server;
        ServerLog log(server);
        QVERIFY(server.host(3, 0));
        std::vector<qint32> ids{server.hostPlayerId()};
        for (int round = 0; round < 4; ++round) {
            SessionClient first, second;
            const ConnectResult r1 = connectClient(first, server.port(), QStringLiteral("one"));
            const ConnectResult r2 = connectClient(second, server.port(), QStringLiteral("two"));
            QVERIFY(r1.success && r2.success);
            ids.push_back(r1.id);
            ids.push_back(r2.id);
            // A refused handshake in between takes no identifier away from anybody.
            WirePeer extra;
            QVERIFY(extra.connectTo(server.port()));
            extra.sendHello("three");
            WirePeer::Received frame;
            QVERIFY(extra.waitForFrame(frame));
            QCOMPARE(refuseOf(frame).reason, int(RefuseReason::SessionFull));
            first.close();
            second.close();
            QTRY_COMPARE(server.clientCount(), 0);
        }
        for (std::size_t i = 1; i < ids.size(); ++i) {
            QVERIFY2(ids[i] > ids[i - 1], "identifiers must be new each time");
            QVERIFY(ids[i] > 0);
        }
    }

    void closingAPlayerSendsWhatWasQueuedFirst() {
        SessionServer server;
        ServerLog log(server);
        QVERIFY(server.host(11, 0));
        SessionClient client;
        QSignalSpy received(&client, &SessionClient::messageReceived);
        QSignalSpy terminated(&client, &SessionClient::sessionTerminated);
        const ConnectResult r = connectClient(client, server.port(), QStringLiteral("Kicked"));
        QVERIFY(r.success);
        QVERIFY(server.sendToAll("\x01one"));
        QVERIFY(server.sendToAll("\x01two"));
        const int before = log.events.size();
        server.closePlayer(r.id);
        // Not from inside the call: the caller may be walking its own player list.
        QCOMPARE(log.events.size(), before);
        QCOMPARE(server.clientCount(), 0);
        QTRY_COMPARE(log.events.size(), before + 1);
        QCOMPARE(log.events.last(), QStringLiteral("destroyed %1").arg(r.id));
        QTRY_VERIFY_WITH_TIMEOUT(!terminated.isEmpty(), 5000);
        QCOMPARE(received.size(), 2);
        QCOMPARE(received[1][0].toByteArray(), QByteArray("\x01two"));
        // Sends after the close do not reach it; closing again does nothing.
        server.closePlayer(r.id);
        server.closePlayer(999);
        QCOMPARE(log.events.count(QStringLiteral("destroyed %1").arg(r.id)), 1);
    }

    void closingTheSessionSaysGoodbye() {
        SessionServer server;
        ServerLog log(server);
        QVERIFY(server.host(11, 0));
        SessionClient client;
        QSignalSpy terminated(&client, &SessionClient::sessionTerminated);
        QVERIFY(connectClient(client, server.port(), QStringLiteral("A")).success);
        WirePeer joined, waiting;
        QVERIFY(joined.connectTo(server.port()));
        QVERIFY(waiting.connectTo(server.port()));
        QCOMPARE(joined.join("B"), 3);
        QTRY_COMPARE(server.clientCount(), 2);
        const QStringList before = log.events;

        server.close();
        QVERIFY(!server.isHosting());
        WirePeer::Received frame;
        QVERIFY(joined.waitForKind(FrameKind::Bye, frame));
        QVERIFY(waiting.waitForFrame(frame));
        QCOMPARE(refuseOf(frame).reason, int(RefuseReason::ShuttingDown));
        QTRY_VERIFY_WITH_TIMEOUT(!terminated.isEmpty(), 5000);
        QVERIFY(joined.waitForClosed());
        // No events after the close.
        QCOMPARE(log.events, before);
        QVERIFY(!server.sendToAll("\x01x"));

        // Hosting again gives new identifiers.
        QVERIFY(server.host(11, 0));
        QVERIFY(server.hostPlayerId() > 3);
    }

    void reportsHostingFailures() {
        SessionServer first;
        QVERIFY(first.host(11, 0));
        SessionServer second;
        QVERIFY(!second.host(11, first.port()));
        QCOMPARE(second.errorNumber(), int(SessionServer::AddressInUse));
        QVERIFY(second.errorText().contains(QString::number(first.port())));
        QVERIFY(!second.isHosting());

        SessionServer bad;
        QVERIFY(!bad.host(0, 0));
        QCOMPARE(bad.errorNumber(), int(SessionServer::BadPlayerLimit));
        QVERIFY(!bad.errorText().isEmpty());
        QVERIFY(!bad.host(-4, 0));
        QVERIFY(bad.host(1, 0));
        QCOMPARE(bad.errorNumber(), int(SessionServer::NoError));
        QVERIFY(!bad.host(11, 0));
        QCOMPARE(bad.errorNumber(), int(SessionServer::AlreadyHosting));
    }

    void acceptsIPv4AndIPv6() {
        QTcpServer probe;
        const bool haveIPv6 = probe.listen(QHostAddress::LocalHostIPv6, 0);
        probe.close();
        SessionServer server;
        QVERIFY(server.host(11, 0));
        SessionClient v4;
        QVERIFY(connectClient(v4, server.port(), QStringLiteral("four")).success);
        if (!haveIPv6) {
            QSKIP("no IPv6 loopback on this machine");
        }
        SessionClient v6;
        const ConnectResult r =
            connectClient(v6, server.port(), QStringLiteral("six"),
                          QString::fromUtf8(ApplicationId), QStringLiteral("::1"));
        QVERIFY2(r.success, qPrintable(r.reason));
    }

    void describesItsAddress() {
        SessionServer server;
        QVERIFY(server.host(11, 0));
        const QString text = server.localAddress();
        const QRegularExpression shape(
            QStringLiteral("^x-gemvolt:/provider=tcp;hostname=(\\d+\\.\\d+\\.\\d+\\.\\d+);port=%1$")
                .arg(server.port()));
        QVERIFY2(shape.match(text).hasMatch(), qPrintable(text));
    }

    void deliversEventsOneAtATime() {
        SessionServer server;
        QVERIFY(server.host(11, 0));
        int depth = 0;
        int deepest = 0;
        QStringList seen;
        WirePeer peer;
        connect(&server, &SessionServer::messageReceived, this, [&](qint32, const QByteArray& m) {
            ++depth;
            deepest = std::max(deepest, depth);
            seen << QString::fromLatin1(m);
            if (m == "\x01"
                     "first") {
                // A slot that runs the event loop (as a modal box would) while the
                // next messages arrive: they wait until it returns.
                peer.sendData("\x01second");
                peer.sendData("\x01third");
                QTest::qWait(300);
                QCOMPARE(seen.size(), 1);
            }
            --depth;
        });
        QVERIFY(peer.connectTo(server.port()));
        QCOMPARE(peer.join("P"), 2);
        peer.sendData("\x01"
                      "first");
        QTRY_COMPARE(seen.size(), 3);
        QCOMPARE(deepest, 1);
        QCOMPARE(seen, (QStringList{"\x01"
                                    "first",
                                    "\x01second", "\x01third"}));
    }
};

// With GEMVOLT_EPOLL_LOOP set, every case runs on the headless server's own event loop.
int main(int argc, char** argv) {
    const bool epoll = qEnvironmentVariableIsSet("GEMVOLT_EPOLL_LOOP");
    if (epoll) {
        QCoreApplication::setEventDispatcher(new gemvolt::program::EpollEventDispatcher);
    }
    QCoreApplication app(argc, argv);
    if (epoll && !dynamic_cast<gemvolt::program::EpollEventDispatcher*>(
                     QAbstractEventDispatcher::instance())) {
        qCritical("tst_session: the epoll event loop was not installed");
        return 1;
    }
    TestSession test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_session.moc"
