// Load driver for gemvolt-server: starts a headless server on a free port,
// connects N clients that speak the session protocol, and measures how fast
// and how promptly the server relays to every player.
//
//   bench_server_load [--server PATH] [--clients 2,10,50] [--seconds S]
//
// Loads, for each N:
//   board-5hz    the two fighters send MsgBoardState at 5 Hz each
//   chat-flat    every client sends ~270-byte chat lines, closed loop, at most
//                64 of its own lines not yet received back
//   board-flat   the two fighters send board snapshots, closed loop, 64 in flight
// Reported: latency from send to receipt at every client (p50, p99, max),
// deliveries per second (messages x receivers), MB/s of frames received, the
// server's CPU time while measuring (seconds and % of one core), deliveries
// per second of server CPU (what a free core would carry, whatever else the
// machine runs), and this driver's own CPU share.
//
// On a machine shared with other work, run it as `chrt -f 10 bench_server_load`
// (root) to see the server's own figures rather than the scheduler's.
//
// The driver runs on one thread with non-blocking sockets and epoll, so that
// it stays out of the way; it shares the machine with the server, which is
// the point of a loopback measurement, not a flaw of it.
#include "Common/MessageCodec.h"
#include "Common/transport/ControlMessages.h"
#include "Common/transport/FrameReader.h"
#include "Common/transport/WireFormat.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <spawn.h>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace gemvolt;
using Clock = std::chrono::steady_clock;
using transport::FrameKind;

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "bench_server_load: %s\n", why.c_str());
    std::exit(1);
}

// --- the server process -----------------------------------------------------

struct ServerProcess {
    pid_t pid = -1;
    int out = -1;
    int port = 0;

    void start(const std::string& path, int players) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            fail("pipe failed");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        const std::string playersText = std::to_string(players);
        std::vector<char*> argv = {const_cast<char*>(path.c_str()),
                                   const_cast<char*>("--headless"),
                                   const_cast<char*>("--port"),
                                   const_cast<char*>("0"),
                                   const_cast<char*>("--players"),
                                   const_cast<char*>(playersText.c_str()),
                                   nullptr};
        if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            fail("cannot start " + path);
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        out = pipeFds[0];
        port = std::atoi(readLine().c_str());
        if (port <= 0) {
            fail("the server did not print its port");
        }
    }

    std::string readLine() {
        std::string line;
        char ch = 0;
        while (::read(out, &ch, 1) == 1 && ch != '\n') {
            line += ch;
        }
        return line;
    }

    // User plus system CPU time of the server so far, in seconds.
    double cpuSeconds() const {
        const std::string path = "/proc/" + std::to_string(pid) + "/stat";
        std::FILE* f = std::fopen(path.c_str(), "r");
        if (!f) {
            return 0;
        }
        char buffer[1024] = {};
        const std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, f);
        std::fclose(f);
        buffer[got] = 0;
        // Fields after the command name, which is in parentheses.
        const char* p = std::strrchr(buffer, ')');
        if (!p) {
            return 0;
        }
        unsigned long utime = 0, stime = 0;
        // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime
        std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime);
        return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
    }

    void stop() {
        if (pid <= 0) {
            return;
        }
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(out);
        pid = -1;
    }
};

// --- one client -----------------------------------------------------------

// Every measured message ends in this tail: '#', 16 hex digits of the send
// time, 8 of the sender's index, 8 of the sequence number.
constexpr std::size_t TailSize = 1 + 16 + 8 + 8;

std::string tail(std::int64_t sentNs, std::uint32_t sender, std::uint32_t seq) {
    char text[TailSize + 1];
    std::snprintf(text, sizeof text, "#%016" PRIx64 "%08" PRIx32 "%08" PRIx32,
                  static_cast<std::uint64_t>(sentNs), sender, seq);
    return std::string(text, TailSize);
}

bool readTail(std::string_view body, std::int64_t& sentNs, std::uint32_t& sender) {
    if (body.size() < TailSize + 1 || body[body.size() - TailSize] != '#') {
        return false;
    }
    const std::string text(body.substr(body.size() - TailSize + 1));
    sentNs = static_cast<std::int64_t>(std::strtoull(text.substr(0, 16).c_str(), nullptr, 16));
    sender = static_cast<std::uint32_t>(std::strtoul(text.substr(16, 8).c_str(), nullptr, 16));
    return true;
}

