#include "Common/transport/ControlMessages.h"
#include "Common/transport/SessionClient.h"
#include "Common/transport/SessionServer.h"
#include "support/WirePeer.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <memory>

using namespace gemvolt::transport;
using gemvolt::testing::refuseOf;
using gemvolt::testing::WirePeer;
using namespace std::chrono_literals;

namespace {

// Timers short enough that every timeout in this file happens within a second.
[[maybe_unused]] Timings quickTimings() {
    Timings t;
    t.handshakeTimeout = 200ms;
    t.pingAfterIdle = 50ms;
    t.lostAfterSilence = 300ms;
    t.connectTimeout = 500ms;
    return t;
}

// Records the server's events in one list, so their order can be checked.
struct ServerLog {
    explicit ServerLog(SessionServer& server) {
        QObject::connect(&server, &SessionServer::playerCreated,
                         [this](qint32 id) { events << QStringLiteral("created %1").arg(id); });
        QObject::connect(
            &server, &SessionServer::messageReceived, [this](qint32 id, const QByteArray& m) {
                events << QStringLiteral("message %1 %2").arg(id).arg(QString::fromLatin1(m));
            });
        QObject::connect(&server, &SessionServer::playerDestroyed,
                         [this](qint32 id) { events << QStringLiteral("destroyed %1").arg(id); });
    }
    QStringList events;
};

struct ConnectResult {
    bool success = false;
    qint32 id = 0;
    QString reason;
};

// Connects a client and waits for its connect complete.
ConnectResult connectClient(SessionClient& client, quint16 port, const QString& name,
                            const QString& appId = QString::fromUtf8(ApplicationId),
                            const QString& host = QStringLiteral("127.0.0.1")) {
    QSignalSpy done(&client, &SessionClient::connectComplete);
    client.connectToServer(host, port, name, appId);
    if (!done.wait(5000)) {
        return {false, 0, QStringLiteral("no connect complete")};
    }
    return {done[0][0].toBool(), done[0][1].value<qint32>(), done[0][2].toString()};
}

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
        const ConnectResult r = connectClient(client, server.port(), QStringLiteral("Alice"));
        QVERIFY2(r.success, qPrintable(r.reason));
        QCOMPARE(r.id, 2);
        QCOMPARE(client.playerId(), 2);
        QTRY_COMPARE(log.events.size(), 2);
        QCOMPARE(log.events[1], QStringLiteral("created 2"));
        QCOMPARE(server.playerName(2), QStringLiteral("Alice"));
        QCOMPARE(server.clientCount(), 1);

        QVERIFY(client.send("\x05hi"));
        QTRY_COMPARE(log.events.size(), 3);
        QCOMPARE(log.events[2], QStringLiteral("message 2 \x05hi"));

        QVERIFY(server.sendToAll("\x07world"));
        QVERIFY(received.wait(5000));
        QCOMPARE(received[0][0].toByteArray(), QByteArray("\x07world"));

        client.close();
        QTRY_COMPARE(log.events.size(), 4);
        QCOMPARE(log.events[3], QStringLiteral("destroyed 2"));
        QCOMPARE(server.clientCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
