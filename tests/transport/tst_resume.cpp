#include "Common/transport/ControlMessages.h"
#include "Common/transport/SessionClient.h"
#include "Common/transport/SessionServer.h"
#include "support/FaultProxy.h"
#include "support/SessionTestKit.h"
#include "support/WirePeer.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

using namespace gemvolt::transport;
using namespace gemvolt::testing;

namespace {

// Every server event in order, the resume events included.
struct Events {
    QStringList list;
    explicit Events(SessionServer& server) {
        QObject::connect(&server, &SessionServer::playerCreated,
                         [this](qint32 id) { list << QStringLiteral("created %1").arg(id); });
        QObject::connect(&server, &SessionServer::playerDestroyed,
                         [this](qint32 id) { list << QStringLiteral("destroyed %1").arg(id); });
        QObject::connect(&server, &SessionServer::playerInterrupted,
                         [this](qint32 id) { list << QStringLiteral("interrupted %1").arg(id); });
        QObject::connect(&server, &SessionServer::playerResumed,
                         [this](qint32 id) { list << QStringLiteral("resumed %1").arg(id); });
        QObject::connect(&server, &SessionServer::messageReceived,
                         [this](qint32 id, const QByteArray& m) {
                             list << QStringLiteral("message %1 %2").arg(id).arg(QString(m));
                         });
    }
};

// The DATA bodies that arrive next, skipping ACK, PING and PONG.
QStringList nextData(WirePeer& peer, int count) {
    QStringList out;
    WirePeer::Received frame;
    while (out.size() < count && peer.waitForFrame(frame)) {
        if (frame.kind == FrameKind::Data) {
            out << QString(frame.body);
        } else if (frame.kind != FrameKind::Ack && frame.kind != FrameKind::Pong) {
            out << QStringLiteral("kind %1").arg(int(frame.kind));
        }
    }
    return out;
}

Timings quickResume() {
    using namespace std::chrono_literals;
    Timings t = quickTimings();
    t.resumeFirstWait = 100ms;
    t.resumeLongestWait = 400ms;
    t.resumeGiveUp = 2000ms;
    return t;
}

} // namespace

class TestResume : public QObject {
    Q_OBJECT
private slots:
    void newSessionsGetFreshTokensAndAcknowledgements() {
        SessionServer server;
        QVERIFY(server.host(11, 0));
        WirePeer a, b;
        QVERIFY(a.connectTo(server.port()) && b.connectTo(server.port()));
        Welcome wa, wb;
        QVERIFY(a.joinResumable(wa, "A"));
        QVERIFY(b.joinResumable(wb, "B"));
        QCOMPARE(wa.playerId, 2);
        QVERIFY(isWellFormedResumeToken(wa.resumeToken));
        QVERIFY(isWellFormedResumeToken(wb.resumeToken));
        QVERIFY(wa.resumeToken != wb.resumeToken);
        QCOMPARE(wa.receivedCount, 0u);
        // Three DATA frames are acknowledged with their count, within the delay.
        a.sendData("\x01one");
        a.sendData("\x01two");
        a.sendData("\x01three");
        QCOMPARE(a.waitForAck(1000), qint64(3));
        // An ACK above what the server sent breaks the protocol; one below is ignored.
        QVERIFY(server.sendToAll("\x02x"));
        QCOMPARE(nextData(a, 1), QStringList{"\x02x"});
        a.sendFrame(FrameKind::Ack, encodeToken(1));
        a.sendFrame(FrameKind::Ack, encodeToken(0));
        b.sendFrame(FrameKind::Ack, encodeToken(2));
        QVERIFY(b.waitForClosed());
        QVERIFY(!a.isClosed());
    }

