// Abuse run for gemvolt-server: a few seconds of each attack a stranger on the
// network can make, each against a fresh headless server on loopback, while two
// honest players exchange numbered chat lines through it.
//
//   bench_abuse [--server PATH] [--seconds S] [--quick] [--only a,b,...]
//
// Attacks:
//   big-hello   connections that announce a 1 MiB HELLO and send most of it,
//               opened again a second after the server closes them
//   silent      hundreds of connections that never say HELLO, opened again when
//               closed; a newcomer joins halfway
//   fd-limit    a server allowed 64 descriptors, held full by silent connections;
//               when they go, a newcomer joins
//   unread-log  nobody reads the server's output while players join and leave
//               with long names, as fast as the server welcomes them
//   chat-flood  a player sending 1 MiB chat lines as fast as the server takes them
//   trickle     players that send one byte a second of a frame that never ends
//               (lasts past the 15 s liveness limit; not in --quick)
// Reported per attack: the server's peak resident memory during the attack and
// its memory a second after the attack ended, its CPU share during the attack,
// the honest players' lines sent, lost, reordered and whether one was cut off,
// and what became of the attack.
//
// --quick is the bounded run CI makes (smaller attacks, about 15 s in all); it
// fails (status 1) when an honest player lost a line or was cut off, or when an
// attack was not contained (the flooder kept its session, a newcomer was not
// welcomed, the server stopped welcoming while its output went unread).
#include "Common/MessageCodec.h"
#include "Common/transport/ControlMessages.h"
#include "Common/transport/WireFormat.h"
#include "bench/support/BenchProcess.h"
#include "bench/support/BenchSupport.h"
#include "bench/support/ProtocolClient.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace gemvolt;
using namespace gemvolt::bench;
using Clock = std::chrono::steady_clock;
using transport::FrameKind;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string frame(FrameKind kind, std::string_view body) {
    return transport::encodeFrame(kind, body);
}

std::string helloFrame(const std::string& name) {
    return frame(FrameKind::Hello,
                 transport::encodeHello(
                     {transport::ProtocolVersion, std::string(transport::ApplicationId), name}));
}

// A non-blocking connection to the server on loopback; -1 when this program is
// out of descriptors. Loopback connects complete at once or soon after.
int openRaw(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
        errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads away what the server sent; false once the server has closed the connection.
bool drainRaw(int fd) {
    char scratch[65536];
    for (int i = 0; i < 16; ++i) {
        const ssize_t n = ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n > 0) {
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOTCONN);
    }
    return true;
}

// An honest player: sends a stamped chat line every 20 ms and checks that every
// line of both players arrives once, in order.
class Honest : public ProtocolClient {
public:
    explicit Honest(std::uint32_t index) : ProtocolClient(index) {}

    std::uint32_t sent = 0;
    std::uint32_t received[2] = {0, 0};
    std::int64_t lastSeq[2] = {-1, -1};
    std::uint32_t reordered = 0;

    void sendLine() {
        std::string text = "honest" + std::to_string(index()) + ":> line ";
        text += stampText(nowNs(), index(), sent++);
        sendData(common::encode(common::MsgChat{std::move(text)}));
    }

protected:
    void onData(std::string_view body, std::int64_t) override {
        if (body.empty() || body[0] != char(common::MsgType::Chat) || body.size() > 4096) {
            return;
        }
        const auto chat =
            common::decode<common::MsgChat>(common::byteView(body.data(), body.size()));
        Stamp stamp;
        if (!chat || !readStamp(chat->Text, stamp) || stamp.sender > 1) {
            return;
        }
        if (std::int64_t(stamp.seq) <= lastSeq[stamp.sender]) {
            ++reordered;
        } else {
            ++received[stamp.sender];
        }
        lastSeq[stamp.sender] = std::max(lastSeq[stamp.sender], std::int64_t(stamp.seq));
    }
};

// A plain player the attacks use (a flooder, a newcomer, a joiner); ignores what it gets.
class Player : public ProtocolClient {
public:
    using ProtocolClient::ProtocolClient;

protected:
    void onData(std::string_view, std::int64_t) override {}
};

