// Bounded soak on loopback: a headless gemvolt-server with room for 200
// clients, two --fast gemvolt-bot processes that fight on and on, and 198
// plain protocol clients that chat one line a second each. Stops by itself.
//
//   bench_bot_soak [--seconds S (default 60)] [--chatters N (default 198)]
//                  [--cuts MIN_MS,MAX_MS [--seed N]]
//
// Reports: chat lines delivered, relay latency p50/p99 (send to receipt at
// every chatter), dropped, duplicated and reordered lines (per sender, per
// receiver), the server's CPU time and resident memory at the start and the
// end, and the fights the bots finished.
//
// With --cuts every client (bots and chatters) reaches the server through a
// FaultProxy that cuts each connection at a random time MIN_MS to MAX_MS after
// it opened. Chatters and bots resume their sessions over a new connection:
// nothing they send or receive may be lost, repeated or reordered. A session
// that is lost all the same (its resume given up or refused) is reported: a
// chatter then connects again as a new player (its lines from then on count
// again), a bot that ends is started again under the same name. A missing
// line counts as dropped when no lost session can explain it: a receiver got
// lines on either side of it from the same sender over the same two sessions,
// or both sessions were still open at the end. The other missing lines went
// with a lost session and are reported apart; with every session resumed there
// are none.
//
// The queue puts each fight's loser behind everybody else. The chatters are
// no players: one that finds itself on board 1 or 2 at once reports a loss (a
// forfeit, recorded like any result), so the queue comes round to the bots
// again and they keep fighting each other.

#include "Common/MessageCodec.h"
#include "bench/support/BenchProcess.h"
#include "bench/support/BenchSupport.h"
#include "bench/support/ProtocolClient.h"
#include "tests/support/FaultProxy.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <sys/epoll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace gemvolt;
using namespace gemvolt::bench;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t StillOpen = std::numeric_limits<std::int64_t>::max();
// A chatter whose connection ended connects again after this pause.
constexpr auto RetryPause = std::chrono::milliseconds(200);

class Soak;

// One connection of a chatter: it sends one stamped line a second while it is
// welcomed, and checks the lines of every chatter for order and repeats.
class Chatter : public ProtocolClient {
public:
    Chatter(std::uint32_t index, int chatters, Soak& soak)
        : ProtocolClient(index, true), highest(std::size_t(chatters), -1), m_soak(soak) {}

    std::vector<std::int64_t> highest; // per sender: the highest number seen on this connection
    bool onBoard = false;
    bool welcomed = false;     // its session is on record as open
    std::uint16_t session = 0; // which of its index's sessions this is
    bool ended = false;        // its closing is on record

protected:
    void onData(std::string_view body, std::int64_t now) override;

private:
    Soak& m_soak;
};

class Soak {
public:
    Soak(int port, int chatters, bool reconnect)
        : m_port(port), m_count(chatters), m_reconnect(reconnect), m_lines(std::size_t(chatters)),
          m_sessions(std::size_t(chatters)),
          m_got(std::size_t(chatters),
                std::vector<std::vector<std::uint16_t>>(std::size_t(chatters))),
          m_nextLine(std::size_t(chatters)), m_retryAt(std::size_t(chatters)) {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
        m_chatters.resize(std::size_t(chatters));
    }
    ~Soak() {
        m_chatters.clear();
        ::close(m_epoll);
    }

    void connectAll() {
        for (int i = 0; i < m_count; ++i) {
            connect(std::uint32_t(i));
            if (!m_chatters[std::size_t(i)]->awaitWelcome(std::chrono::seconds(10)))
                fail("chatter " + std::to_string(i) + " was not welcomed");
        }
    }