struct Client {
    int fd = -1;
    std::uint32_t index = 0;
    std::int32_t id = 0;
    transport::FrameReader reader;
    std::string out;
    std::size_t outStart = 0;
    bool wantWrite = false;
    int inFlight = 0;
    std::uint32_t seq = 0;
    bool closed = false;
};

// CPU time of this driver so far, in seconds.
double driverCpuSeconds() {
    rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Stats {
    std::vector<std::int64_t> latencies;
    std::uint64_t deliveries = 0;
    std::uint64_t bytes = 0;
    bool measuring = false;
    // CPU seconds of the server and of this driver while measuring.
    double serverCpu = 0;
    double driverCpu = 0;

    void begin(double server) {
        measuring = true;
        serverCpu = -server;
        driverCpu = -driverCpuSeconds();
    }
    void end(double server) {
        measuring = false;
        serverCpu += server;
        driverCpu += driverCpuSeconds();
    }
};

class Driver {
public:
    explicit Driver(int port, const ServerProcess& server) : m_port(port), m_server(server) {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    }
    ~Driver() {
        disconnectAll();
        ::close(m_epoll);
    }

    void connectClients(int count) {
        for (int i = 0; i < count; ++i) {
            auto c = std::make_unique<Client>();
            c->index = static_cast<std::uint32_t>(i);
            c->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in addr = {};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<std::uint16_t>(m_port));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(c->fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
                fail("connect failed");
            }
            int one = 1;
            ::setsockopt(c->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ::fcntl(c->fd, F_SETFL, ::fcntl(c->fd, F_GETFL) | O_NONBLOCK);
            epoll_event ev = {};
            ev.events = EPOLLIN;
            ev.data.ptr = c.get();
            ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, c->fd, &ev);
            transport::appendFrame(c->out, FrameKind::Hello,
                                   transport::encodeHello({transport::ProtocolVersion,
                                                           std::string(transport::ApplicationId),
                                                           "load" + std::to_string(i)}));
            flush(*c);
            Client* raw = c.get();
            m_clients.push_back(std::move(c));
            // Join one at a time, so the queue is in connection order: the
            // first two clients are the fighters.
            const auto deadline = Clock::now() + std::chrono::seconds(5);
            while (raw->id == 0) {
                if (Clock::now() > deadline || raw->closed) {
                    fail("client " + std::to_string(i) + " was not welcomed");
                }
                poll(10);
            }
        }
        settle();
    }

    // Waits until the roster traffic has died down.
    void settle() {
        auto quietSince = Clock::now();
        std::uint64_t seen = m_framesSeen;
        while (Clock::now() - quietSince < std::chrono::milliseconds(300)) {
            poll(20);
            if (m_framesSeen != seen) {
                seen = m_framesSeen;
                quietSince = Clock::now();
            }
        }
    }

    void disconnectAll() {
        for (auto& c : m_clients) {
            if (!c->closed) {
                std::string bye;
                transport::appendFrame(bye, FrameKind::Bye, {});
                [[maybe_unused]] auto sent = ::send(c->fd, bye.data(), bye.size(), MSG_NOSIGNAL);
                ::close(c->fd);
                c->closed = true;
            }
        }
        m_clients.clear();
    }

    // The 5 Hz load: each fighter sends a snapshot every 200 ms.
    Stats fixedRate(double seconds) {
        Stats stats;
        m_stats = &stats;
        stats.begin(m_server.cpuSeconds());
        const auto start = Clock::now();
        const auto end = start + std::chrono::duration<double>(seconds);
        // The two fighters are 100 ms apart, as two clients' timers would be.
        Clock::time_point next[2] = {start, start + std::chrono::milliseconds(100)};
        while (Clock::now() < end) {
            for (int f = 0; f < 2; ++f) {
                if (Clock::now() >= next[f]) {
                    sendBoard(*m_clients[std::size_t(f)], f + 1);
                    next[f] += std::chrono::milliseconds(200);
                }
            }
            const auto wait = std::min(next[0], next[1]) - Clock::now();
            poll(int(std::max<std::int64_t>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(wait).count())));
        }
        stats.end(m_server.cpuSeconds());
        drain(stats);
        return stats;
    }

    // The closed loop: senders keep up to 64 of their own messages on the way.
    Stats flatOut(bool chat, double seconds, double& measuredSeconds) {
        Stats stats;
        m_stats = &stats;
        const std::size_t senders = chat ? m_clients.size() : 2;
        const auto start = Clock::now();
        const auto measureFrom = start + std::chrono::milliseconds(300);
        const auto end = measureFrom + std::chrono::duration<double>(seconds);
        while (Clock::now() < end) {
            if (!stats.measuring && Clock::now() >= measureFrom) {
                stats.begin(m_server.cpuSeconds());
            }
            for (std::size_t s = 0; s < senders; ++s) {
                Client& c = *m_clients[s];
                while (c.inFlight < 64) {
                    if (chat) {
                        sendChat(c);
                    } else {
                        sendBoard(c, int(s) + 1);
                    }
                }
            }
            poll(1);
        }
        measuredSeconds = std::chrono::duration<double>(Clock::now() - measureFrom).count();
        stats.end(m_server.cpuSeconds());
        drain(stats);
        return stats;
    }