struct Options {
    std::string server;
    double seconds = 4.0;
    bool quick = false;
};

// What one attack does; the driver calls step() often while the honest players talk.
class Attack {
public:
    virtual ~Attack() = default;
    virtual const char* name() const = 0;
    /** Descriptors the server may have (0: as this program has). */
    virtual int serverFileLimit() const { return 0; }
    virtual double seconds(const Options& o) const { return o.seconds; }
    virtual void start(int port, int epoll) = 0;
    /** fraction: how far into the attack, 0 to 1. */
    virtual void step(double fraction) = 0;
    virtual void stop() = 0;
    /** What became of the attack, one short phrase. */
    virtual std::string outcome() const = 0;
    /** False when the server did not contain it. */
    virtual bool contained() const { return true; }
};

// Connections that never finish a handshake: silent, or sending most of a 1 MiB HELLO.
// Each one the server closes is opened again after a pause, to keep up the pressure.
class Strangers : public Attack {
public:
    Strangers(const char* name, int count, bool bigHello, double reopenAfter)
        : m_name(name), m_slots(std::size_t(count)), m_bigHello(bigHello),
          m_reopenAfter(reopenAfter) {
        if (bigHello) {
            char header[transport::FrameHeaderSize];
            transport::writeFrameHeader(header, FrameKind::Hello, transport::MaxFrameBody);
            m_payload.assign(header, sizeof header);
            // Most of the announced body: the version, then filler.
            m_payload += std::string("\x01\x00", 2);
            m_payload.append(1000000, 'h');
        }
    }
    const char* name() const override { return m_name; }
    void start(int port, int) override {
        m_port = port;
        m_begin = Clock::now();
        for (Slot& s : m_slots) {
            open(s);
        }
    }
    void step(double) override {
        // Strangers are looked after every 20 ms: the honest players come first.
        if (Clock::now() - m_lastStep < std::chrono::milliseconds(20)) {
            return;
        }
        m_lastStep = Clock::now();
        for (Slot& s : m_slots) {
            if (s.fd < 0) {
                if (!m_holding && secondsSince(m_begin) >= s.reopenAt) {
                    open(s);
                }
                continue;
            }
            if (m_bigHello && s.sent < m_payload.size()) {
                const std::size_t chunk = std::min<std::size_t>(65536, m_payload.size() - s.sent);
                const ssize_t n =
                    ::send(s.fd, m_payload.data() + s.sent, chunk, MSG_DONTWAIT | MSG_NOSIGNAL);
                if (n > 0) {
                    s.sent += std::size_t(n);
                    m_bytesSent += std::uint64_t(n);
                } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                    closedByServer(s);
                    continue;
                }
            }
            if (!drainRaw(s.fd)) {
                closedByServer(s);
            }
        }
    }
    void stop() override { closeAll(); }
    std::string outcome() const override {
        std::string text = std::to_string(m_opened) + " opened, " +
                           std::to_string(m_closedByServer) + " closed by the server";
        if (m_bigHello) {
            text += ", " + std::to_string(m_bytesSent / (1024 * 1024)) + " MiB sent";
        }
        return text;
    }

protected:
    struct Slot {
        int fd = -1;
        std::size_t sent = 0;
        double reopenAt = 0;
    };
    void open(Slot& s) {
        s.fd = openRaw(m_port);
        s.sent = 0;
        m_opened += s.fd >= 0 ? 1 : 0;
    }
    void closedByServer(Slot& s) {
        ::close(s.fd);
        s.fd = -1;
        s.reopenAt = secondsSince(m_begin) + m_reopenAfter;
        ++m_closedByServer;
    }
    void closeAll() {
        for (Slot& s : m_slots) {
            if (s.fd >= 0) {
                ::close(s.fd);
                s.fd = -1;
            }
        }
    }

    const char* m_name;
    std::vector<Slot> m_slots;
    bool m_bigHello;
    double m_reopenAfter;
    bool m_holding = false;
    std::string m_payload;
    int m_port = 0;
    Clock::time_point m_begin;
    Clock::time_point m_lastStep;
    std::uint64_t m_opened = 0;
    std::uint64_t m_closedByServer = 0;
    std::uint64_t m_bytesSent = 0;
};

