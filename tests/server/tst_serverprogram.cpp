// The command line of gemvolt-server, and the headless program itself run
// as a child process.
#include "Common/MessageCodec.h"
#include "Common/transport/ControlMessages.h"
#include "Common/transport/SessionClient.h"
#include "Server/ServerOptions.h"
#include "support/FaultProxy.h"
#include "support/WirePeer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

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

// CPU seconds (user and system) a child process has used so far.
double cpuSeconds(const QProcess& process) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(process.processId()));
    if (!stat.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) /
           double(::sysconf(_SC_CLK_TCK));
}

// Reads from a pipe what is there now, or (with a line wanted) until a line end
// arrives or the time is up.
QByteArray readPipe(int fd, bool untilLineEnd, int timeoutMs = 5000) {
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        pollfd ready = {fd, POLLIN, 0};
        if (::poll(&ready, 1, untilLineEnd ? 50 : 0) != 1) {
            if (!untilLineEnd) {
                break;
            }
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        out.append(buffer, n);
        if (untilLineEnd && out.contains('\n')) {
            break;
        }
    }
    return out;
}

// How often the child's main thread has gone to sleep and woken so far.
qint64 wakesOf(const QProcess& process) {
    QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("voluntary_ctxt_switches:")) {
            return line.mid(24).trimmed().toLongLong();
        }
    }
    return -1;
}