private:
    void sendChat(Client& c) {
        // A chat line of about 270 bytes as the chat window composes it.
        std::string text = "load" + std::to_string(c.index) + ":>";
        text.append(270 - text.size() - TailSize, 'x');
        text += tail(nowNs(), c.index, c.seq++);
        send(c, common::encode(common::MsgChat{std::move(text)}));
    }

    void sendBoard(Client& c, int board) {
        std::array<common::GemCell, common::BoardCells> cells{};
        for (int i = 0; i < common::BoardCells; ++i) {
            auto& cell = cells[std::size_t(i)];
            // A board half full of gems, as in the middle of a fight.
            cell.Occupied = i < 45;
            cell.Shape = cell.Occupied ? common::ShapeNormal : common::ShapeNone;
            cell.Color = cell.Occupied ? (i % 2 ? common::GemBlue : common::GemRed) : 0;
        }
        send(c, common::encode(common::MsgBoardState::fromBoard(
                    board, cells, "07" + tail(nowNs(), c.index, c.seq++))));
    }

    void send(Client& c, const common::Bytes& message) {
        transport::appendFrame(
            c.out, FrameKind::Data,
            std::string_view(reinterpret_cast<const char*>(message.data()), message.size()));
        ++c.inFlight;
        flush(c);
    }

    void flush(Client& c) {
        while (c.outStart < c.out.size()) {
            const ssize_t n =
                ::send(c.fd, c.out.data() + c.outStart, c.out.size() - c.outStart, MSG_NOSIGNAL);
            if (n > 0) {
                c.outStart += std::size_t(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            }
            c.closed = true;
            return;
        }
        if (c.outStart == c.out.size()) {
            c.out.clear();
            c.outStart = 0;
        } else if (c.outStart > (1 << 20)) {
            c.out.erase(0, c.outStart);
            c.outStart = 0;
        }
        const bool want = c.outStart < c.out.size();
        if (want != c.wantWrite) {
            c.wantWrite = want;
            epoll_event ev = {};
            ev.events = EPOLLIN | (want ? EPOLLOUT : 0u);
            ev.data.ptr = &c;
            ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.fd, &ev);
        }
    }

    void poll(int timeoutMs) {
        epoll_event events[64];
        const int n = ::epoll_wait(m_epoll, events, 64, timeoutMs);
        for (int i = 0; i < n; ++i) {
            Client& c = *static_cast<Client*>(events[i].data.ptr);
            if (events[i].events & EPOLLOUT) {
                flush(c);
            }
            if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
                readFrom(c);
            }
        }
    }

    void readFrom(Client& c) {
        for (;;) {
            char* room = c.reader.prepare(65536);
            const ssize_t n = ::recv(c.fd, room, 65536, 0);
            if (n <= 0) {
                c.reader.commit(0);
                if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                    if (!c.closed) {
                        c.closed = true;
                        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, c.fd, nullptr);
                    }
                }
                break;
            }
            c.reader.commit(std::size_t(n));
            const std::int64_t now = nowNs();
            transport::Frame frame;
            while (c.reader.next(frame) == transport::FrameReader::Result::FrameReady) {
                handleFrame(c, frame, now);
            }
        }
    }

    void handleFrame(Client& c, const transport::Frame& frame, std::int64_t now) {
        ++m_framesSeen;
        switch (frame.kind) {
        case FrameKind::Welcome: {
            transport::Welcome welcome;
            if (transport::decodeWelcome(frame.body, welcome)) {
                c.id = welcome.playerId;
            }
            break;
        }
        case FrameKind::Ping:
            transport::appendFrame(c.out, FrameKind::Pong, frame.body);
            flush(c);
            break;
        case FrameKind::Data: {
            std::int64_t sentNs = 0;
            std::uint32_t sender = 0;
            if (!readTail(frame.body, sentNs, sender)) {
                break;
            }
            if (sender == c.index) {
                --c.inFlight;
            }
            if (m_stats && m_stats->measuring) {
                m_stats->latencies.push_back(now - sentNs);
                ++m_stats->deliveries;
                m_stats->bytes += frame.body.size() + transport::FrameHeaderSize;
            }
            break;
        }
        case FrameKind::Bye:
        case FrameKind::Refuse:
            c.closed = true;
            break;
        default:
            break;
        }
    }

    // Takes in what is still on the way, so the next load starts clean.
    void drain(Stats& stats) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline) {
            bool busy = false;
            for (auto& c : m_clients) {
                busy = busy || c->inFlight > 0;
            }
            if (!busy) {
                break;
            }
            poll(10);
        }
        settle();
        (void)stats;
        m_stats = nullptr;
    }

    int m_port;
    const ServerProcess& m_server;
    int m_epoll = -1;
    std::vector<std::unique_ptr<Client>> m_clients;
    Stats* m_stats = nullptr;
    std::uint64_t m_framesSeen = 0;
};