    void aCutSessionResumesWithNothingLostOrRepeated() {
        SessionServer server(quickTimings());
        Events events(server);
        QVERIFY(server.host(11, 0));
        WirePeer first;
        QVERIFY(first.connectTo(server.port()));
        Welcome w1;
        QVERIFY(first.joinResumable(w1, "A"));
        for (const char* m : {"\x02m1", "\x02m2", "\x02m3"}) {
            QVERIFY(server.sendToAll(m));
        }
        QCOMPARE(nextData(first, 3).size(), 3);
        first.sendData("\x01x1");
        first.sendData("\x01x2");
        QCOMPARE(first.waitForAck(), qint64(2));
        first.socket().abort();
        QTRY_VERIFY(events.list.contains("interrupted 2"));
        // Sent while held: kept for the resume.
        QVERIFY(server.sendToAll("\x02m4"));

        // The client claims two of the four: the last two come again, in order.
        WirePeer second;
        QVERIFY(second.connectTo(server.port()));
        Welcome w2;
        QVERIFY(second.joinResumable(w2, "ignored", w1.resumeToken, 2));
        QCOMPARE(w2.playerId, 2);
        QCOMPARE(w2.receivedCount, 2u);
        QVERIFY(w2.resumeToken != w1.resumeToken);
        QCOMPARE(nextData(second, 2), (QStringList{"\x02m3", "\x02m4"}));
        second.sendData("\x01x3");
        QTRY_COMPARE(events.list,
                     (QStringList{"created 1", "created 2", "message 2 \x01x1", "message 2 \x01x2",
                                  "interrupted 2", "resumed 2", "message 2 \x01x3"}));
        QCOMPARE(server.playerName(2), QStringLiteral("A"));

        // The client spoke on the new connection: the old token no longer resumes.
        WirePeer late;
        QVERIFY(late.connectTo(server.port()));
        late.sendResumableHello("A", w1.resumeToken, 4);
        WirePeer::Received frame;
        QVERIFY(late.waitForFrame(frame));
        QCOMPARE(refuseOf(frame).reason, int(RefuseReason::UnknownSession));
    }

    void aWelcomeLostInASecondCutLosesNothing() {
        SessionServer server;
        QVERIFY(server.host(11, 0));
        WirePeer first, second, third;
        Welcome w1, w2, w3;
        QVERIFY(first.connectTo(server.port()) && first.joinResumable(w1, "A"));
        first.socket().abort();
        // The second WELCOME is never answered: its connection is cut at once.
        QVERIFY(second.connectTo(server.port()) &&
                second.joinResumable(w2, "A", w1.resumeToken, 0));
        second.socket().abort();
        QVERIFY(third.connectTo(server.port()) && third.joinResumable(w3, "A", w1.resumeToken, 0));
        QCOMPARE(w3.playerId, w1.playerId);
    }

    void aStillOpenConnectionIsTakenOver() {
        SessionServer server;
        Events events(server);
        QVERIFY(server.host(11, 0));
        WirePeer old, fresh;
        Welcome w1, w2;
        QVERIFY(old.connectTo(server.port()) && old.joinResumable(w1, "A"));
        old.sendData("\x01x1");
        QCOMPARE(old.waitForAck(), qint64(1));
        QVERIFY(server.sendToAll("\x02m1"));
        QCOMPARE(nextData(old, 1).size(), 1);
        // The client noticed a loss the server did not: the old connection is closed, and
        // nothing more is read from it.
        QVERIFY(fresh.connectTo(server.port()) && fresh.joinResumable(w2, "A", w1.resumeToken, 1));
        QCOMPARE(w2.receivedCount, 1u);
        QVERIFY(old.waitForClosed());
        fresh.sendData("\x01x2");
        QTRY_COMPARE(events.list, (QStringList{"created 1", "created 2", "message 2 \x01x1",
                                               "interrupted 2", "resumed 2", "message 2 \x01x2"}));
    }