    // Runs for seconds, calling tick about ten times a second.
    void run(double seconds, const std::function<void()>& tick) {
        const auto start = Clock::now();
        const auto end = start + std::chrono::duration<double>(seconds);
        // Spread the chatters over the second, one line a second each.
        for (int i = 0; i < m_count; ++i)
            m_nextLine[std::size_t(i)] = start + std::chrono::microseconds(1000000LL * i / m_count);
        auto nextTick = start;
        m_measuring = true;
        while (Clock::now() < end) {
            const auto now = Clock::now();
            for (std::uint32_t i = 0; i < std::uint32_t(m_count); ++i)
                step(i, now);
            ProtocolClient::poll(m_epoll, 2);
            if (now >= nextTick) {
                tick();
                nextTick = now + std::chrono::milliseconds(100);
            }
        }
    }

    // Lets whatever is still on the way arrive, noting connections that end meanwhile.
    void drain() {
        const auto drainUntil = Clock::now() + std::chrono::seconds(3);
        while (Clock::now() < drainUntil) {
            ProtocolClient::poll(m_epoll, 20);
            for (std::uint32_t i = 0; i < std::uint32_t(m_count); ++i) {
                m_chatters[i]->service();
                noteState(i);
            }
        }
        m_measuring = false;
    }

    void disconnectAll() {
        for (auto& c : m_chatters)
            c->disconnect();
    }

    // Connections the chatters lost and tried to resume, and resumes welcomed.
    int interruptions() const {
        int n = 0;
        for (const auto& c : m_chatters)
            n += c->interruptions();
        return n + m_pastInterruptions;
    }
    int resumes() const {
        int n = 0;
        for (const auto& c : m_chatters)
            n += c->resumes();
        return n + m_pastResumes;
    }

    std::vector<std::int64_t> latencies;
    std::uint64_t sentLines = 0;
    std::uint64_t delivered = 0;
    std::uint64_t reordered = 0;
    std::uint64_t duplicated = 0;
    std::uint64_t forfeits = 0;
    int sessionsLost = 0;
    int reconnects = 0;

    // Lines a receiver did not get, split into those no cut explains and those
    // that went with a lost session.
    void missing(std::uint64_t& dropped, std::uint64_t& lostWithSessions) const {
        dropped = lostWithSessions = 0;
        std::vector<bool> gap;
        for (std::size_t r = 0; r < m_got.size(); ++r) {
            const auto& last = m_sessions[r].back();
            for (std::size_t s = 0; s < m_lines.size(); ++s) {
                const auto& lines = m_lines[s];
                const auto& got = m_got[r][s];
                // Missing between two lines that came over the same pair of connections.
                gap.assign(lines.size(), false);
                std::size_t prev = lines.size();
                for (std::size_t q = 0; q < got.size(); ++q) {
                    if (got[q] == 0)
                        continue;
                    if (prev < q && got[prev] == got[q] && lines[prev].session == lines[q].session)
                        std::fill(gap.begin() + std::ptrdiff_t(prev) + 1,
                                  gap.begin() + std::ptrdiff_t(q), true);
                    prev = q;
                }
                for (std::size_t q = 0; q < lines.size(); ++q) {
                    if (q < got.size() && got[q] != 0)
                        continue;
                    const bool bothOpen = m_sessions[s][lines[q].session].second == StillOpen &&
                                          last.second == StillOpen && last.first <= lines[q].sentNs;
                    ++(gap[q] || bothOpen ? dropped : lostWithSessions);
                }
            }
        }
    }