// Sends PING and waits for its PONG, past the messages the session sends meanwhile.
bool answersPing(WirePeer& peer, quint32 token) {
    peer.sendFrame(FrameKind::Ping, transport::encodeToken(token));
    WirePeer::Received frame;
    while (peer.waitForFrame(frame)) {
        if (frame.kind == FrameKind::Pong) {
            return true;
        }
    }
    return false;
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
    void floodLimitFromTheCommandLine();
    void resumeHoldFromTheCommandLine();
    void logNeverHoldsUpTheServer();
    void descriptorShortageNeitherSpinsNorLocksOut();
    void anIdleServerSleeps();
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
    // Line and paragraph separators in a name would split one event into several lines.
    const qint32 b = bob.join("Bob\nthe\xE2\x80\xA8second\xC2\x85\xE2\x80\xA9");
    QVERIFY(b > 0);
    QCOMPARE(readLine(process), QStringLiteral("joined %1 Bob?the?second??").arg(b));

    const auto over = common::encode(common::MsgGameOver{});
    alice.sendData(QByteArray(reinterpret_cast<const char*>(over.data()), qsizetype(over.size())));
    QCOMPARE(readLine(process),
             QStringLiteral("result %1 beat %2: Bob?the?second?? beat Alice").arg(b).arg(a));
    bob.socket().abort();
    QCOMPARE(readLine(process), QStringLiteral("left %1 Bob?the?second??").arg(b));

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

void TestServerProgram::floodLimitFromTheCommandLine() {
    const auto floodLimit = [](std::vector<std::string> args) {
        const ServerOptions o = ServerOptions::parse(args);
        return o.mode == ServerOptions::Mode::Headless ? o.floodLimitKib : -1;
    };
    QCOMPARE(floodLimit({"--headless"}), 1024);
    QCOMPARE(floodLimit({"--headless", "--flood-limit", "0"}), 0);
    QCOMPARE(floodLimit({"--headless", "--flood-limit=4096"}), 4096);
    QCOMPARE(floodLimit({"--headless", "--flood-limit", "-1"}), -1);
    QCOMPARE(floodLimit({"--flood-limit", "10"}), -1);

    QProcess help;
    help.start(serverProgram(), {"--help"});
    QVERIFY(help.waitForFinished(5000));
    QVERIFY(QString::fromUtf8(help.readAllStandardOutput()).contains("--flood-limit KIB"));

    // A limit of 1 KiB: the second 600-byte chat line ends the sender's session.
    QProcess process;
    process.start(serverProgram(), {"--headless", "--port", "0", "--flood-limit", "1"});
    QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    const int port = readLine(process).toInt();
    QVERIFY(port > 0);
    WirePeer chatty;
    QVERIFY(chatty.connectTo(quint16(port)));
    const qint32 id = chatty.join("Chatty");
    QVERIFY(id > 0);
    QCOMPARE(readLine(process), QStringLiteral("joined %1 Chatty").arg(id));
    const auto line = common::encode(common::MsgChat{std::string(600, 'c')});
    const QByteArray bytes(reinterpret_cast<const char*>(line.data()), qsizetype(line.size()));
    chatty.sendData(bytes);
    chatty.sendData(bytes);
    WirePeer::Received frame;
    bool bye = false;
    while (chatty.waitForFrame(frame)) {
        bye = bye || frame.kind == FrameKind::Bye;
    }
    QVERIFY(bye);
    QCOMPARE(readLine(process), QStringLiteral("left %1 Chatty").arg(id));
}

void TestServerProgram::resumeHoldFromTheCommandLine() {
    const auto hold = [](std::vector<std::string> args) {
        const ServerOptions o = ServerOptions::parse(args);
        return o.mode == ServerOptions::Mode::Headless ? o.resumeHoldSeconds : -1;
    };
    QCOMPARE(hold({"--headless"}), 30);
    QCOMPARE(hold({"--headless", "--resume-hold", "0"}), 0);
    QCOMPARE(hold({"--headless", "--resume-hold=5"}), 5);
    QCOMPARE(hold({"--headless", "--resume-hold", "-1"}), -1);
    QCOMPARE(hold({"--headless", "--resume-hold", "2s"}), -1);
    QCOMPARE(hold({"--resume-hold", "5"}), -1);
    QCOMPARE(ServerOptions::parse({}).resumeHoldSeconds, 30);
    QVERIFY(QString::fromStdString(ServerOptions::usage("gemvolt-server"))
                .contains("--resume-hold SECONDS"));

    // A player behind a relay the test cuts: a cut it comes back from, then one
    // whose way back stays shut past the hold of one second.
    QProcess process;
    process.start(serverProgram(), {"--headless", "--port", "0", "--resume-hold", "1"});
    QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    const int port = readLine(process).toInt();
    QVERIFY(port > 0);
    testing::FaultProxy proxy;
    QVERIFY(proxy.start(port));
    transport::SessionClient client;
    QSignalSpy lost(&client, &transport::SessionClient::sessionTerminated);
    client.connectToServer(QStringLiteral("127.0.0.1"), quint16(proxy.port()), "Holder");
    const QString joined = readLine(process);
    QVERIFY2(joined.startsWith("joined "), qPrintable(joined));
    const QString id = joined.section(' ', 1, 1);

    proxy.cutAll();
    QCOMPARE(readLine(process), "interrupted " + id + " Holder");
    QCOMPARE(readLine(process), "resumed " + id + " Holder");
    proxy.refuseFor(std::chrono::milliseconds(3000));
    proxy.cutAll();
    QCOMPARE(readLine(process), "interrupted " + id + " Holder");
    QCOMPARE(readLine(process), "expired " + id + " Holder");
    QCOMPARE(readLine(process), "left " + id + " Holder");
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 15000);

    // Without a hold a broken connection is a departure at once.
    QProcess plain;
    plain.start(serverProgram(), {"--headless", "--port", "0", "--resume-hold", "0"});
    QVERIFY2(plain.waitForStarted(), qPrintable(plain.errorString()));
    testing::FaultProxy direct;
    QVERIFY(direct.start(readLine(plain).toInt()));
    transport::SessionClient other;
    QSignalSpy otherLost(&other, &transport::SessionClient::sessionTerminated);
    other.connectToServer(QStringLiteral("127.0.0.1"), quint16(direct.port()), "Plain");
    const QString plainId = readLine(plain).section(' ', 1, 1);
    QVERIFY(!plainId.isEmpty());
    direct.cutAll();
    QCOMPARE(readLine(plain), "left " + plainId + " Plain");
    QTRY_COMPARE_WITH_TIMEOUT(otherLost.count(), 1, 15000);
}