    void resumesThatCannotBeWholeAreRefused_data() {
        QTest::addColumn<QString>("token");
        QTest::addColumn<quint32>("received");
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("sessionEnds");
        QTest::newRow("unknown token") << QString(32, 'a') << 0u << 6 << false;
        QTest::newRow("count above what was sent") << QString() << 3u << 6 << true;
        QTest::newRow("count below what was acknowledged") << QString() << 0u << 6 << true;
        QTest::newRow("count without a token") << QStringLiteral("-") << 1u << 4 << false;
    }
    void resumesThatCannotBeWholeAreRefused() {
        QFETCH(QString, token);
        QFETCH(quint32, received);
        QFETCH(int, reason);
        QFETCH(bool, sessionEnds);
        SessionServer server;
        Events events(server);
        QVERIFY(server.host(11, 0));
        WirePeer first, second;
        Welcome w;
        QVERIFY(first.connectTo(server.port()) && first.joinResumable(w, "A"));
        QVERIFY(server.sendToAll("\x02m1") && server.sendToAll("\x02m2"));
        QCOMPARE(nextData(first, 2).size(), 2);
        first.sendFrame(FrameKind::Ack, encodeToken(1));
        // The PONG comes once the server has taken the ACK before it.
        first.sendFrame(FrameKind::Ping, encodeToken(7));
        WirePeer::Received pong;
        QVERIFY(first.waitForKind(FrameKind::Pong, pong));
        first.socket().abort();
        QTRY_VERIFY(events.list.contains("interrupted 2"));
        const std::string sent = token.isEmpty() ? w.resumeToken
                                 : token == "-"  ? std::string()
                                                 : token.toStdString();
        QVERIFY(second.connectTo(server.port()));
        second.sendResumableHello("A", sent, received);
        WirePeer::Received& frame = pong;
        QVERIFY(second.waitForFrame(frame));
        QCOMPARE(refuseOf(frame).reason, reason);
        if (sessionEnds) {
            QTRY_VERIFY(events.list.contains("destroyed 2"));
        } else {
            QVERIFY(!events.list.contains("destroyed 2"));
        }
    }

    void sessionsEndForGoodOnByeOrWhenTheHoldRunsOut() {
        SessionServer server(quickTimings());
        server.setResumeHold(1);
        Events events(server);
        QVERIFY(server.host(3, 0));
        WirePeer held, leaving, newcomer, extra, back;
        Welcome wh, wl, wn;
        QVERIFY(held.connectTo(server.port()) && held.joinResumable(wh, "Held"));
        QVERIFY(leaving.connectTo(server.port()) && leaving.joinResumable(wl, "Leaving"));
        leaving.sendFrame(FrameKind::Bye, {});
        QTRY_VERIFY(events.list.contains("destroyed 3"));
        QVERIFY(!events.list.contains("interrupted 3"));

        QElapsedTimer clock;
        clock.start();
        held.socket().abort();
        QTRY_VERIFY(events.list.contains("interrupted 2"));
        // A held player keeps its place: with the server's own, the session is full.
        QVERIFY(newcomer.connectTo(server.port()) && newcomer.joinResumable(wn, "New"));
        QVERIFY(extra.connectTo(server.port()));
        extra.sendResumableHello("Extra");
        WirePeer::Received frame;
        QVERIFY(extra.waitForFrame(frame));
        QCOMPARE(refuseOf(frame).reason, int(RefuseReason::SessionFull));
        // Then the hold runs out and the token no longer resumes.
        QTRY_VERIFY_WITH_TIMEOUT(events.list.contains("destroyed 2"), 5000);
        QVERIFY(clock.elapsed() >= 900);
        QVERIFY(back.connectTo(server.port()));
        back.sendResumableHello("Held", wh.resumeToken, 0);
        QVERIFY(back.waitForFrame(frame));
        QCOMPARE(refuseOf(frame).reason, int(RefuseReason::UnknownSession));

        // Without a hold a lost connection ends the session at once.
        server.setResumeHold(0);
        newcomer.socket().abort();
        QTRY_VERIFY(events.list.contains(QStringLiteral("destroyed %1").arg(wn.playerId)));
        QVERIFY(!events.list.contains(QStringLiteral("interrupted %1").arg(wn.playerId)));
    }