    void handleData(Chatter& c, std::string_view body, std::int64_t now) {
        // What comes with the WELCOME belongs to the session it opens.
        noteState(c.index());
        if (body.empty())
            return;
        const auto type = static_cast<common::MsgType>(std::uint8_t(body[0]));
        const common::ByteView bytes(reinterpret_cast<const std::uint8_t*>(body.data()),
                                     body.size());
        if (type == common::MsgType::Standings) {
            const auto standings = common::decode<common::MsgStandings>(bytes);
            if (!standings || standings->Rows.size() < 2)
                return;
            const bool fighting = standings->Rows[0].Id.value() == c.playerId() ||
                                  standings->Rows[1].Id.value() == c.playerId();
            if (fighting && !c.onBoard) {
                // Not a player: give the board back at once.
                c.sendData(common::encode(common::MsgGameOver{}));
                ++forfeits;
            }
            c.onBoard = fighting;
            return;
        }
        if (type != common::MsgType::Chat)
            return;
        const auto chat = common::decode<common::MsgChat>(bytes);
        Stamp stamp;
        if (!chat || !readStamp(chat->Text, stamp) || stamp.sender >= m_lines.size() ||
            stamp.seq >= m_lines[stamp.sender].size())
            return;
        auto& got = m_got[c.index()][stamp.sender];
        if (got.size() <= stamp.seq)
            got.resize(stamp.seq + 1, 0);
        if (got[stamp.seq] != 0) {
            ++duplicated;
            return;
        }
        got[stamp.seq] = std::uint16_t(c.session + 1);
        std::int64_t& highest = c.highest[stamp.sender];
        if (std::int64_t(stamp.seq) < highest)
            ++reordered;
        highest = std::max(highest, std::int64_t(stamp.seq));
        if (m_measuring) {
            latencies.push_back(now - stamp.sentNs);
            ++delivered;
        }
    }

private:
    void connect(std::uint32_t i) {
        if (m_chatters[i]) {
            m_pastInterruptions += m_chatters[i]->interruptions();
            m_pastResumes += m_chatters[i]->resumes();
        }
        m_chatters[i] = std::make_unique<Chatter>(i, m_count, *this);
        m_chatters[i]->connect(m_epoll, m_port, "chat" + std::to_string(i));
    }

    // Puts a welcome or a loss of chatter i on record.
    void noteState(std::uint32_t i) {
        Chatter& c = *m_chatters[i];
        if (!c.welcomed && c.playerId() != 0) {
            c.welcomed = true;
            c.session = std::uint16_t(m_sessions[i].size());
            m_sessions[i].push_back({nowNs(), StillOpen});
        }
        if (c.closed() && !c.ended) {
            c.ended = true;
            if (c.welcomed) {
                m_sessions[i].back().second = nowNs();
                ++sessionsLost;
            }
            m_retryAt[i] = Clock::now() + RetryPause;
        }
    }

    void step(std::uint32_t i, Clock::time_point now) {
        m_chatters[i]->service();
        noteState(i);
        Chatter& c = *m_chatters[i];
        if (c.ended) {
            if (m_reconnect && now >= m_retryAt[i]) {
                connect(i);
                ++reconnects;
            }
            return;
        }
        if (now < m_nextLine[i])
            return;
        // A chatter not connected just now skips its lines: they are never sent.
        while (m_nextLine[i] <= now)
            m_nextLine[i] += std::chrono::seconds(1);
        if (!c.welcomed)
            return;
        std::string text = "chat" + std::to_string(i) + ":>one line a second";
        const std::int64_t sent = nowNs();
        text += stampText(sent, i, std::uint32_t(m_lines[i].size()));
        m_lines[i].push_back({sent, c.session});
        ++sentLines;
        c.sendData(common::encode(common::MsgChat{std::move(text)}));
    }

    int m_port;
    int m_count;
    bool m_reconnect;
    int m_epoll = -1;
    bool m_measuring = false;
    int m_pastInterruptions = 0; // of chatter connections replaced since
    int m_pastResumes = 0;
    std::vector<std::unique_ptr<Chatter>> m_chatters;
    struct Line {
        std::int64_t sentNs;
        std::uint16_t session; // the sender's
    };
    std::vector<std::vector<Line>> m_lines; // per sender, in order
    std::vector<std::vector<std::pair<std::int64_t, std::int64_t>>> m_sessions; // welcomed..closed
    // Receiver, sender, line: 0 until received, then the receiver's session + 1.
    std::vector<std::vector<std::vector<std::uint16_t>>> m_got;
    std::vector<Clock::time_point> m_nextLine;
    std::vector<Clock::time_point> m_retryAt;
};

