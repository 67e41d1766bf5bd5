// Strength of the computer player: fights between two in-process clients
// through the real server core and the real client handlers, on a simulated
// clock (no sockets, no sleeping). Prints the win rates per pairing.
//
//   bench_bot_strength [fights per pairing, default 40]

#include "Bot/BotBrain.h"
#include "Bot/LevelSettings.h"
#include "Client/net/HeadlessClient.h"
#include "Client/net/ManualTicker.h"
#include "Common/NumberText.h"
#include "Server/ServerCore.h"
#include "Server/ServerObserver.h"
#include "Server/ServerTransport.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace gemvolt;

namespace {

constexpr int StepMs = 5;
constexpr std::int64_t MaxFightMs = 15 * 60 * 1000;

class SilentDialogs : public net::SessionDialogs {
public:
    QString promptText(const QString&, const QString&, const QString& answer) override {
        return answer;
    }
    void showCriticalError(const QString&, const QString&) override {}
    void endProgram() override {}
};

// A player that presses Ready like anyone, then random keys at a person's pace.
class RandomKeys {
public:
    RandomKeys(net::HeadlessClient& client, std::uint32_t seed) : m_client(client), m_rng(seed) {}

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
        if (now < m_nextKey)
            return;
        m_nextKey = now + 200;
        std::uniform_int_distribution<int> key(board::KeyCodeLeft, board::KeyCodeDown);
        m_client.KeyDown(key(m_rng));
    }

private:
    net::HeadlessClient& m_client;
    std::mt19937 m_rng;
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
    std::unique_ptr<RandomKeys> randomKeys;

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

    Seat& join(const std::string& name, std::optional<bot::Level> level, std::uint32_t seed) {
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
            seat->randomKeys = std::make_unique<RandomKeys>(*seat->client, seed);
        }
        seat->client->handlers().SessionStarting();
        seat->client->handlers().SessionConnected(seat->id);
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
            m_now += StepMs;
            for (auto& seat : m_seats) {
                seat->ticker->advance(StepMs);
                if (seat->brain)
                    seat->brain->poll(m_now);
                else
                    seat->randomKeys->poll(m_now);
                deliver();
            }
            if (m_fights != lastCount) {
                lastCount = m_fights;
                lastResultAt = m_now;
            }
            if (m_now - lastResultAt > MaxFightMs)
                return false;
        }
        return true;
    }

    int wins(const Seat& seat) const {
        const auto it = m_wins.find(seat.id);
        return it == m_wins.end() ? 0 : it->second;
    }
    std::int64_t now() const { return m_now; }

private:
    server::ServerCore m_core;
    std::vector<std::unique_ptr<Seat>> m_seats;
    std::deque<std::pair<std::int32_t, common::Bytes>> m_toServer;
    std::deque<common::Bytes> m_toAll;
    std::map<std::int32_t, int> m_wins;
    int m_fights = 0;
    std::int64_t m_now = 0;
};

bool Seat::sendMessage(common::ByteView message) {
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

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int fights = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    const std::vector<Pairing> pairings{
        {bot::Level::Hard, bot::Level::Easy, 0.75},
        {bot::Level::Easy, std::nullopt, 0.95},
        {bot::Level::Normal, std::nullopt, 0.95},
        {bot::Level::Hard, std::nullopt, 0.95},
    };
    bool allMet = true;
    std::printf("%d fights per pairing, simulated time, real rules and server core\n", fights);
    for (const Pairing& p : pairings) {
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
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("  %-7s vs %-11s %2d : %2d  win rate %5.1f %%  (target >= %.0f %%) %s  "
                    "[%.0f s of play, %.1f s to compute]\n",
                    nameOf(p.first).c_str(), nameOf(p.second).c_str(), aw, bw, rate * 100.0,
                    p.target * 100.0, met ? "met" : "MISSED", arena.now() / 1000.0, seconds);
        std::fflush(stdout);
    }
    return allMet ? 0 : 1;
}
