// What a hostile peer can make a client spend, on loopback, bounded in time:
//
//   bench_client_abuse [--seconds S (default 3)] [--only bot|watcher]
//
// bot-flood <kind>: a hostile server welcomes a real gemvolt-bot and floods it
//   with chat lines (kind "big": 1 MiB frames; "small": 100-byte frames) for S
//   seconds. Reports what the bot took, its peak resident memory, and how long
//   it takes to end after SIGTERM sent in the middle of the flood.
// watcher-colours: a client window watches a fight in which a fighter sends a
//   board a centisecond, every gem in a colour never seen before, for S
//   seconds. Reports the board states shown and how much the window's resident
//   memory grew.

#include "Client/shell/FrmMain.h"
#include "Common/MessageCodec.h"
#include "Common/transport/ControlMessages.h"
#include "Common/transport/FrameReader.h"
#include "support/HostileServer.h"
#include "support/ScriptedDialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace gemvolt;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// A "Vm...:" figure of /proc/<pid>/status, in kB (0 once the process is gone).
long statusKb(pid_t pid, const char* field) {
    std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (!f)
        return 0;
    char line[256];
    long kb = 0;
    const std::size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, field, length) == 0) {
            kb = std::atol(line + length);
            break;
        }
    }
    std::fclose(f);
    return kb;
}

std::string chatMessage(std::size_t size) {
    const common::Bytes bytes = common::encode(common::MsgChat{std::string(size, 'x')});
    return std::string(bytes.begin(), bytes.end());
}

void botFlood(const char* kind, std::size_t textSize, int seconds) {
    testing::HostileServer server;
    server.flood(chatMessage(textSize), ~std::uint64_t(0), Ms(seconds * 1000 + 30000));

    const std::string bot = QCoreApplication::applicationDirPath().toStdString() + "/gemvolt-bot";
    const std::string port = std::to_string(server.port());
    const char* argv[] = {bot.c_str(), "--port", port.c_str(), "--name", "Flooded", nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, bot.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
        std::fprintf(stderr, "bench_client_abuse: cannot start %s\n", bot.c_str());
        std::exit(1);
    }
    (void)server.waitForBytes(1, Ms(10000));
    const auto start = Clock::now();
    // Flooded for the whole time, then SIGTERM while the flood goes on.
    long peakKb = 0;
    while (Clock::now() - start < Ms(seconds * 1000)) {
        peakKb = std::max(peakKb, statusKb(pid, "VmRSS:"));
        std::this_thread::sleep_for(Ms(20));
    }
    peakKb = std::max(peakKb, statusKb(pid, "VmHWM:"));
    const std::uint64_t taken = server.bytesSent();
    ::kill(pid, SIGTERM);
    const auto termAt = Clock::now();
    int status = 0;
    bool ended = false;
    while (Clock::now() - termAt < Ms(30000)) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
            break;
        }
        std::this_thread::sleep_for(Ms(5));
    }
    const double endMs = std::chrono::duration<double, std::milli>(Clock::now() - termAt).count();
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    std::printf("bot-flood %s: took %.1f MiB in %d s, peak memory %.1f MiB, "
                "%s %.0f ms after SIGTERM\n",
                kind, double(taken) / 1048576.0, seconds, double(peakKb) / 1024.0,
                ended ? "ended" : "still running (killed)", endMs);
    std::fflush(stdout);
}

// Plays the server for one client window: welcomes it, then sends board 2's
// state every 10 ms, each gem in a colour not used before.
class ColourServer : public QObject {
public:
    ColourServer() {
        m_listener.listen(QHostAddress::LocalHost, 0);
        connect(&m_listener, &QTcpServer::newConnection, this, [this] {
            m_socket = m_listener.nextPendingConnection();
            connect(m_socket, &QTcpSocket::readyRead, this, [this] { onRead(); });
        });
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] { sendBoard(); });
    }
    quint16 port() const { return m_listener.serverPort(); }
    int boards() const { return m_boards; }

private:
    void onRead() {
        m_reader.append(m_socket->readAll().toStdString());
        transport::Frame frame;
        while (m_reader.next(frame) == transport::FrameReader::Result::FrameReady) {
            if (frame.kind == transport::FrameKind::Hello) {
                send(transport::FrameKind::Welcome, transport::encodeWelcome({7, "Colours"}));
                m_timer.start();
            } else if (frame.kind == transport::FrameKind::Ping) {
                send(transport::FrameKind::Pong, std::string(frame.body));
            }
        }
    }
    void send(transport::FrameKind kind, const std::string& body) {
        const std::string bytes = transport::encodeFrame(kind, body);
        m_socket->write(bytes.data(), qint64(bytes.size()));
    }
    void sendBoard() {
        std::array<common::GemCell, common::BoardCells> cells{};
        for (common::GemCell& cell : cells) {
            cell.Occupied = true;
            cell.Shape = common::ShapeNormal;
            cell.Color = static_cast<std::int32_t>(m_nextColour++ & 0xFFFFFF);
        }
        const common::Bytes message =
            common::encode(common::MsgBoardState::fromBoard(2, cells, "00"));
        send(transport::FrameKind::Data, std::string(message.begin(), message.end()));
        ++m_boards;
    }

    QTcpServer m_listener;
    QTcpSocket* m_socket = nullptr;
    transport::FrameReader m_reader;
    QTimer m_timer;
    std::uint32_t m_nextColour = 1;
    int m_boards = 0;
};

void watcherColours(int seconds) {
    ColourServer server;
    testing::ScriptedDialogs dialogs;
    dialogs.answers = {QStringLiteral("127.0.0.1:%1").arg(server.port()),
                       QStringLiteral("Watcher")};
    shell::FrmMain window(dialogs);
    window.startUp();
    QTest::qWait(500);
    const long before = statusKb(::getpid(), "VmRSS:");
    const int boards0 = server.boards();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000)
        QTest::qWait(50);
    const long after = statusKb(::getpid(), "VmRSS:");
    std::printf("watcher-colours: %d boards shown in %d s, memory %.1f -> %.1f MiB (+%.1f)\n",
                server.boards() - boards0, seconds, double(before) / 1024.0, double(after) / 1024.0,
                double(after - before) / 1024.0);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int seconds = 3;
    QString only;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--only") == 0)
            only = QString::fromLocal8Bit(argv[i + 1]);
    }
    if (only.isEmpty() || only == QLatin1String("bot")) {
        // A chat frame as large as frames go: type, byte count and text.
        botFlood("big", transport::MaxFrameBody - 5, seconds);
        botFlood("small", 90, seconds);
    }
    if (only.isEmpty() || only == QLatin1String("watcher"))
        watcherColours(seconds);
    return 0;
}