double percentileUs(std::vector<std::int64_t>& values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    const std::size_t index =
        std::min(values.size() - 1, static_cast<std::size_t>(fraction * double(values.size())));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(index), values.end());
    return double(values[index]) / 1000.0;
}

void report(const char* load, int clients, Stats& stats, double seconds) {
    const double cpu = stats.serverCpu;
    const double driverCpu = stats.driverCpu;
    const double p50 = percentileUs(stats.latencies, 0.50);
    const double p99 = percentileUs(stats.latencies, 0.99);
    const double max =
        stats.latencies.empty()
            ? 0
            : double(*std::max_element(stats.latencies.begin(), stats.latencies.end())) / 1000.0;
    // Deliveries per second of server CPU: what one free core would carry,
    // whatever else the machine is doing.
    const double perCpu = cpu > 0 ? double(stats.deliveries) / cpu : 0;
    std::printf("%-10s %4d %9.0f %9.0f %9.0f %11.0f %8.2f %8.2f %6.0f%% %12.0f %6.0f%%\n", load,
                clients, p50, p99, max, double(stats.deliveries) / seconds,
                double(stats.bytes) / seconds / 1e6, cpu, 100.0 * cpu / seconds, perCpu,
                100.0 * driverCpu / seconds);
    std::fflush(stdout);
}

std::string ownFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return ".";
    }
    std::string text(path, std::size_t(n));
    return text.substr(0, text.rfind('/'));
}

} // namespace

int main(int argc, char** argv) {
    std::string server = ownFolder() + "/gemvolt-server";
    std::vector<int> counts = {2, 10, 50};
    double seconds = 3.0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--server" && i + 1 < argc) {
            server = argv[++i];
        } else if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::max(0.5, std::atof(argv[++i]));
        } else if (arg == "--clients" && i + 1 < argc) {
            counts.clear();
            for (char* p = std::strtok(argv[++i], ","); p; p = std::strtok(nullptr, ",")) {
                counts.push_back(std::max(2, std::atoi(p)));
            }
        } else {
            std::fprintf(stderr, "usage: %s [--server PATH] [--clients 2,10,50] [--seconds S]\n",
                         argv[0]);
            return 2;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);

    double load[3] = {};
    if (::getloadavg(load, 3) == 3) {
        std::printf("# load average before the run: %.2f %.2f %.2f on %ld processors\n", load[0],
                    load[1], load[2], ::sysconf(_SC_NPROCESSORS_ONLN));
    }
    std::printf("%-10s %4s %9s %9s %9s %11s %8s %8s %7s %12s %7s\n", "load", "N", "p50 us",
                "p99 us", "max us", "deliv/s", "MB/s", "srv cpu", "srv %", "deliv/srv-s", "drv %");
    for (int n : counts) {
        ServerProcess process;
        process.start(server, n + 1);
        {
            Driver driver(process.port, process);
            driver.connectClients(n);

            const double rateSeconds = std::max(2.0, 2 * seconds);
            Stats rate = driver.fixedRate(rateSeconds);
            report("board-5hz", n, rate, rateSeconds);

            double measured = 0;
            Stats chat = driver.flatOut(true, seconds, measured);
            report("chat-flat", n, chat, measured);

            Stats board = driver.flatOut(false, seconds, measured);
            report("board-flat", n, board, measured);
        }
        process.stop();
    }
    return 0;
}
