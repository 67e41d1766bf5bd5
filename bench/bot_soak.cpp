// Bounded soak on loopback: a headless gemvolt-server with room for 200
// clients, two --fast gemvolt-bot processes that fight on and on, and 198
// plain protocol clients that chat one line a second each. Stops by itself.
//
//   bench_bot_soak [--seconds S (default 60)] [--chatters N (default 198)]
//
// Reports: chat lines delivered, relay latency p50/p99 (send to receipt at
// every chatter), dropped and reordered lines (per sender, per receiver),
// the server's CPU time and resident memory at the start and the end, and the
// fights the bots finished.
//
// The queue puts each fight's loser behind everybody else. The chatters are
// no players: one that finds itself on board 2 at once reports a loss (a
// forfeit, recorded like any result), so the queue comes round to the bots
// again and they keep fighting each other.

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
    std::fprintf(stderr, "bench_bot_soak: %s\n", why.c_str());
    std::exit(1);
}

std::string ownFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    std::string text(path, std::size_t(n));
    return text.substr(0, text.rfind('/'));
}

pid_t spawn(const std::vector<std::string>& args, int stdoutFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ) != 0)
        fail("cannot start " + args[0]);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Fields of /proc/<pid>/stat and /proc/<pid>/status.
double cpuSeconds(pid_t pid) {
    std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!f)
        return 0;
    char buffer[1024] = {};
    const std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    buffer[got] = 0;
    const char* p = std::strrchr(buffer, ')');
    if (!p)
        return 0;
    unsigned long utime = 0, stime = 0;
    std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime);
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

long residentKb(pid_t pid) {
    std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (!f)
        return 0;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1)
            break;
    std::fclose(f);
    return kb;
}

// A chat line ends in '#', 16 hex digits of the send time, 8 of the sender's
// index and 8 of its sequence number.
constexpr std::size_t TailSize = 1 + 16 + 8 + 8;

struct Chatter {
    int fd = -1;
    std::uint32_t index = 0;
    std::int32_t id = 0;
    transport::FrameReader reader;
    std::string out;
    std::size_t outStart = 0;
    bool wantWrite = false;
    bool closed = false;
    std::uint32_t seq = 0;          // lines sent
    std::vector<std::int64_t> next; // per sender: the sequence number expected next
    bool onBoard2 = false;
    Clock::time_point nextLine;
};

class Soak {
public:
    Soak(int port, int chatters) : m_port(port), m_count(chatters) {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    }

    void connectAll() {
        for (int i = 0; i < m_count; ++i) {
            auto c = std::make_unique<Chatter>();
            c->index = std::uint32_t(i);
            c->next.assign(std::size_t(m_count), -1);
            c->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in addr = {};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(std::uint16_t(m_port));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(c->fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
                fail("connect failed");
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
                                                           "chat" + std::to_string(i)}));
            flush(*c);
            Chatter* raw = c.get();
            m_chatters.push_back(std::move(c));
            const auto deadline = Clock::now() + std::chrono::seconds(10);
            while (raw->id == 0) {
                if (Clock::now() > deadline || raw->closed)
                    fail("chatter " + std::to_string(i) + " was not welcomed");
                poll(10);
            }
        }
    }

    void run(double seconds) {
        const auto start = Clock::now();
        const auto end = start + std::chrono::duration<double>(seconds);
        // Spread the chatters over the second, one line a second each.
        for (auto& c : m_chatters)
            c->nextLine = start + std::chrono::microseconds(1000000LL * c->index / m_count);
        m_measuring = true;
        while (Clock::now() < end) {
            const auto now = Clock::now();
            for (auto& c : m_chatters) {
                if (!c->closed && now >= c->nextLine) {
                    sendLine(*c);
                    c->nextLine += std::chrono::seconds(1);
                }
            }
            poll(2);
        }
        // Whatever is still on the way arrives within a moment.
        const auto drainUntil = Clock::now() + std::chrono::seconds(3);
        while (Clock::now() < drainUntil)
            poll(20);
        m_measuring = false;
    }

    void disconnectAll() {
        for (auto& c : m_chatters) {
            if (c->closed)
                continue;
            std::string bye;
            transport::appendFrame(bye, FrameKind::Bye, {});
            [[maybe_unused]] auto sent = ::send(c->fd, bye.data(), bye.size(), MSG_NOSIGNAL);
            ::close(c->fd);
            c->closed = true;
        }
    }

    std::vector<std::int64_t> latencies;
    std::uint64_t sentLines = 0;
    std::uint64_t delivered = 0;
    std::uint64_t reordered = 0;
    std::uint64_t forfeits = 0;
    int closedChatters() const {
        int n = 0;
        for (const auto& c : m_chatters)
            n += c->closed ? 1 : 0;
        return n;
    }
    // Lines a receiver should have had and did not get.
    std::uint64_t dropped() const {
        std::uint64_t missing = 0;
        for (const auto& receiver : m_chatters)
            for (const auto& sender : m_chatters)
                missing += sender->seq - std::uint64_t(receiver->next[sender->index] < 0
                                                           ? 0
                                                           : receiver->next[sender->index]);
        return missing;
    }

