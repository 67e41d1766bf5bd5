// The command line of gemvolt-server, and the headless program itself run
// as a child process.
#include "Common/MessageCodec.h"
#include "Server/ServerOptions.h"
#include "support/WirePeer.h"

#include <QDir>
#include <QProcess>
#include <QTest>

#include <csignal>

using namespace gemvolt;
using server::ServerOptions;
using testing::WirePeer;
using transport::FrameKind;

namespace {

QString serverProgram() {
    return QDir(qEnvironmentVariable("GEMVOLT_BIN_DIR")).filePath(QStringLiteral("gemvolt-server"));
}

// Reads the next whole line of the child's standard output.
QString readLine(QProcess& process, int timeoutMs = 5000) {
    if (!QTest::qWaitFor([&] { return process.canReadLine(); }, timeoutMs)) {
        return {};
    }
    return QString::fromUtf8(process.readLine()).trimmed();
}

} // namespace

class TestServerProgram : public QObject {
    Q_OBJECT
private slots:
    void parsesArguments_data();
    void parsesArguments();
    void headlessServesAndEndsOnSignal_data();
    void headlessServesAndEndsOnSignal();
    void badArgumentsExitWithUsage();
};

void TestServerProgram::parsesArguments_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("players");
    QTest::addColumn<int>("port");
    using M = ServerOptions::Mode;
    QTest::newRow("none") << QStringList{} << int(M::Window) << 11 << 4000;
    QTest::newRow("headless") << QStringList{"--headless"} << int(M::Headless) << 11 << 4000;
    QTest::newRow("all") << QStringList{"--headless", "--players", "3", "--port", "0"}
                         << int(M::Headless) << 3 << 0;
    QTest::newRow("any order, =") << QStringList{"--port=4100", "--headless", "--players=10000"}
                                  << int(M::Headless) << 10000 << 4100;
    QTest::newRow("help") << QStringList{"--help"} << int(M::Help) << 11 << 4000;
    QTest::newRow("version") << QStringList{"--headless", "-v"} << int(M::Version) << 11 << 4000;
    QTest::newRow("headless value")
        << QStringList{"--headless=yes"} << int(M::Invalid) << 11 << 4000;
    QTest::newRow("no headless") << QStringList{"--port", "5"} << int(M::Invalid) << 11 << 4000;
    QTest::newRow("unknown") << QStringList{"--headless", "-x"} << int(M::Invalid) << 11 << 4000;
    QTest::newRow("missing value")
        << QStringList{"--headless", "--port"} << int(M::Invalid) << 11 << 4000;
    QTest::newRow("port too big") << QStringList{"--headless", "--port", "65536"} << int(M::Invalid)
                                  << 11 << 4000;
    QTest::newRow("players 1") << QStringList{"--headless", "--players", "1"} << int(M::Invalid)
                               << 11 << 4000;
    QTest::newRow("players text") << QStringList{"--headless", "--players", "ten"}
                                  << int(M::Invalid) << 11 << 4000;
    QTest::newRow("twice") << QStringList{"--headless", "--port", "1", "--port", "2"}
                           << int(M::Invalid) << 11 << 4000;
}

void TestServerProgram::parsesArguments() {
    QFETCH(QStringList, arguments);
    QFETCH(int, mode);
    QFETCH(int, players);
    QFETCH(int, port);
    std::vector<std::string> args;
    for (const QString& a : arguments) {
        args.push_back(a.toStdString());
    }
    const ServerOptions options = ServerOptions::parse(args);
    QCOMPARE(int(options.mode), mode);
    QCOMPARE(options.error.empty(), mode != int(ServerOptions::Mode::Invalid));
    if (options.mode == ServerOptions::Mode::Headless) {
        QCOMPARE(options.players, players);
        QCOMPARE(int(options.port), port);
    }
}

void TestServerProgram::headlessServesAndEndsOnSignal_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void TestServerProgram::headlessServesAndEndsOnSignal() {
    QFETCH(int, signalNumber);
    QProcess process;
    process.start(serverProgram(), {"--headless", "--port", "0", "--players", "3"});
    QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    bool ok = false;
    const int port = readLine(process).toInt(&ok);
    QVERIFY(ok && port > 0 && port < 65536);

    WirePeer alice, bob;
    QVERIFY(alice.connectTo(quint16(port)));
    const qint32 a = alice.join("Alice");
    QVERIFY(a > 0);
    QCOMPARE(readLine(process), QStringLiteral("joined %1 Alice").arg(a));
    QVERIFY(bob.connectTo(quint16(port)));
    const qint32 b = bob.join("Bob\nthe second");
    QVERIFY(b > 0);
    QCOMPARE(readLine(process), QStringLiteral("joined %1 Bob?the second").arg(b));

    const auto over = common::encode(common::MsgGameOver{});
    alice.sendData(QByteArray(reinterpret_cast<const char*>(over.data()), qsizetype(over.size())));
    QCOMPARE(readLine(process),
             QStringLiteral("result %1 beat %2: Bob?the second beat Alice").arg(b).arg(a));
    bob.socket().abort();
    QCOMPARE(readLine(process), QStringLiteral("left %1 Bob?the second").arg(b));

    ::kill(pid_t(process.processId()), signalNumber);
    WirePeer::Received frame;
    bool bye = false;
    while (alice.waitForFrame(frame)) {
        bye = bye || frame.kind == FrameKind::Bye;
    }
    QVERIFY(bye);
    // The child may already have been reaped while the peer waited.
    QVERIFY(process.state() == QProcess::NotRunning || process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

void TestServerProgram::badArgumentsExitWithUsage() {
    QProcess process;
    process.start(serverProgram(), {"--headless", "--port", "http"});
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 2);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("usage:")), qPrintable(err));
    QVERIFY(err.contains(QStringLiteral("--port")));
    QVERIFY(process.readAllStandardOutput().isEmpty());
}

QTEST_GUILESS_MAIN(TestServerProgram)
#include "tst_serverprogram.moc"
