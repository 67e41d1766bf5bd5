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
#include "bench/support/BenchProcess.h"
#include "bench/support/BenchSupport.h"
#include "bench/support/ProtocolClient.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/epoll.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace gemvolt;
using namespace gemvolt::bench;
using Clock = std::chrono::steady_clock;

class Soak;

// A chatter sends one stamped line a second and checks, per sender, that the
// lines of every other chatter come in order and none is missing.
class Chatter : public ProtocolClient {
public:
    Chatter(std::uint32_t index, Soak& soak) : ProtocolClient(index), m_soak(soak) {}

    std::uint32_t seq = 0;          // lines sent
    std::vector<std::int64_t> next; // per sender: the sequence number expected next
    bool onBoard2 = false;
    Clock::time_point nextLine;

protected:
    void onData(std::string_view body, std::int64_t now) override;

private:
    Soak& m_soak;
};

class Soak {
public:
    Soak(int port, int chatters) : m_port(port), m_count(chatters) {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    }
    ~Soak() { ::close(m_epoll); }

    void connectAll() {
        for (int i = 0; i < m_count; ++i) {
            auto c = std::make_unique<Chatter>(std::uint32_t(i), *this);
            c->next.assign(std::size_t(m_count), -1);
            c->connect(m_epoll, m_port, "chat" + std::to_string(i));
            Chatter* raw = c.get();
            m_chatters.push_back(std::move(c));
            if (!raw->awaitWelcome(std::chrono::seconds(10)))
                fail("chatter " + std::to_string(i) + " was not welcomed");
        }
    }

    void run(double seconds) {
        const auto start = Clock::now();
        const auto end = start + std::chrono::duration<double>(seconds);
        // Spread the chatters over the second, one line a second each.
        for (auto& c : m_chatters)
            c->nextLine = start + std::chrono::microseconds(1000000LL * c->index() / m_count);
        m_measuring = true;
        while (Clock::now() < end) {
            const auto now = Clock::now();
            for (auto& c : m_chatters) {
                if (!c->closed() && now >= c->nextLine) {
                    sendLine(*c);
                    c->nextLine += std::chrono::seconds(1);
                }
            }
            ProtocolClient::poll(m_epoll, 2);
        }
        // Whatever is still on the way arrives within a moment.
        const auto drainUntil = Clock::now() + std::chrono::seconds(3);
        while (Clock::now() < drainUntil)
            ProtocolClient::poll(m_epoll, 20);
        m_measuring = false;
    }

    void disconnectAll() {
        for (auto& c : m_chatters)
            c->disconnect();
    }

    std::vector<std::int64_t> latencies;
    std::uint64_t sentLines = 0;
    std::uint64_t delivered = 0;
    std::uint64_t reordered = 0;
    std::uint64_t forfeits = 0;
    int closedChatters() const {
        int n = 0;
        for (const auto& c : m_chatters)
            n += c->closed() ? 1 : 0;
        return n;
    }
    // Lines a receiver should have had and did not get.
    std::uint64_t dropped() const {
        std::uint64_t missing = 0;
        for (const auto& receiver : m_chatters)
            for (const auto& sender : m_chatters)
                missing += sender->seq - std::uint64_t(receiver->next[sender->index()] < 0
                                                           ? 0
                                                           : receiver->next[sender->index()]);
        return missing;
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
            const bool second = standings->Rows[1].Id.value() == c.playerId();
            if (second && !c.onBoard2) {
                // Not a player: give the turn back at once.
                c.sendData(common::encode(common::MsgGameOver{}));
                ++forfeits;
            }
            c.onBoard2 = second;
            return;
        }
        if (type != common::MsgType::Chat)
            return;
        const auto chat = common::decode<common::MsgChat>(bytes);
        Stamp stamp;
        if (!chat || !readStamp(chat->Text, stamp) || stamp.sender >= c.next.size())
            return;
        std::int64_t& expected = c.next[stamp.sender];
        if (expected < 0)
            expected = 0;
        if (std::int64_t(stamp.seq) != expected)
            ++reordered;
        expected = std::max(expected, std::int64_t(stamp.seq) + 1);
        if (m_measuring) {
            latencies.push_back(now - stamp.sentNs);
            ++delivered;
        }
    }

private:
    void sendLine(Chatter& c) {
        std::string text = "chat" + std::to_string(c.index()) + ":>one line a second";
        text += stampText(nowNs(), c.index(), c.seq);
        ++c.seq;
        ++sentLines;
        c.sendData(common::encode(common::MsgChat{std::move(text)}));
    }

    int m_port;
    int m_count;
    int m_epoll = -1;
    bool m_measuring = false;
    std::vector<std::unique_ptr<Chatter>> m_chatters;
};

void Chatter::onData(std::string_view body, std::int64_t now) {
    m_soak.handleData(*this, body, now);
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

    BenchProcess server;
    const int port = server.startServer(bin + "/gemvolt-server", chatters + 3);
    std::string serverOut;

    // The bots join first: they are the first two of the queue and fight at once.
    std::vector<std::unique_ptr<BenchProcess>> bots;
    for (const char* name : {"SoakBotA", "SoakBotB"}) {
        bots.push_back(std::make_unique<BenchProcess>());
        bots.back()->start({bin + "/gemvolt-bot", "--port", std::to_string(port), "--fast",
                            "--name", name, "--level", "normal"},
                           false);
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (countLines(serverOut, "joined ") < int(bots.size())) {
            if (Clock::now() > deadline)
                fail("the bots did not join");
            ::usleep(20000);
            serverOut += server.readAvailable();
        }
    }

    Soak soak(port, chatters);
    soak.connectAll();
    serverOut += server.readAvailable();
    const double cpuStart = server.cpuSeconds();
    const long rssStart = server.residentKb();
    const int resultsBefore = countLines(serverOut, "result ");

    soak.run(seconds);

    serverOut += server.readAvailable();
    const double cpuEnd = server.cpuSeconds();
    const long rssEnd = server.residentKb();
    const int results = countLines(serverOut, "result ") - resultsBefore;
    const std::uint64_t dropped = soak.dropped();
    const int lost = soak.closedChatters();

    soak.disconnectAll();
    for (auto& bot : bots)
        bot->stop();
    server.stop();

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
    std::printf("  relay latency p50 / p99   %.2f ms / %.2f ms\n", percentile(lat, 0.5) / 1e6,
                percentile(lat, 0.99) / 1e6);
    std::printf("  fight results             %d (%llu of them chatters handing back board 2)\n",
                results, (unsigned long long)soak.forfeits);
    std::printf("  server CPU                %.2f s over the run (%.0f %% of one core)\n",
                cpuEnd - cpuStart, 100.0 * (cpuEnd - cpuStart) / seconds);
    std::printf("  server resident memory    %ld kB at start, %ld kB at end\n", rssStart, rssEnd);
    std::printf("  chatters disconnected     %d\n", lost);
    const bool ok = dropped == 0 && soak.reordered == 0 && lost == 0;
    return ok ? 0 : 1;
}
