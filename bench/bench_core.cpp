// Random fights on the game core with every port left out except a counter of
// MsgStats, which the core sends once per resolved landing. No pauses, no
// drawing, no sound: this measures the rules alone.
//
//   build/ci/bin/bench_core            (or build/<preset>/bench/bench_core)
#include "Client/battle/GameCore.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

using gemvolt::battle::GameCore;
namespace board = gemvolt::board;
namespace common = gemvolt::common;

namespace {

// Counts resolutions: HandleGameStatus sends MsgStats exactly once per call.
class LandingCounter : public board::MessagePort {
public:
    long long landings = 0;
    void SendNextPair(int, std::int16_t, std::int32_t, std::int16_t, std::int32_t) override {}
    void SendCounterAttack(int) override {}
    void SendStats(int, std::int64_t, std::int64_t, std::int64_t) override { ++landings; }
    void SendGameOver() override {}
    void SendBoardState(int, const std::array<common::GemCell, common::BoardCells>&,
                        const std::string&) override {}
    void SendAttackPattern(const common::AttackPattern&) override {}
};

common::AttackPattern opponentPattern() {
    static constexpr std::int32_t colors[] = {common::GemRed, common::GemYellow, common::GemGreen,
                                              common::GemBlue};
    common::AttackPattern p{};
    for (int k = 0; k < common::PatternCells; ++k)
        p[static_cast<std::size_t>(k)] =
            common::GemCell{true, k % 7 == 0 ? common::ShapeCrash : common::ShapeNormal,
                            static_cast<std::int16_t>(k), colors[(k * 5 + k / 6) % 4]};
    return p;
}

// A player who picks a random rotation and column for each pair, presses the
// keys, then Down until the pair has landed. Every so often the opponent's
// counter gems arrive. A lost fight ends with the server's game over and a
// new fight starts at once.
class RandomFighter {
public:
    explicit RandomFighter(GameCore& core, LandingCounter& counter)
        : m_core(core), m_counter(counter) {
        m_core.setPlayerTable({{"1", "Alice", "0", "0"}, {"2", "Bob", "0", "0"}});
        m_core.setLocalPlayerId(1);
        m_core.setPatternTable({{"2", opponentPattern()}});
        m_core.InitGame();
    }

    /** Play one pair to its landing. */
    void playPair() {
        const long long before = m_counter.landings;
        const int turns = static_cast<int>(m_moves() % 4);
        for (int i = 0; i < turns; ++i)
            m_core.KeyDown(board::KeyCodeUp);
        const int shift = static_cast<int>(m_moves() % 6) - 3;
        for (int i = 0; i < (shift < 0 ? -shift : shift); ++i)
            m_core.KeyDown(shift < 0 ? board::KeyCodeLeft : board::KeyCodeRight);
        while (m_counter.landings == before)
            m_core.KeyDown(board::KeyCodeDown);
        if (m_counter.landings % 5 == 0)
            m_core.setIncoming(0, "04");
        if (!m_core.tmrFallGems()) {
            m_core.HandleGameOver();
            m_core.InitGame();
        }
    }

private:
    GameCore& m_core;
    LandingCounter& m_counter;
    std::mt19937 m_moves{12345};
};

void BM_RandomFights(benchmark::State& state) {
    LandingCounter counter;
    GameCore core;
    board::Ports ports;
    ports.messages = &counter;
    core.setPorts(ports);
    RandomFighter fighter(core, counter);
    for (auto _ : state)
        fighter.playPair();
    state.counters["landings"] =
        benchmark::Counter(static_cast<double>(counter.landings), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RandomFights);

// Captures the game just before each resolution, so HandleGameStatus can be
// timed alone on real boards.
class CapturingCore : public GameCore {
public:
    std::vector<GameCore> captured;

protected:
    void resolveLanding() override {
        captured.push_back(static_cast<const GameCore&>(*this));
        GameCore::resolveLanding();
    }
};

void BM_HandleGameStatus(benchmark::State& state) {
    LandingCounter counter;
    CapturingCore source;
    board::Ports ports;
    ports.messages = &counter;
    source.setPorts(ports);
    RandomFighter fighter(source, counter);
    while (source.captured.size() < 512)
        fighter.playPair();
    std::vector<GameCore> pool = source.captured;
    for (GameCore& g : pool)
        g.detachPorts();
    std::vector<GameCore> work = pool;
    std::size_t next = 0;
    for (auto _ : state) {
        if (next == work.size()) {
            state.PauseTiming();
            work = pool;
            next = 0;
            state.ResumeTiming();
        }
        work[next++].HandleGameStatus();
    }
}
BENCHMARK(BM_HandleGameStatus);

} // namespace

BENCHMARK_MAIN();