// Joins a newcomer at a point of the attack and times its connect and WELCOME.
// (A connect the system's full queue turned away is tried again by the system a
// second later, whatever the server does.)
class Newcomer {
public:
    void join(int port, int epoll) {
        m_asked = Clock::now();
        m_player = std::make_unique<Player>(1000);
        m_player->connect(epoll, port, "newcomer");
    }
    void check() {
        if (m_player && m_welcomeMs < 0 && m_player->playerId() != 0) {
            m_welcomeMs = secondsSince(m_asked) * 1000.0;
        }
    }
    bool asked() const { return m_player != nullptr; }
    bool welcomed() const { return m_welcomeMs >= 0; }
    std::string text() const {
        if (!m_player) {
            return "no newcomer";
        }
        char buffer[64];
        if (welcomed()) {
            std::snprintf(buffer, sizeof buffer, "newcomer welcomed in %.0f ms", m_welcomeMs);
        } else {
            std::snprintf(buffer, sizeof buffer, "newcomer NOT welcomed");
        }
        return buffer;
    }
    /** Gives a newcomer not yet welcomed up to three seconds from its connect. */
    void leave() {
        if (!m_player) {
            return;
        }
        const auto left =
            std::chrono::milliseconds(3000) -
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_asked);
        if (!welcomed() && left.count() > 0) {
            m_player->awaitWelcome(left);
            check();
        }
        m_player->disconnect();
    }

private:
    std::unique_ptr<Player> m_player;
    Clock::time_point m_asked;
    double m_welcomeMs = -1;
};

class SilentAttack : public Strangers {
public:
    explicit SilentAttack(int count) : Strangers("silent", count, false, 0.2) {}
    void start(int port, int epoll) override {
        m_epoll = epoll;
        Strangers::start(port, epoll);
    }
    void step(double fraction) override {
        Strangers::step(fraction);
        if (fraction >= 0.5 && !m_newcomer.asked()) {
            m_newcomer.join(m_port, m_epoll);
        }
        m_newcomer.check();
    }
    void stop() override {
        m_newcomer.leave();
        Strangers::stop();
    }
    std::string outcome() const override { return Strangers::outcome() + "; " + m_newcomer.text(); }
    bool contained() const override { return m_newcomer.welcomed(); }

private:
    int m_epoll = -1;
    Newcomer m_newcomer;
};

class FdLimitAttack : public Strangers {
public:
    explicit FdLimitAttack(int count) : Strangers("fd-limit", count, false, 0.2) {}
    int serverFileLimit() const override { return 64; }
    void start(int port, int epoll) override {
        m_epoll = epoll;
        Strangers::start(port, epoll);
    }
    void step(double fraction) override {
        if (fraction >= 0.6 && !m_holding) {
            // The strangers go; descriptors free up, and a newcomer must get in.
            m_holding = true;
            closeAll();
            m_newcomer.join(m_port, m_epoll);
        }
        Strangers::step(fraction);
        m_newcomer.check();
    }
    void stop() override {
        m_newcomer.leave();
        Strangers::stop();
    }
    std::string outcome() const override { return Strangers::outcome() + "; " + m_newcomer.text(); }
    bool contained() const override { return m_newcomer.welcomed(); }

private:
    int m_epoll = -1;
    Newcomer m_newcomer;
};