    void aByeAheadOfTheCloseEndsTheSessionThoughSendsFailFirst() {
        // The peer says BYE and closes at once; the server's next send to it fails
        // before the BYE has been read. The BYE still ends the session: no hold.
        SessionServer server(quickTimings());
        Events events(server);
        QVERIFY(server.host(11, 0));
        for (int round = 0; round < 5; ++round) {
            WirePeer leaving;
            Welcome w;
            QVERIFY(leaving.connectTo(server.port()) && leaving.joinResumable(w, "Leaving"));
            leaving.sendFrame(FrameKind::Bye, {});
            leaving.socket().flush();
            leaving.socket().abort();
            // Enough to be written at once, in this call: the first write draws the
            // reset, the next ones fail.
            for (int i = 0; i < 8; ++i) {
                QVERIFY(server.sendToAll(QByteArray(64 * 1024, '\x02')));
            }
            const QString gone = QStringLiteral("destroyed %1").arg(w.playerId);
            QTRY_VERIFY(events.list.contains(gone));
            QVERIFY2(!events.list.contains(QStringLiteral("interrupted %1").arg(w.playerId)),
                     qPrintable(events.list.join(QLatin1Char(','))));
        }
    }

    void aByeBehindBytesQueuedForThePeerStillEndsItsSession() {
        // The peer stopped reading, so what the server sends it waits in the server's
        // own queue; then it says BYE and closes. Writing that queue fails on the
        // reset before anything read the BYE: it still ends the session, no hold.
        SessionServer server(quickTimings());
        server.setBacklogLimit(32 * 1024 * 1024);
        Events events(server);
        QVERIFY(server.host(11, 0));
        WirePeer leaving;
        Welcome w;
        QVERIFY(leaving.connectTo(server.port()) && leaving.joinResumable(w, "Leaving"));
        leaving.socket().setReadBufferSize(1);
        // 12 MiB: more than the system buffers for a peer that reads nothing.
        for (int i = 0; i < 192; ++i) {
            QVERIFY(server.sendToAll(QByteArray(64 * 1024, '\x02')));
            QCoreApplication::processEvents();
        }
        leaving.sendFrame(FrameKind::Bye, {});
        leaving.socket().flush();
        leaving.socket().abort();
        QVERIFY(server.sendToAll(QByteArray(1, '\x02')));
        QTRY_VERIFY(events.list.contains(QStringLiteral("destroyed %1").arg(w.playerId)));
        QVERIFY2(!events.list.contains(QStringLiteral("interrupted %1").arg(w.playerId)),
                 qPrintable(events.list.join(QLatin1Char(','))));
    }

    void aHeldPlayerPastTheLimitIsLetGo() {
        SessionServer server;
        server.setBacklogLimit(100 * 1024);
        Events events(server);
        QVERIFY(server.host(11, 0));
        WirePeer peer;
        Welcome w;
        QVERIFY(peer.connectTo(server.port()) && peer.joinResumable(w, "A"));
        peer.socket().abort();
        QTRY_VERIFY(events.list.contains("interrupted 2"));
        // Kept while held, up to the limit; past it the resume could not be whole.
        QVERIFY(server.sendToAll(QByteArray(60 * 1024, '\x02')));
        QCoreApplication::processEvents();
        QVERIFY(!events.list.contains("destroyed 2"));
        QVERIFY(server.sendToAll(QByteArray(60 * 1024, '\x02')));
        QTRY_VERIFY(events.list.contains("destroyed 2"));
        QCOMPARE(server.clientCount(), 0);
    }