private:
    void sendLine(Chatter& c) {
        std::string text = "chat" + std::to_string(c.index) + ":>one line a second";
        char tail[TailSize + 1];
        std::snprintf(tail, sizeof tail, "#%016" PRIx64 "%08" PRIx32 "%08" PRIx32,
                      std::uint64_t(nowNs()), c.index, c.seq);
        text.append(tail, TailSize);
        ++c.seq;
        ++sentLines;
        send(c, common::encode(common::MsgChat{std::move(text)}));
    }

    void send(Chatter& c, const common::Bytes& message) {
        transport::appendFrame(
            c.out, FrameKind::Data,
            std::string_view(reinterpret_cast<const char*>(message.data()), message.size()));
        flush(c);
    }

    void flush(Chatter& c) {
        while (c.outStart < c.out.size()) {
            const ssize_t n =
                ::send(c.fd, c.out.data() + c.outStart, c.out.size() - c.outStart, MSG_NOSIGNAL);
            if (n > 0) {
                c.outStart += std::size_t(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            c.closed = true;
            return;
        }
        if (c.outStart == c.out.size()) {
            c.out.clear();
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
            Chatter& c = *static_cast<Chatter*>(events[i].data.ptr);
            if (events[i].events & EPOLLOUT)
                flush(c);
            if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR))
                readFrom(c);
        }
    }

    void readFrom(Chatter& c) {
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
            while (c.reader.next(frame) == transport::FrameReader::Result::FrameReady)
                handleFrame(c, frame, now);
        }
    }

    void handleFrame(Chatter& c, const transport::Frame& frame, std::int64_t now) {
        switch (frame.kind) {
        case FrameKind::Welcome: {
            transport::Welcome welcome;
            if (transport::decodeWelcome(frame.body, welcome))
                c.id = welcome.playerId;
            break;
        }
        case FrameKind::Ping:
            transport::appendFrame(c.out, FrameKind::Pong, frame.body);
            flush(c);
            break;
        case FrameKind::Data:
            handleData(c, frame.body, now);
            break;
        case FrameKind::Bye:
        case FrameKind::Refuse:
            c.closed = true;
            break;
        default:
            break;
        }
    }

    void handleData(Chatter& c, std::string_view body, std::int64_t now) {
        if (body.empty())
            return;
        const auto type = static_cast<common::MsgType>(std::uint8_t(body[0]));
        const common::ByteView bytes(reinterpret_cast<const std::uint8_t*>(body.data()),
                                     body.size());
        if (type == common::MsgType::Standings) {
            const auto standings = common::decode<common::MsgStandings>(bytes);
            if (!standings || standings->Rows.size() < 2)
                return;
            const bool second = standings->Rows[1].Id.value() == c.id;
            if (second && !c.onBoard2) {
                // Not a player: give the turn back at once.
                send(c, common::encode(common::MsgGameOver{}));
                ++forfeits;
            }
            c.onBoard2 = second;
            return;
        }
        if (type != common::MsgType::Chat)
            return;
        const auto chat = common::decode<common::MsgChat>(bytes);
        if (!chat)
            return;
        const std::string& text = chat->Text;
        if (text.size() < TailSize || text[text.size() - TailSize] != '#')
            return;
        const std::string tail = text.substr(text.size() - TailSize + 1);
        const auto sentNs = std::int64_t(std::strtoull(tail.substr(0, 16).c_str(), nullptr, 16));
        const auto sender = std::uint32_t(std::strtoul(tail.substr(16, 8).c_str(), nullptr, 16));
        const auto seq = std::int64_t(std::strtoul(tail.substr(24, 8).c_str(), nullptr, 16));
        if (sender >= c.next.size())
            return;
        std::int64_t& expected = c.next[sender];
        if (expected < 0)
            expected = 0;
        if (seq != expected)
            ++reordered;
        expected = std::max(expected, seq + 1);
        if (m_measuring) {
            latencies.push_back(now - sentNs);
            ++delivered;
        }
    }

    int m_port;
    int m_count;
    int m_epoll = -1;
    bool m_measuring = false;
    std::vector<std::unique_ptr<Chatter>> m_chatters;
};