// Players join and leave with long names as fast as the server welcomes them; the
// driver never reads the server's output after its port.
class UnreadLogAttack : public Attack {
public:
    const char* name() const override { return "unread-log"; }
    void start(int port, int epoll) override {
        m_port = port;
        m_epoll = epoll;
    }
    void step(double) override {
        if (m_stuck) {
            return;
        }
        if (!m_joiner) {
            m_joiner = std::make_unique<Player>(2000);
            m_joiner->connect(m_epoll, m_port, std::string(200, 'j'));
            m_asked = Clock::now();
            return;
        }
        if (m_joiner->playerId() != 0) {
            m_joiner->disconnect();
            m_joiner.reset();
            ++m_cycles;
        } else if (m_joiner->closed() || Clock::now() - m_asked > std::chrono::seconds(1)) {
            // No WELCOME within a second: the server is not serving.
            m_stuck = true;
        }
    }
    void stop() override {
        if (m_joiner) {
            m_joiner->disconnect();
        }
    }
    std::string outcome() const override {
        return std::to_string(m_cycles) + " joins and departures" +
               (m_stuck ? ", then the server stopped welcoming" : "");
    }
    bool contained() const override { return !m_stuck; }

private:
    int m_port = 0;
    int m_epoll = -1;
    std::unique_ptr<Player> m_joiner;
    Clock::time_point m_asked;
    std::uint64_t m_cycles = 0;
    bool m_stuck = false;
};

// A welcomed player sends 1 MiB chat lines whenever its socket has taken the last,
// while a third honest player, a watcher on a slow link, reads for 10 ms a second:
// it must not be the one who is cut off.
class ChatFloodAttack : public Attack {
public:
    const char* name() const override { return "chat-flood"; }
    void start(int port, int epoll) override {
        m_watcher = std::make_unique<Honest>(2);
        m_watcher->connect(epoll, port, "watcher");
        m_flooder = std::make_unique<Player>(3000);
        m_flooder->connect(epoll, port, "flooder");
        if (!m_watcher->awaitWelcome(std::chrono::seconds(5)) ||
            !m_flooder->awaitWelcome(std::chrono::seconds(5))) {
            fail("the flooder or the watcher was not welcomed");
        }
        m_begin = Clock::now();
        std::string text = "flooder:> ";
        text.append(transport::MaxFrameBody - 16 - text.size(), 'f');
        m_line = common::encode(common::MsgChat{std::move(text)});
    }
    void step(double) override {
        const auto phase =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_begin);
        m_watcher->setReading(phase.count() % 1000 < 10);
        if (m_flooder->closed()) {
            if (m_endedAfter < 0) {
                m_endedAfter = secondsSince(m_begin);
            }
            return;
        }
        if (m_flooder->unsent() < 2 * m_line.size()) {
            m_flooder->sendData(m_line);
            ++m_lines;
        }
    }
    void stop() override {
        m_flooder->disconnect();
        m_watcher->setReading(true);
        m_watcherCutOff = m_watcher->closed();
        m_watcher->disconnect();
    }
    std::string outcome() const override {
        char buffer[128];
        if (m_endedAfter >= 0) {
            std::snprintf(buffer, sizeof buffer, "flooder ended after %.2f s, %llu lines given",
                          m_endedAfter, static_cast<unsigned long long>(m_lines));
        } else {
            std::snprintf(buffer, sizeof buffer, "flooder NOT ended, %llu lines given",
                          static_cast<unsigned long long>(m_lines));
        }
        return std::string(buffer) +
               (m_watcherCutOff ? "; the slow watcher was CUT OFF" : "; the slow watcher stayed");
    }
    bool contained() const override { return m_endedAfter >= 0 && !m_watcherCutOff; }

private:
    std::unique_ptr<Honest> m_watcher;
    bool m_watcherCutOff = false;
    std::unique_ptr<Player> m_flooder;
    common::Bytes m_line;
    Clock::time_point m_begin;
    double m_endedAfter = -1;
    std::uint64_t m_lines = 0;
};