    void clientsResumeThroughCutsExactlyOnceAndInOrder() {
        SessionServer server(quickResume());
        Events events(server);
        QVERIFY(server.host(11, 0));
        connect(&server, &SessionServer::messageReceived, this,
                [&](qint32, const QByteArray& m) { server.sendToAll(m); });
        FaultProxy proxy;
        QVERIFY(proxy.start(server.port()));
        SessionClient client(quickResume());
        QStringList received;
        connect(&client, &SessionClient::messageReceived, this,
                [&](const QByteArray& m) { received << QString(m); });
        QSignalSpy interrupted(&client, &SessionClient::connectionInterrupted);
        QSignalSpy resumed(&client, &SessionClient::connectionResumed);
        QSignalSpy terminated(&client, &SessionClient::sessionTerminated);
        QVERIFY(connectClient(client, quint16(proxy.port()), "C").success);

        QStringList expected;
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < 20; ++i) {
                const QString m = QStringLiteral("\x01r%1m%2").arg(round).arg(i);
                QVERIFY(client.send(m.toLatin1()));
                expected << m;
            }
            proxy.cutAll(round % 2 ? FaultProxy::Cut::Close : FaultProxy::Cut::Reset);
            // Sent while the connection is down: they wait and go out after the resume.
            QVERIFY(client.send(QStringLiteral("\x01r%1late").arg(round).toLatin1()));
            expected << QStringLiteral("\x01r%1late").arg(round);
            QTRY_COMPARE_WITH_TIMEOUT(resumed.size(), round + 1, 5000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(received, expected, 5000);
        QCOMPARE(interrupted.size(), 3);
        QCOMPARE(terminated.size(), 0);
        QVERIFY(client.isConnected());
        QCOMPARE(events.list.filter("created").size(), 2);
        QVERIFY(events.list.filter("destroyed").isEmpty());

        // The server goes away for longer than the client tries: the session ends at both ends.
        proxy.refuseFor(std::chrono::seconds(10));
        proxy.cutAll();
        QTRY_VERIFY_WITH_TIMEOUT(!terminated.isEmpty(), 5000);
        QVERIFY(!client.isConnected());
    }

    void clientsTryAgainAtOnceThenLessOften_data() {
        QTest::addColumn<int>("longestMs");
        QTest::newRow("every 400 ms") << 400;
        // 800 ms after the try at 700 would pass the give-up: one last try comes before it.
        QTest::newRow("a last try before the end") << 800;
    }