void TestServerProgram::logNeverHoldsUpTheServer() {
    // The server's standard output is a pipe of one page that this test leaves unread.
    int fds[2];
    QCOMPARE(::pipe2(fds, O_CLOEXEC), 0);
    ::fcntl(fds[0], F_SETPIPE_SZ, 4096);
    const int writeEnd = fds[1];
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process.setChildProcessModifier([writeEnd] { ::dup2(writeEnd, STDOUT_FILENO); });
    process.start(serverProgram(), {"--headless", "--port", "0", "--players", "100"});
    QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    ::close(writeEnd);
    const int port = readPipe(fds[0], true).trimmed().toInt();
    QVERIFY(port > 0);

    // Joins and departures with long names write far more than the pipe holds.
    const std::string longName(200, 'n');
    for (int i = 0; i < 30; ++i) {
        WirePeer peer;
        QVERIFY(peer.connectTo(quint16(port)));
        QVERIFY2(peer.join(longName) > 0, "the server stopped welcoming");
        peer.sendFrame(FrameKind::Bye, {});
        QVERIFY(peer.waitForClosed());
    }
    // Still serving: a join, and a PING answered.
    WirePeer last;
    QVERIFY(last.connectTo(quint16(port)));
    const qint32 lastId = last.join("Last");
    QVERIFY(lastId > 0);
    QVERIFY(answersPing(last, 7));

    // Once the reader catches up, the next line says how many went missing.
    readPipe(fds[0], false);
    last.sendFrame(FrameKind::Bye, {});
    last.socket().flush();
    const QByteArray after = readPipe(fds[0], true);
    ::close(fds[0]);
    const QList<QByteArray> lines = after.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].startsWith("dropped ") && lines[0].endsWith(" lines"), lines[0].constData());
    QVERIFY(lines[0].split(' ').value(1).toInt() > 0);
    QCOMPARE(lines[1], QStringLiteral("left %1 Last").arg(lastId).toUtf8());
    process.terminate();
    QVERIFY(process.waitForFinished(5000));
}

void TestServerProgram::descriptorShortageNeitherSpinsNorLocksOut() {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers' runtime needs descriptors of its own for its checks (it tests
    // memory through a pipe), so out of descriptors it reports faults that are not there.
    QSKIP("a sanitized server cannot run out of descriptors soundly");
#endif
    QProcess process;
    process.setChildProcessModifier([] {
        const rlimit few = {40, 40};
        ::setrlimit(RLIMIT_NOFILE, &few);
    });
    process.start(serverProgram(), {"--headless", "--port", "0", "--players", "100"});
    QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    const int port = readLine(process).toInt();
    QVERIFY(port > 0);
    WirePeer player;
    QVERIFY(player.connectTo(quint16(port)));
    QVERIFY(player.join("Player") > 0);

    // More connections than the server has descriptors: the rest wait in the system's queue.
    std::vector<std::unique_ptr<WirePeer>> strangers;
    for (int i = 0; i < 60; ++i) {
        strangers.push_back(std::make_unique<WirePeer>());
        QVERIFY(strangers.back()->connectTo(quint16(port)));
    }
    // A server that retried at once would use a core all this second; one that pauses, nearly
    // nothing. The bound is wide, so that a busy machine cannot make a sound server fail.
    QTest::qWait(200);
    const double before = cpuSeconds(process);
    QElapsedTimer clock;
    clock.start();
    // The player is served meanwhile.
    for (quint32 token = 1; token <= 5; ++token) {
        QVERIFY(answersPing(player, token));
        QTest::qWait(200);
    }
    const double used = cpuSeconds(process) - before;
    QVERIFY2(used < 0.25 * double(clock.elapsed()) / 1000.0, qPrintable(QString::number(used)));

    // Once descriptors are free again, joins go on.
    strangers.clear();
    WirePeer late;
    QVERIFY(late.connectTo(quint16(port)));
    QVERIFY(late.join("Late") > 0);
    process.terminate();
    QVERIFY(process.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(TestServerProgram)
void TestServerProgram::anIdleServerSleeps() {
    // With nobody connected there is nothing to watch: the server does not wake, before
    // its first visitor or after its last has gone.
    QProcess process;
    process.start(serverProgram(), {"--headless", "--port", "0"});
    QVERIFY2(process.waitForStarted(), qPrintable(process.errorString()));
    const int port = readLine(process).toInt();
    QVERIFY(port > 0);
    const auto wakesWhileIdle = [&] {
        QTest::qWait(400);
        const qint64 before = wakesOf(process);
        QTest::qWait(1500);
        return wakesOf(process) - before;
    };
    QVERIFY(wakesWhileIdle() <= 2);
    {
        WirePeer visitor;
        QVERIFY(visitor.connectTo(quint16(port)));
        const qint32 id = visitor.join("Visitor");
        QVERIFY(id > 0);
        QCOMPARE(readLine(process), QStringLiteral("joined %1 Visitor").arg(id));
        QVERIFY(answersPing(visitor, 1));
    }
    QVERIFY(readLine(process).startsWith(QStringLiteral("left")));
    QVERIFY(wakesWhileIdle() <= 2);
    process.terminate();
    QVERIFY(process.waitForFinished(5000));
}

#include "tst_serverprogram.moc"
