// Strength and pace of the computer player: fights between two in-process
// clients through the real server core and the real client handlers (no
// sockets). Prints the win rates per pairing on a simulated clock, then the
// pace of each level against an idle opponent: first on the simulated clock,
// then in real time (the program's poll interval and animation pauses, the
// search's own computing time counted), bounded per level.
//
//   bench_bot_strength [fights per pairing, default 40; 0 skips them]
//                      [seconds of real-time play per level, default 30; 0 skips it]
//
// The bots enter their level's attack pattern, as the program does;
// BENCH_PATTERNS=0 keeps the editor's one-coloured pattern instead (every
// attack then drops a block that one crash gem of its colour clears, which
// punishes the faster bots and is not how the program plays).
// BENCH_TRACE=1 prints every fight's result and every landing of the pace runs.

#include "Bot/AttackPatternDesign.h"
#include "Bot/BotBrain.h"
#include "Bot/LevelSettings.h"
#include "Client/board/PausePort.h"
#include "Client/net/HeadlessClient.h"
#include "Client/net/ManualTicker.h"
#include "Common/NumberText.h"
#include "Server/ServerCore.h"
#include "Server/ServerObserver.h"
#include "Server/ServerTransport.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using namespace gemvolt;

namespace {

constexpr int StepMs = 5;
// The program looks at its client every 10 ms at a person's pace.
constexpr int RealTimePollMs = 10;
constexpr std::int64_t MaxFightMs = 15 * 60 * 1000;
constexpr std::int64_t SimulatedPaceMs = 5 * 60 * 1000;

double seconds(std::int64_t ms) {
    return static_cast<double>(ms) / 1000.0;
}

// The animation pause as the program has it: the client's thread sleeps.
class SleepingPause : public board::PausePort {
public:
    void pause(int milliseconds) override {
        if (milliseconds > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

class SilentDialogs : public net::SessionDialogs {
public:
    QString promptText(const QString&, const QString&, const QString& answer) override {
        return answer;
    }
    void showCriticalError(const QString&, const QString&) override {}
    void endProgram() override {}
};

// A player that presses Ready like anyone, then random keys at a person's
// pace, or, when idle, no key at all: its pairs fall by themselves.
class PlainPlayer {
public:
    PlainPlayer(net::HeadlessClient& client, std::uint32_t seed, bool idle)
        : m_client(client), m_rng(seed), m_idle(idle) {}

    void poll(std::int64_t now) {
        const battle::GameCore& core = m_client.core();
        const net::MatchFlow& flow = m_client.matchFlow();
        const int board = core.whatPlayer();
        if (!flow.FightRunning()) {
            const bool marked = board == 1 ? flow.P1Ready() : flow.P2Ready();
            if (board != 0 && core.frmNxtMatch() && !marked && !core.tmrCountDown() &&
                now >= m_readyAt) {
                m_client.RdyButton_Click();
                m_readyAt = now + 4000;
            }
            return;
        }
        if (m_idle || now < m_nextKey)
            return;
        m_nextKey = now + 200;
        std::uniform_int_distribution<int> key(board::KeyCodeLeft, board::KeyCodeDown);
        m_client.KeyDown(key(m_rng));
    }

private:
    net::HeadlessClient& m_client;
    std::mt19937 m_rng;
    bool m_idle;
    std::int64_t m_readyAt = 0;
    std::int64_t m_nextKey = 0;
};

class Arena;

// One client of the arena: what it sends goes to the server with its identifier.
struct Seat : net::MessageSender {
    Arena* arena = nullptr;
    std::int32_t id = 0;
    std::string name;
    SilentDialogs dialogs;
    net::ManualTicker* ticker = nullptr;
    std::unique_ptr<net::HeadlessClient> client;
    std::unique_ptr<bot::BotBrain> brain;
    std::unique_ptr<PlainPlayer> plain;
    SleepingPause sleepPause;

    // The pace: each new pair announced after a fight's start follows a landing.
    int nextPairsSent = 0;
    int nextPairsSeen = 0;
    bool fighting = false;
    bool landedThisFight = false;
    std::int64_t lastEventAt = 0;
    std::vector<std::int64_t> firstLandingMs; ///< per fight, from its start
    std::vector<std::int64_t> pairMs;         ///< start or landing to the next landing

    bool sendMessage(common::ByteView message) override;
};

class Arena : public server::ServerTransport, public server::ServerObserver {
public:
    Arena() : m_core(*this) {
        m_core.setObserver(this);
        m_core.InitServer("11", 4000);
    }

    bool host(int, std::uint16_t) override {
        m_core.OnPlayerCreated(1);
        return true;
    }
    int hostErrorNumber() const override { return 0; }
    std::string hostErrorText() const override { return {}; }
    void sendToAll(common::ByteView message) override {
        m_toAll.emplace_back(message.begin(), message.end());
    }
    void closePlayer(std::int32_t) override {}
    std::string playerName(std::int32_t id) const override {
        for (const auto& seat : m_seats)
            if (seat->id == id)
                return seat->name;
        return {};
    }
    void close() override {}

    void fightResult(std::int32_t winnerId, const std::string&, std::int32_t,
                     const std::string&) override {
        ++m_wins[winnerId];
        ++m_fights;
        if (std::getenv("BENCH_TRACE")) {
            std::printf("  fight %d won by %d at %.1f s;", m_fights, winnerId, m_now / 1000.0);
            for (auto& seat : m_seats)
                if (seat->brain)
                    std::printf(" %s pairs %d keys %d;", seat->name.c_str(),
                                seat->brain->pairsPlanned(), seat->brain->keysPressed());
            std::printf("\n");
        }
    }

    Seat& join(const std::string& name, std::optional<bot::Level> level, std::uint32_t seed,
               bool idle = false) {
        auto seat = std::make_unique<Seat>();
        seat->arena = this;
        seat->id = static_cast<std::int32_t>(m_seats.size()) + 2;
        seat->name = name;
        auto ticker = std::make_unique<net::ManualTicker>();
        seat->ticker = ticker.get();
        seat->client = std::make_unique<net::HeadlessClient>(seat->dialogs, std::move(ticker));
        seat->client->handlers().setSender(seat.get());
        if (level) {
            seat->brain = std::make_unique<bot::BotBrain>(
                *seat->client, *seat, bot::LevelSettings::forLevel(*level), 1.0, seed);
        } else {
            seat->plain = std::make_unique<PlainPlayer>(*seat->client, seed, idle);
        }
        seat->client->handlers().SessionStarting();
        seat->client->handlers().SessionConnected(seat->id);
        const char* patterns = std::getenv("BENCH_PATTERNS");
        if (level && !(patterns && std::string_view(patterns) == "0")) {
            // As gemvolt-bot does before it joins; otherwise the bots attack
            // with the editor's default pattern, one colour throughout.
            bot::AttackPatternDesign::enterIntoEditor(seat->client->core(),
                                                      bot::AttackPatternDesign::forLevel(*level));
            seat->client->cmdApply_Click();
        }
        m_seats.push_back(std::move(seat));
        m_core.OnPlayerCreated(m_seats.back()->id);
        deliver();
        return *m_seats.back();
    }

    void fromClient(std::int32_t id, common::ByteView message) {
        m_toServer.emplace_back(id, common::Bytes(message.begin(), message.end()));
    }

    void deliver() {
        while (!m_toServer.empty() || !m_toAll.empty()) {
            while (!m_toServer.empty()) {
                const auto [id, bytes] = std::move(m_toServer.front());
                m_toServer.pop_front();
                m_core.OnMessage(id, bytes);
            }
            while (!m_toAll.empty()) {
                const common::Bytes bytes = std::move(m_toAll.front());
                m_toAll.pop_front();
                for (auto& seat : m_seats)
                    seat->client->handlers().Receive(bytes);
            }
        }
    }

    // Run until `fights` results are in; false if a fight never ended.
    bool run(int fights) {
        std::int64_t lastResultAt = 0;
        int lastCount = m_fights;
        while (m_fights < fights) {
            step(StepMs);
            if (m_fights != lastCount) {
                lastCount = m_fights;
                lastResultAt = m_now;
            }
            if (m_now - lastResultAt > MaxFightMs)
                return false;
        }
        return true;
    }

    // Play on for `ms`, on the simulated clock or in real time: then the
    // players look every RealTimePollMs and the clock is the wall's, so the
    // time the search computes and the animation pauses of the bots' own
    // boards (they sleep, as in the program) count.
    void runFor(std::int64_t ms, bool realTime) {
        const std::int64_t end = m_now + ms;
        if (!realTime) {
            while (m_now < end)
                step(StepMs);
            return;
        }
        for (auto& seat : m_seats) {
            if (seat->brain) {
                net::ClientPorts ports;
                ports.pause = &seat->sleepPause;
                seat->client->setPorts(ports);
            }
        }
        const auto origin = std::chrono::steady_clock::now();
        const std::int64_t base = m_now;
        while (m_now < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(RealTimePollMs));
            const std::int64_t wall = base + std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - origin)
                                                 .count();
            if (wall > m_now)
                step(wall - m_now);
        }
    }

    int wins(const Seat& seat) const {
        const auto it = m_wins.find(seat.id);
        return it == m_wins.end() ? 0 : it->second;
    }
    std::int64_t now() const { return m_now; }

private:
    // Every client's timers move `ms` on, then every player looks at its client.
    void step(std::int64_t ms) {
        m_now += ms;
        for (auto& seat : m_seats) {
            seat->ticker->advance(ms);
            if (seat->brain)
                seat->brain->poll(m_now);
            else
                seat->plain->poll(m_now);
            deliver();
        }
        for (auto& seat : m_seats)
            watchPace(*seat);
    }

    void watchPace(Seat& seat) {
        const bool running = seat.client->matchFlow().FightRunning();
        if (running && !seat.fighting) {
            // The fight's first pair and its next pair were announced as it began.
            seat.nextPairsSeen = seat.nextPairsSent;
            seat.landedThisFight = false;
            seat.lastEventAt = m_now;
        }
        seat.fighting = running;
        if (!running)
            return;
        for (; seat.nextPairsSeen < seat.nextPairsSent; ++seat.nextPairsSeen) {
            if (!seat.landedThisFight)
                seat.firstLandingMs.push_back(m_now - seat.lastEventAt);
            seat.landedThisFight = true;
            seat.pairMs.push_back(m_now - seat.lastEventAt);
            if (std::getenv("BENCH_TRACE"))
                std::printf("    %s landed at %.2f s, %.2f s after the last\n", seat.name.c_str(),
                            seconds(m_now), seconds(m_now - seat.lastEventAt));
            seat.lastEventAt = m_now;
        }
    }

    server::ServerCore m_core;
    std::vector<std::unique_ptr<Seat>> m_seats;
    std::deque<std::pair<std::int32_t, common::Bytes>> m_toServer;
    std::deque<common::Bytes> m_toAll;
    std::map<std::int32_t, int> m_wins;
    int m_fights = 0;
    std::int64_t m_now = 0;
};

bool Seat::sendMessage(common::ByteView message) {
    if (!message.empty() && message[0] == static_cast<std::uint8_t>(common::MsgType::NextPair))
        ++nextPairsSent;
    arena->fromClient(id, message);
    return true;
}

struct Pairing {
    std::optional<bot::Level> first;
    std::optional<bot::Level> second;
    double target;
};

std::string nameOf(const std::optional<bot::Level>& level) {
    return level ? bot::levelName(*level) : std::string("random-keys");
}

// How soon a level must land its first pair, and its median time per pair,
// against an opponent that does not attack.
struct PaceTarget {
    bot::Level level;
    double firstLandingS;
    double medianPairS;
};

double median(std::vector<std::int64_t> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? seconds(values[n / 2])
                      : (seconds(values[n / 2 - 1]) + seconds(values[n / 2])) / 2;
}

// One level against an idle player for `ms`; prints its figures, true if they meet the targets.
bool paceRun(const PaceTarget& target, std::int64_t ms, bool realTime) {
    const auto started = std::chrono::steady_clock::now();
    Arena arena;
    Seat& seat = arena.join(bot::levelName(target.level), target.level, 303);
    arena.join("idle", std::nullopt, 404, true);
    arena.runFor(ms, realTime);
    const double computed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (seat.firstLandingMs.empty()) {
        std::printf("  %-7s no landing in %.0f s  MISSED\n", bot::levelName(target.level).c_str(),
                    seconds(ms));
        return false;
    }
    const double worstFirst =
        seconds(*std::max_element(seat.firstLandingMs.begin(), seat.firstLandingMs.end()));
    const double pairMedian = median(seat.pairMs);
    const bool met = worstFirst <= target.firstLandingS && pairMedian <= target.medianPairS;
    std::printf("  %-7s %2zu fight(s), %2d won, %3zu landings  first landing %4.1f s (worst)  "
                "median %4.1f s per pair  (targets <= %.0f s, <= %.0f s) %s  [%.1f s to "
                "compute]\n",
                bot::levelName(target.level).c_str(), seat.firstLandingMs.size(), arena.wins(seat),
                seat.pairMs.size(), worstFirst, pairMedian, target.firstLandingS,
                target.medianPairS, met ? "met" : "MISSED", computed);
    std::fflush(stdout);
    return met;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int fights = argc > 1 ? std::max(0, std::atoi(argv[1])) : 40;
    const int paceSeconds = argc > 2 ? std::max(0, std::atoi(argv[2])) : 30;
    const std::vector<Pairing> pairings{
        {bot::Level::Hard, bot::Level::Easy, 0.75},
        {bot::Level::Easy, std::nullopt, 0.95},
        {bot::Level::Normal, std::nullopt, 0.95},
        {bot::Level::Hard, std::nullopt, 0.95},
    };
    bool allMet = true;
    if (fights > 0)
        std::printf("%d fights per pairing, simulated time, real rules and server core\n", fights);
    for (const Pairing& p : fights > 0 ? pairings : std::vector<Pairing>{}) {
        const auto started = std::chrono::steady_clock::now();
        Arena arena;
        Seat& a = arena.join(nameOf(p.first), p.first, 101);
        Seat& b = arena.join(nameOf(p.second) + "-2", p.second, 202);
        const bool finished = arena.run(fights);
        const int aw = arena.wins(a);
        const int bw = arena.wins(b);
        const double rate = aw + bw > 0 ? static_cast<double>(aw) / (aw + bw) : 0.0;
        const bool met = finished && rate >= p.target;
        allMet = allMet && met;
        const double computing =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("  %-7s vs %-11s %2d : %2d  win rate %5.1f %%  (target >= %.0f %%) %s  "
                    "[%.0f s of play, %.1f s to compute]\n",
                    nameOf(p.first).c_str(), nameOf(p.second).c_str(), aw, bw, rate * 100.0,
                    p.target * 100.0, met ? "met" : "MISSED", arena.now() / 1000.0, computing);
        std::fflush(stdout);
    }

    const std::vector<PaceTarget> paces{
        {bot::Level::Easy, 9, 8}, {bot::Level::Normal, 6, 4}, {bot::Level::Hard, 5, 3}};
    std::printf("pace against an idle opponent, %.0f s of simulated time per level\n",
                seconds(SimulatedPaceMs));
    for (const PaceTarget& target : paces)
        allMet = paceRun(target, SimulatedPaceMs, false) && allMet;
    if (paceSeconds > 0) {
        std::printf("pace against an idle opponent, %d s of real time per level\n", paceSeconds);
        for (const PaceTarget& target : paces)
            allMet = paceRun(target, paceSeconds * std::int64_t{1000}, true) && allMet;
    }
    return allMet ? 0 : 1;
}