    void clientsTryAgainAtOnceThenLessOften() {
        QFETCH(int, longestMs);
        // A server that welcomes once, then closes every connection as soon as it comes.
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        QList<qint64> tries;
        QElapsedTimer clock;
        WirePeer first;
        connect(&listener, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket* s = listener.nextPendingConnection()) {
                if (clock.isValid()) {
                    tries << clock.elapsed();
                    s->abort();
                    s->deleteLater();
                } else {
                    first.adopt(s);
                }
            }
        });
        Timings timings = quickResume();
        timings.resumeLongestWait = std::chrono::milliseconds(longestMs);
        SessionClient client(timings);
        QSignalSpy terminated(&client, &SessionClient::sessionTerminated);
        QSignalSpy done(&client, &SessionClient::connectComplete);
        client.connectToServer("127.0.0.1", listener.serverPort(), "C");
        WirePeer::Received frame;
        QVERIFY(first.waitForKind(FrameKind::Hello, frame));
        Welcome welcome{4, std::string(SessionName), ResumableProtocolVersion, newResumeToken()};
        first.sendFrame(FrameKind::Welcome, encodeWelcome(welcome));
        QTRY_COMPARE(done.size(), 1);
        clock.start();
        first.socket().abort();
        QTRY_COMPARE_WITH_TIMEOUT(terminated.size(), 1, 5000);
        // A try made just before the give-up may reach this thread after the news of it.
        QTest::qWait(200);
        // At once, then 100, 200, 400 and every 400 ms until 2 s after the loss (the
        // timers may fire a few per cent early).
        QString seen;
        for (qint64 t : tries) {
            seen += QStringLiteral(" %1").arg(t);
        }
        QVERIFY2(tries.size() >= 5 && tries.size() <= 8, qPrintable(seen));
        QVERIFY2(tries[0] < 100, qPrintable(seen));
        QVERIFY2(tries[1] - tries[0] >= 85, qPrintable(seen));
        QVERIFY2(tries[2] - tries[1] >= 170, qPrintable(seen));
        QVERIFY2(tries[3] - tries[2] >= 350, qPrintable(seen));
        QVERIFY(clock.elapsed() >= 1900);
        // The give-up counts from the loss as the client saw it, as does its first try.
        // Without the last try, the 800 ms row would end with the one near 1,500 ms; none
        // comes after the give-up (this listener may see one late, under a sanitizer).
        const qint64 last = tries.last() - tries[0];
        QVERIFY2(last >= 1750 && last < 2100, qPrintable(seen));
    }

    void clientsFallBackToTheFirstVersionOnlyForANewSession() {
        // A server of the first version turns the second away with REFUSE 3.
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        SessionClient client(quickResume());
        QSignalSpy done(&client, &SessionClient::connectComplete);
        client.connectToServer("127.0.0.1", listener.serverPort(), "Old");
        WirePeer first, second;
        Hello hello;
        QVERIFY(first.acceptHello(listener, hello));
        QCOMPARE(int(hello.version), 2);
        first.sendFrame(FrameKind::Refuse, encodeRefuse({3, "Version 2 is not supported"}));
        QVERIFY(second.acceptHello(listener, hello));
        QCOMPARE(int(hello.version), 1);
        QCOMPARE(hello.playerName, std::string("Old"));
        second.sendFrame(FrameKind::Welcome, encodeWelcome({5, std::string(SessionName)}));
        QTRY_COMPARE(done.size(), 1);
        QCOMPARE(done[0][0].toBool(), true);
        // A first-version session is not resumed: its loss ends it.
        QSignalSpy terminated(&client, &SessionClient::sessionTerminated);
        QSignalSpy interrupted(&client, &SessionClient::connectionInterrupted);
        second.socket().abort();
        QTRY_COMPARE(terminated.size(), 1);
        QCOMPARE(interrupted.size(), 0);
    }

    void aRestingClientStillAcknowledgesWithinTheDelay() {
        using namespace std::chrono_literals;
        Timings t = quickResume();
        t.ackDelay = 200ms;
        // The checks sleep for seconds while nothing is owed.
        t.handshakeTimeout = t.pingAfterIdle = 20s;
        t.lostAfterSilence = 60s;
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        SessionClient client(t);
        QSignalSpy done(&client, &SessionClient::connectComplete);
        client.connectToServer("127.0.0.1", listener.serverPort(), "Resting");
        WirePeer server;
        Hello hello;
        QVERIFY(server.acceptHello(listener, hello));
        server.sendFrame(FrameKind::Welcome,
                         encodeWelcome({5, std::string(SessionName), 2, newResumeToken()}));
        QTRY_COMPARE(done.size(), 1);
        // After quiet spells of several lengths, each message is still acknowledged
        // within the delay (with room for a loaded machine), not at the resting pace.
        for (int quiet : {300, 900, 1500}) {
            QTest::qWait(quiet);
            QElapsedTimer clock;
            clock.start();
            server.sendData("\x05hi");
            QVERIFY(server.waitForAck(3000) > 0);
            QVERIFY2(clock.elapsed() <= 350, qPrintable(QString::number(clock.elapsed())));
        }
    }

    void aRefusedResumeEndsTheSession() {
        SessionServer server(quickResume());
        QVERIFY(server.host(11, 0));
        FaultProxy proxy;
        QVERIFY(proxy.start(server.port()));
        SessionClient client(quickResume());
        QSignalSpy terminated(&client, &SessionClient::sessionTerminated);
        QSignalSpy interrupted(&client, &SessionClient::connectionInterrupted);
        const ConnectResult r = connectClient(client, quint16(proxy.port()), "C");
        QVERIFY(r.success);
        // The server lets go of the player (a kick) while the client is cut off: the
        // resume is refused, not tried again.
        proxy.blackhole(true);
        server.closePlayer(r.id);
        proxy.blackhole(false);
        proxy.cutAll();
        QTRY_COMPARE_WITH_TIMEOUT(terminated.size(), 1, 5000);
        QVERIFY(proxy.counters().connections <= 3);
    }
};

QTEST_GUILESS_MAIN(TestResume)
#include "tst_resume.moc"