void Chatter::onData(std::string_view body, std::int64_t now) {
    m_soak.handleData(*this, body, now);
}

// Lines that start with prefix and name a bot at least botNames times.
int countLines(const std::string& text, const std::string& prefix, int botNames = 0) {
    int n = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find('\n', pos);
        const std::string line = text.substr(pos, end == std::string::npos ? end : end - pos);
        int bots = 0;
        for (std::size_t at = line.find("SoakBot"); at != std::string::npos;
             at = line.find("SoakBot", at + 1))
            ++bots;
        n += line.rfind(prefix, 0) == 0 && bots >= botNames ? 1 : 0;
        if (end == std::string::npos)
            break;
        pos = end + 1;
    }
    return n;
}

// Whether the process has ended, without reaping it (its BenchProcess still does).
bool hasEnded(const BenchProcess& process) {
    siginfo_t info = {};
    return ::waitid(P_PID, id_t(process.pid()), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == process.pid();
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    double seconds = 60;
    int chatters = 198;
    int cutMin = 0;
    int cutMax = 0;
    std::uint32_t seed = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc)
            seconds = std::max(1.0, std::atof(argv[++i]));
        else if (arg == "--chatters" && i + 1 < argc)
            chatters = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--cuts" && i + 1 < argc &&
                 std::sscanf(argv[++i], "%d,%d", &cutMin, &cutMax) == 2 && cutMin > 0 &&
                 cutMax >= cutMin)
            continue;
        else if (arg == "--seed" && i + 1 < argc)
            seed = std::uint32_t(std::strtoul(argv[++i], nullptr, 10));
        else
            fail("usage: bench_bot_soak [--seconds S] [--chatters N] [--cuts MIN_MS,MAX_MS "
                 "[--seed N]]");
    }
    const bool cutting = cutMax > 0;
    const std::string bin = ownFolder();

    BenchProcess server;
    const int serverPort = server.startServer(bin + "/gemvolt-server", chatters + 3);
    std::string serverOut;

    // With cuts, every client goes through the proxy; it cuts nothing until the run.
    testing::FaultProxy proxy;
    if (cutting && !proxy.start(serverPort))
        fail("the fault proxy did not start");
    const int port = cutting ? proxy.port() : serverPort;

    // The bots join first: they are the first two of the queue and fight at once.
    const std::vector<std::string> botNames = {"SoakBotA", "SoakBotB"};
    std::vector<std::unique_ptr<BenchProcess>> bots;
    auto startBot = [&](const std::string& name) {
        auto bot = std::make_unique<BenchProcess>();
        bot->start({bin + "/gemvolt-bot", "--port", std::to_string(port), "--fast", "--name", name,
                    "--level", "normal"},
                   false);
        return bot;
    };
    for (const auto& name : botNames) {
        bots.push_back(startBot(name));
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (countLines(serverOut, "joined ") < int(bots.size())) {
            if (Clock::now() > deadline)
                fail("the bots did not join");
            ::usleep(20000);
            serverOut += server.readAvailable();
        }
    }

    Soak soak(port, chatters, cutting);
    soak.connectAll();
    serverOut += server.readAvailable();
    const double cpuStart = server.cpuSeconds();
    const long rssStart = server.residentKb();
    const int resultsBefore = countLines(serverOut, "result ");
    const int botFightsBefore = countLines(serverOut, "result ", 2);

    // A bot ends when it loses its connection; with cuts it comes back as a new player.
    int botRestarts = 0;
    auto tick = [&] {
        serverOut += server.readAvailable();
        for (std::size_t b = 0; cutting && b < bots.size(); ++b) {
            if (hasEnded(*bots[b])) {
                bots[b] = startBot(botNames[b]);
                ++botRestarts;
            }
        }
    };
    if (cutting)
        proxy.cutEvery(cutMin, cutMax, seed);
    soak.run(seconds, tick);
    if (cutting)
        proxy.cutEvery(0, 0, seed);
    soak.drain();

    serverOut += server.readAvailable();
    const double cpuEnd = server.cpuSeconds();
    const long rssEnd = server.residentKb();
    const int results = countLines(serverOut, "result ") - resultsBefore;
    const int botFights = countLines(serverOut, "result ", 2) - botFightsBefore;
    std::uint64_t dropped = 0;
    std::uint64_t lostWithSessions = 0;
    soak.missing(dropped, lostWithSessions);

    soak.disconnectAll();
    for (auto& bot : bots)
        bot->stop();
    server.stop();

    std::vector<std::int64_t> lat = soak.latencies;
    const int clients = chatters + 2;
    std::printf("soak: %d clients (%d chatters at 1 line/s, 2 --fast bots), %.0f s\n", clients,
                chatters, seconds);
    if (cutting)
        std::printf("  through a fault proxy cutting each connection after %d to %d ms (seed %u)\n",
                    cutMin, cutMax, seed);
    std::printf("  chat lines sent           %llu\n", (unsigned long long)soak.sentLines);
    std::printf("  deliveries to chatters    %llu (expected %llu)\n",
                (unsigned long long)soak.delivered,
                (unsigned long long)(soak.sentLines * std::uint64_t(chatters)));
    std::printf("  dropped                   %llu\n", (unsigned long long)dropped);
    std::printf("  duplicated                %llu\n", (unsigned long long)soak.duplicated);
    std::printf("  reordered                 %llu\n", (unsigned long long)soak.reordered);
    std::printf("  relay latency p50 / p99   %.2f ms / %.2f ms\n", percentile(lat, 0.5) / 1e6,
                percentile(lat, 0.99) / 1e6);
    std::printf("  fight results             %d (%d between the bots; %llu forfeits sent by "
                "chatters)\n",
                results, botFights, (unsigned long long)soak.forfeits);
    std::printf("  server CPU                %.2f s over the run (%.0f %% of one core)\n",
                cpuEnd - cpuStart, 100.0 * (cpuEnd - cpuStart) / seconds);
    std::printf("  server resident memory    %ld kB at start, %ld kB at end\n", rssStart, rssEnd);
    std::printf("  chatters disconnected     %d\n", soak.sessionsLost);
    if (cutting) {
        const auto c = proxy.counters();
        std::printf("  cuts made                 %llu (of %llu connections)\n",
                    (unsigned long long)c.cuts, (unsigned long long)c.connections);
        const int botCuts = countLines(serverOut, "interrupted ", 1);
        const int botResumes = countLines(serverOut, "resumed ", 1);
        std::printf("  connections interrupted   %d (%d chatters, %d bots)\n",
                    soak.interruptions() + botCuts, soak.interruptions(), botCuts);
        std::printf("  sessions resumed          %d (%d chatters, %d bots)\n",
                    soak.resumes() + botResumes, soak.resumes(), botResumes);
        std::printf("  sessions lost             %d (%d chatters, %d bots)\n",
                    soak.sessionsLost + botRestarts, soak.sessionsLost, botRestarts);
        std::printf("  chatters reconnected      %d (as new players)\n", soak.reconnects);
        std::printf("  lines lost with sessions  %llu (not delivered, sender or receiver cut)\n",
                    (unsigned long long)lostWithSessions);
    }
    // Sessions resume: a cut may delay a line, never lose, repeat or reorder one.
    const bool ok = dropped == 0 && lostWithSessions == 0 && soak.duplicated == 0 &&
                    soak.reordered == 0 && soak.sessionsLost == 0 && botRestarts == 0;
    return ok ? 0 : 1;
}