double percentileMs(std::vector<std::int64_t>& values, double fraction) {
    if (values.empty())
        return 0;
    const std::size_t index =
        std::min(values.size() - 1, static_cast<std::size_t>(fraction * double(values.size())));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(index), values.end());
    return double(values[index]) / 1e6;
}

std::string readAvailable(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, std::size_t(n));
    }
    return text;
}

int countLines(const std::string& text, const std::string& prefix) {
    int n = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find('\n', pos);
        const std::string line = text.substr(pos, end == std::string::npos ? end : end - pos);
        n += line.rfind(prefix, 0) == 0 ? 1 : 0;
        if (end == std::string::npos)
            break;
        pos = end + 1;
    }
    return n;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    double seconds = 60;
    int chatters = 198;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc)
            seconds = std::max(1.0, std::atof(argv[++i]));
        else if (arg == "--chatters" && i + 1 < argc)
            chatters = std::max(1, std::atoi(argv[++i]));
        else
            fail("usage: bench_bot_soak [--seconds S] [--chatters N]");
    }
    const std::string bin = ownFolder();

    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        fail("pipe failed");
    const pid_t server = spawn({bin + "/gemvolt-server", "--headless", "--port", "0", "--players",
                                std::to_string(chatters + 3)},
                               pipeFds[1]);
    ::close(pipeFds[1]);
    std::string portLine;
    char ch = 0;
    while (::read(pipeFds[0], &ch, 1) == 1 && ch != '\n')
        portLine += ch;
    const int port = std::atoi(portLine.c_str());
    if (port <= 0)
        fail("the server did not print its port");
    ::fcntl(pipeFds[0], F_SETFL, ::fcntl(pipeFds[0], F_GETFL) | O_NONBLOCK);
    std::string serverOut;

    // The bots join first: they are the first two of the queue and fight at once.
    std::vector<pid_t> bots;
    for (const char* name : {"SoakBotA", "SoakBotB"}) {
        bots.push_back(spawn({bin + "/gemvolt-bot", "--port", std::to_string(port), "--fast",
                              "--name", name, "--level", "normal"},
                             -1));
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (countLines(serverOut, "joined ") < int(bots.size())) {
            if (Clock::now() > deadline)
                fail("the bots did not join");
            ::usleep(20000);
            serverOut += readAvailable(pipeFds[0]);
        }
    }

    Soak soak(port, chatters);
    soak.connectAll();
    serverOut += readAvailable(pipeFds[0]);
    const double cpuStart = cpuSeconds(server);
    const long rssStart = residentKb(server);
    const int resultsBefore = countLines(serverOut, "result ");

    soak.run(seconds);

    serverOut += readAvailable(pipeFds[0]);
    const double cpuEnd = cpuSeconds(server);
    const long rssEnd = residentKb(server);
    const int results = countLines(serverOut, "result ") - resultsBefore;
    const std::uint64_t dropped = soak.dropped();
    const int lost = soak.closedChatters();

    soak.disconnectAll();
    for (const pid_t bot : bots) {
        ::kill(bot, SIGTERM);
        int status = 0;
        ::waitpid(bot, &status, 0);
    }
    ::kill(server, SIGTERM);
    int status = 0;
    ::waitpid(server, &status, 0);

    std::vector<std::int64_t> lat = soak.latencies;
    const int clients = chatters + 2;
    std::printf("soak: %d clients (%d chatters at 1 line/s, 2 --fast bots), %.0f s\n", clients,
                chatters, seconds);
    std::printf("  chat lines sent           %llu\n", (unsigned long long)soak.sentLines);
    std::printf("  deliveries to chatters    %llu (expected %llu)\n",
                (unsigned long long)soak.delivered,
                (unsigned long long)(soak.sentLines * std::uint64_t(chatters)));
    std::printf("  dropped                   %llu\n", (unsigned long long)dropped);
    std::printf("  reordered                 %llu\n", (unsigned long long)soak.reordered);
    std::printf("  relay latency p50 / p99   %.2f ms / %.2f ms\n", percentileMs(lat, 0.5),
                percentileMs(lat, 0.99));
    std::printf("  fight results             %d (%llu of them chatters handing back board 2)\n",
                results, (unsigned long long)soak.forfeits);
    std::printf("  server CPU                %.2f s over the run (%.0f %% of one core)\n",
                cpuEnd - cpuStart, 100.0 * (cpuEnd - cpuStart) / seconds);
    std::printf("  server resident memory    %ld kB at start, %ld kB at end\n", rssStart, rssEnd);
    std::printf("  chatters disconnected     %d\n", lost);
    const bool ok = dropped == 0 && soak.reordered == 0 && lost == 0;
    return ok ? 0 : 1;
}
