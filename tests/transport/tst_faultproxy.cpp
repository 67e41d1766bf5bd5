#include "support/FaultProxy.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

using namespace gemvolt::testing;

namespace {

// A pseudo-random stream that a shifted or corrupted copy cannot match.
QByteArray pattern(qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = char(seed >> 24);
    }
    return bytes;
}

// One connection through the proxy: the connecting side and the target's side.
struct Through {
    QTcpSocket client;
    std::unique_ptr<QTcpSocket> server;
    QByteArray clientGot;
    QByteArray serverGot;
};

// Connects through the proxy and waits until the target has the connection.
std::unique_ptr<Through> open(QTcpServer& target, const FaultProxy& proxy) {
    auto t = std::make_unique<Through>();
    QObject::connect(&t->client, &QTcpSocket::readyRead,
                     [p = t.get()] { p->clientGot += p->client.readAll(); });
    t->client.connectToHost(QHostAddress::LocalHost, quint16(proxy.port()));
    if (!target.waitForNewConnection(5000))
        return nullptr;
    t->server.reset(target.nextPendingConnection());
    t->server->setParent(nullptr);
    QObject::connect(t->server.get(), &QTcpSocket::readyRead,
                     [p = t.get()] { p->serverGot += p->server->readAll(); });
    return t;
}

} // namespace

class TestFaultProxy : public QObject {
    Q_OBJECT
private slots:
    void relaysAFewMegabytesIntactBothWays() {
        QTcpServer target;
        QVERIFY(target.listen(QHostAddress::LocalHost));
        FaultProxy proxy;
        QVERIFY(proxy.start(target.serverPort()));
        auto t = open(target, proxy);
        QVERIFY(t);
        // Far more than the proxy may hold for one direction, so its limit and
        // its resuming of reads are both exercised.
        const QByteArray up = pattern(6 << 20, 1);
        const QByteArray down = pattern(5 << 20, 2);
        t->client.write(up);
        t->server->write(down);
        QTRY_COMPARE_WITH_TIMEOUT(t->serverGot.size(), up.size(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(t->clientGot.size(), down.size(), 30000);
        QVERIFY(t->serverGot == up);
        QVERIFY(t->clientGot == down);
        const auto c = proxy.counters();
        QCOMPARE(c.connections, 1u);
        QCOMPARE(c.bytesToTarget, quint64(up.size()));
        QCOMPARE(c.bytesToClient, quint64(down.size()));
        QCOMPARE(c.cuts, 0u);
        QCOMPARE(proxy.openConnections(), 1);
    }

    void cutsCloseBothSides() {
        QTcpServer target;
        QVERIFY(target.listen(QHostAddress::LocalHost));
        FaultProxy proxy;
        QVERIFY(proxy.start(target.serverPort()));
        for (const auto how : {FaultProxy::Cut::Reset, FaultProxy::Cut::Close}) {
            auto t = open(target, proxy);
            QVERIFY(t);
            t->client.write("before");
            QTRY_COMPARE(t->serverGot, QByteArray("before"));
            proxy.cutAll(how);
            QCOMPARE(proxy.openConnections(), 0);
            QTRY_COMPARE(t->client.state(), QAbstractSocket::UnconnectedState);
            QTRY_COMPARE(t->server->state(), QAbstractSocket::UnconnectedState);
        }
        QCOMPARE(proxy.counters().cuts, 2u);

        // Random cuts end a connection within their window, then the next one too.
        proxy.cutEvery(50, 150, 7);
        for (int i = 0; i < 2; ++i) {
            auto t = open(target, proxy);
            QVERIFY(t);
            QTRY_COMPARE_WITH_TIMEOUT(t->client.state(), QAbstractSocket::UnconnectedState, 3000);
            QTRY_COMPARE_WITH_TIMEOUT(t->server->state(), QAbstractSocket::UnconnectedState, 3000);
        }
        QCOMPARE(proxy.counters().cuts, 4u);
    }

    void blackholeForwardsNothingUntilLifted() {
        QTcpServer target;
        QVERIFY(target.listen(QHostAddress::LocalHost));
        FaultProxy proxy;
        QVERIFY(proxy.start(target.serverPort()));
        auto t = open(target, proxy);
        QVERIFY(t);
        proxy.blackhole(true);
        t->client.write("up");
        t->server->write("down");
        QSignalSpy toServer(t->server.get(), &QTcpSocket::readyRead);
        QSignalSpy toClient(&t->client, &QTcpSocket::readyRead);
        QVERIFY(!toServer.wait(500));
        QVERIFY(toClient.isEmpty());
        QCOMPARE(t->client.state(), QAbstractSocket::ConnectedState);
        QCOMPARE(t->server->state(), QAbstractSocket::ConnectedState);
        proxy.blackhole(false);
        QTRY_COMPARE(t->serverGot, QByteArray("up"));
        QTRY_COMPARE(t->clientGot, QByteArray("down"));
    }

    void refusesForAWhileThenRecovers() {
        QTcpServer target;
        QVERIFY(target.listen(QHostAddress::LocalHost));
        FaultProxy proxy;
        QVERIFY(proxy.start(target.serverPort()));
        proxy.refuseFor(std::chrono::milliseconds(400));
        QTcpSocket refused;
        refused.connectToHost(QHostAddress::LocalHost, quint16(proxy.port()));
        QTRY_COMPARE(refused.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!target.hasPendingConnections());
        QVERIFY(proxy.counters().refused >= 1);

        // Tries again as a client would, a bounded number of times, until let through.
        std::unique_ptr<Through> t;
        for (int attempt = 0; attempt < 100 && !t; ++attempt) {
            auto next = std::make_unique<Through>();
            next->client.connectToHost(QHostAddress::LocalHost, quint16(proxy.port()));
            QTRY_VERIFY(target.hasPendingConnections() ||
                        next->client.state() == QAbstractSocket::UnconnectedState);
            if (target.hasPendingConnections())
                t = std::move(next);
        }
        QVERIFY(t);
        std::unique_ptr<QTcpSocket> server(target.nextPendingConnection());
        t->client.write("back");
        QTRY_COMPARE(server->bytesAvailable(), 4);
        QCOMPARE(proxy.counters().connections, 1u);
    }

    void refusesTargetsOffThisMachine() {
        FaultProxy proxy;
        for (const char* address : {"192.0.2.1", "10.0.0.1", "0.0.0.0", "::ffff:192.0.2.1",
                                    "2001:db8::1", "::", "localhost", ""})
            QVERIFY2(!proxy.start(4000, address), address);
        QVERIFY(!proxy.start(0));
        QCOMPARE(proxy.port(), 0);
        FaultProxy six;
        QVERIFY(six.start(4000, "::1"));
        QVERIFY(six.port() != 0);
        QVERIFY(proxy.start(4000, "127.3.2.1"));
        QVERIFY(!proxy.start(4000));
    }
};

QTEST_GUILESS_MAIN(TestFaultProxy)
#include "tst_faultproxy.moc"