// Welcomed connections that never answer PING and send one byte a second of a
// frame that never completes: only whole frames are a sign of life.
class TrickleAttack : public Attack {
public:
    explicit TrickleAttack(int count) : m_fds(std::size_t(count), -1) {}
    const char* name() const override { return "trickle"; }
    double seconds(const Options&) const override { return 18.0; }
    void start(int port, int) override {
        m_begin = Clock::now();
        for (std::size_t i = 0; i < m_fds.size(); ++i) {
            m_fds[i] = openRaw(port);
            m_pending.push_back(helloFrame("trickle" + std::to_string(i)) +
                                std::string("\x00\x00\x10\x00\x04", 5));
        }
    }
    void step(double) override {
        if (Clock::now() - m_lastStep < std::chrono::milliseconds(20)) {
            return;
        }
        m_lastStep = Clock::now();
        const bool drip = Clock::now() - m_lastDrip >= std::chrono::seconds(1);
        if (drip) {
            m_lastDrip = Clock::now();
        }
        for (std::size_t i = 0; i < m_fds.size(); ++i) {
            int& fd = m_fds[i];
            if (fd < 0) {
                continue;
            }
            std::string& out = m_pending[i];
            if (drip) {
                out += 't';
            }
            if (!out.empty()) {
                const ssize_t n = ::send(fd, out.data(), out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
                if (n > 0) {
                    out.erase(0, std::size_t(n));
                }
            }
            if (!drainRaw(fd)) {
                ::close(fd);
                fd = -1;
                if (m_firstClosed < 0) {
                    m_firstClosed = secondsSince(m_begin);
                }
                ++m_closed;
            }
        }
    }
    void stop() override {
        for (int& fd : m_fds) {
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
        }
    }
    std::string outcome() const override {
        char buffer[96];
        const int n = std::snprintf(buffer, sizeof buffer, "%d of %zu closed by the server",
                                    m_closed, m_fds.size());
        if (m_closed > 0 && n > 0 && std::size_t(n) < sizeof buffer) {
            std::snprintf(buffer + n, sizeof buffer - std::size_t(n), " (first after %.1f s)",
                          m_firstClosed);
        }
        return buffer;
    }
    bool contained() const override { return m_closed == int(m_fds.size()); }

private:
    std::vector<int> m_fds;
    std::vector<std::string> m_pending;
    Clock::time_point m_begin;
    Clock::time_point m_lastStep;
    Clock::time_point m_lastDrip;
    int m_closed = 0;
    double m_firstClosed = -1;
};

struct Result {
    long peakKb = 0;
    long afterKb = 0;
    double cpuPercent = 0;
    std::uint32_t sent = 0;
    std::uint32_t lost = 0;
    std::uint32_t reordered = 0;
    int cutOff = 0;
    bool serverAlive = true;
};

// Starts the server, as this program's child, with at most `files` descriptors.
int startServer(BenchProcess& process, const std::string& path, int files) {
    rlimit own = {};
    ::getrlimit(RLIMIT_NOFILE, &own);
    if (files > 0) {
        const rlimit few = {rlim_t(files), own.rlim_max};
        ::setrlimit(RLIMIT_NOFILE, &few);
    }
    const int port = process.startServer(path, 200);
    ::setrlimit(RLIMIT_NOFILE, &own);
    return port;
}

Result run(const Options& options, Attack& attack) {
    Result result;
    BenchProcess server;
    const int port = startServer(server, options.server, attack.serverFileLimit());
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    Honest a(0), b(1);
    a.connect(epoll, port, "honest0");
    b.connect(epoll, port, "honest1");
    if (!a.awaitWelcome(std::chrono::seconds(5)) || !b.awaitWelcome(std::chrono::seconds(5))) {
        fail("the honest players were not welcomed");
    }

    const double seconds = attack.seconds(options);
    const auto begin = Clock::now();
    const auto end = begin + std::chrono::duration<double>(seconds);
    const double cpuBefore = server.cpuSeconds();
    attack.start(port, epoll);
    auto nextLine = begin;
    auto nextSample = begin;
    while (Clock::now() < end) {
        if (Clock::now() >= nextLine) {
            nextLine += std::chrono::milliseconds(20);
            for (Honest* h : {&a, &b}) {
                if (!h->closed()) {
                    h->sendLine();
                }
            }
        }
        if (Clock::now() >= nextSample) {
            nextSample += std::chrono::milliseconds(50);
            result.peakKb = std::max(result.peakKb, server.residentKb());
        }
        ProtocolClient::poll(epoll, 2);
        attack.step(std::min(1.0, secondsSince(begin) / seconds));
    }
    result.cpuPercent = 100.0 * (server.cpuSeconds() - cpuBefore) / secondsSince(begin);
    attack.stop();

    // Lines still on the way come in; then the server has a second to give memory back.
    const auto settle = Clock::now();
    while (secondsSince(settle) < 2.0) {
        bool complete = true;
        for (Honest* h : {&a, &b}) {
            complete =
                complete && (h->closed() || (h->received[0] >= a.sent && h->received[1] >= b.sent));
        }
        if (complete) {
            break;
        }
        ProtocolClient::poll(epoll, 10);
    }
    const auto quiet = Clock::now();
    while (secondsSince(quiet) < 1.0) {
        ProtocolClient::poll(epoll, 50);
    }
    result.afterKb = server.residentKb();
    result.serverAlive = result.afterKb > 0;
    for (Honest* h : {&a, &b}) {
        result.sent += h->sent;
        result.lost += (a.sent - std::min(a.sent, h->received[0])) +
                       (b.sent - std::min(b.sent, h->received[1]));
        result.reordered += h->reordered;
        result.cutOff += h->closed() ? 1 : 0;
    }
    a.disconnect();
    b.disconnect();
    ::close(epoll);
    server.stop();
    return result;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    options.server = ownFolder() + "/gemvolt-server";
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--server" && i + 1 < argc) {
            options.server = argv[++i];
        } else if (arg == "--seconds" && i + 1 < argc) {
            options.seconds = std::clamp(std::atof(argv[++i]), 0.5, 60.0);
        } else if (arg == "--quick") {
            options.quick = true;
            options.seconds = 1.5;
        } else if (arg == "--only" && i + 1 < argc) {
            for (char* p = std::strtok(argv[++i], ","); p; p = std::strtok(nullptr, ",")) {
                only.emplace_back(p);
            }
        } else {
            std::fprintf(stderr,
                         "usage: %s [--server PATH] [--seconds S] [--quick] [--only a,b,...]\n",
                         argv[0]);
            return 2;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    // The attacks open hundreds of connections from this program.
    rlimit files = {};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
    ::setrlimit(RLIMIT_NOFILE, &files);

    const bool quick = options.quick;
    std::vector<std::unique_ptr<Attack>> attacks;
    attacks.push_back(std::make_unique<Strangers>("big-hello", quick ? 40 : 300, true, 1.0));
    attacks.push_back(std::make_unique<SilentAttack>(quick ? 150 : 500));
    attacks.push_back(std::make_unique<FdLimitAttack>(quick ? 100 : 200));
    attacks.push_back(std::make_unique<UnreadLogAttack>());
    attacks.push_back(std::make_unique<ChatFloodAttack>());
    if (!quick) {
        attacks.push_back(std::make_unique<TrickleAttack>(50));
    }

    double load[3] = {};
    if (::getloadavg(load, 3) == 3) {
        std::printf("# %s; load average before the run: %.2f %.2f %.2f on %ld processors\n",
                    options.server.c_str(), load[0], load[1], load[2],
                    ::sysconf(_SC_NPROCESSORS_ONLN));
    }
    std::printf("%-11s %5s %8s %8s %6s %6s %5s %6s %4s  %s\n", "attack", "s", "peak MB", "after MB",
                "cpu %", "sent", "lost", "reord", "cut", "outcome");
    std::fflush(stdout);
    bool sound = true;
    for (const auto& attack : attacks) {
        if (!only.empty() && std::find(only.begin(), only.end(), attack->name()) == only.end()) {
            continue;
        }
        const Result r = run(options, *attack);
        std::printf("%-11s %5.1f %8.1f %8.1f %6.1f %6u %5u %6u %4d  %s%s\n", attack->name(),
                    attack->seconds(options), double(r.peakKb) / 1024.0, double(r.afterKb) / 1024.0,
                    r.cpuPercent, r.sent, r.lost, r.reordered, r.cutOff, attack->outcome().c_str(),
                    r.serverAlive ? "" : "; SERVER GONE");
        std::fflush(stdout);
        sound = sound && r.lost == 0 && r.reordered == 0 && r.cutOff == 0 && r.serverAlive &&
                attack->contained();
    }
    if (options.quick && !sound) {
        std::fprintf(stderr, "bench_abuse: an attack was not contained or an honest player "
                             "lost lines\n");
        return 1;
    }
    return 0;
}
