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
#include "Common/transport/WireFormat.h"
#include "bench/support/BenchProcess.h"
#include "bench/support/BenchSupport.h"
#include "bench/support/ProtocolClient.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/epoll.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace gemvolt;
using namespace gemvolt::bench;
using Clock = std::chrono::steady_clock;

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
        driverCpu = -ownCpuSeconds();
    }
    void end(double server) {
        measuring = false;
        serverCpu += server;
        driverCpu += ownCpuSeconds();
    }
};

// A client counts the stamped messages it receives into the current Stats and
// how many of its own are still on the way.
class Client : public ProtocolClient {
public:
    Client(std::uint32_t index, Stats*& stats) : ProtocolClient(index), m_stats(stats) {}

    int inFlight = 0;
    std::uint32_t seq = 0;

protected:
    void onData(std::string_view body, std::int64_t now) override {
        Stamp stamp;
        if (!readStamp(body, stamp)) {
            return;
        }
        if (stamp.sender == index()) {
            --inFlight;
        }
        if (m_stats && m_stats->measuring) {
            m_stats->latencies.push_back(now - stamp.sentNs);
            ++m_stats->deliveries;
            m_stats->bytes += body.size() + transport::FrameHeaderSize;
        }
    }

private:
    Stats*& m_stats;
};

class Driver {
public:
    Driver(int port, const BenchProcess& server) : m_port(port), m_server(server) {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    }
    ~Driver() {
        disconnectAll();
        ::close(m_epoll);
    }

    void connectClients(int count) {
        for (int i = 0; i < count; ++i) {
            auto c = std::make_unique<Client>(static_cast<std::uint32_t>(i), m_stats);
            c->connect(m_epoll, m_port, "load" + std::to_string(i));
            Client* raw = c.get();
            m_clients.push_back(std::move(c));
            // Join one at a time, so the queue is in connection order: the
            // first two clients are the fighters.
            if (!raw->awaitWelcome(std::chrono::seconds(5))) {
                fail("client " + std::to_string(i) + " was not welcomed");
            }
        }
        settle();
    }

    // Waits until the roster traffic has died down.
    void settle() {
        auto quietSince = Clock::now();
        std::uint64_t seen = framesSeen();
        while (Clock::now() - quietSince < std::chrono::milliseconds(300)) {
            poll(20);
            if (framesSeen() != seen) {
                seen = framesSeen();
                quietSince = Clock::now();
            }
        }
    }

    void disconnectAll() {
        for (auto& c : m_clients) {
            c->disconnect();
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
        std::string text = "load" + std::to_string(c.index()) + ":>";
        text.append(270 - text.size() - StampSize, 'x');
        text += stampText(nowNs(), c.index(), c.seq++);
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
                    board, cells, "07" + stampText(nowNs(), c.index(), c.seq++))));
    }

    void send(Client& c, const common::Bytes& message) {
        ++c.inFlight;
        c.sendData(message);
    }

    void poll(int timeoutMs) { ProtocolClient::poll(m_epoll, timeoutMs); }

    std::uint64_t framesSeen() const {
        std::uint64_t frames = 0;
        for (const auto& c : m_clients) {
            frames += c->framesSeen();
        }
        return frames;
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
    const BenchProcess& m_server;
    int m_epoll = -1;
    std::vector<std::unique_ptr<Client>> m_clients;
    Stats* m_stats = nullptr;
};

void report(const char* load, int clients, Stats& stats, double seconds) {
    const double cpu = stats.serverCpu;
    const double driverCpu = stats.driverCpu;
    const double p50 = percentile(stats.latencies, 0.50) / 1000.0;
    const double p99 = percentile(stats.latencies, 0.99) / 1000.0;
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
        BenchProcess process;
        // The flat-out loads send far more than a player may: the limit is off.
        const int port = process.startServer(server, n + 1, {"--flood-limit", "0"});
        {
            Driver driver(port, process);
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
