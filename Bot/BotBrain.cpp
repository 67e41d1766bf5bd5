#include "Bot/BotBrain.h"

#include "Common/Messages.h"

#include <algorithm>
#include <cmath>

namespace gemvolt::bot {

namespace {

// A person reads the panel before pressing Ready, and presses again if the
// mark has not come back after a while.
constexpr int ReadyDelayMs = 800;
constexpr int ReadyRepeatMs = 4000;

} // namespace

BotBrain::BotBrain(net::HeadlessClient& client, net::MessageSender& upstream,
                   LevelSettings settings, double speed, std::uint32_t seed)
    : m_client(client), m_upstream(upstream), m_search(std::move(settings), seed),
      m_speed(speed > 0 ? speed : 1.0) {
    m_client.handlers().setSender(this);
}

std::int64_t BotBrain::scaled(int ms) const {
    return static_cast<std::int64_t>(std::ceil(ms / m_speed));
}

bool BotBrain::sendMessage(common::ByteView message) {
    if (!message.empty()) {
        if (message[0] == static_cast<std::uint8_t>(common::MsgType::NextPair))
            ++m_nextPairsSent;
        else if (message[0] == static_cast<std::uint8_t>(common::MsgType::BoardState))
            m_lastBoardSent.assign(message.begin(), message.end());
        else if (message[0] == static_cast<std::uint8_t>(common::MsgType::GameOver)) {
            m_sentGameOver = true;
            // A bot may stay for days: only the latest losses are kept.
            if (m_boardsAtLoss.size() == BoardsAtLossKept)
                m_boardsAtLoss.erase(m_boardsAtLoss.begin());
            m_boardsAtLoss.push_back(m_lastBoardSent);
        }
    }
    if (m_sendObserver)
        m_sendObserver(message);
    return m_upstream.sendMessage(message);
}

BotBrain::PairState BotBrain::pairState() const {
    const battle::GameCore& core = m_client.core();
    return {core.PairC(0), core.PairR(0), core.PairC(1), core.PairR(1), m_nextPairsSent};
}

void BotBrain::pressKey(int key) {
    m_client.KeyDown(key);
    ++m_keysPressed;
    // What the key changed is ours, not the timer's.
    m_seenPair = pairState();
}

void BotBrain::poll(std::int64_t now) {
    const battle::GameCore& core = m_client.core();
    const net::MatchFlow& flow = m_client.matchFlow();

    const bool running = flow.FightRunning();
    if (running && !m_wasRunning) {
        m_fightBoard = core.FightBoard();
        m_sentGameOver = false;
        m_hasPlan = false;
        m_plannedAt = m_nextPairsSent > 0 ? m_nextPairsSent - 1 : 0;
        // The fight's start set the fall timer going.
        m_lastFallAt = now;
        m_seenPair = pairState();
    }
    if (!running && m_wasRunning && m_fightBoard != 0) {
        ++m_fights;
        if (m_sentGameOver)
            ++m_lost;
        m_fightBoard = 0;
        m_wasRunning = running;
        if (m_onFightOver)
            m_onFightOver();
        return;
    }
    m_wasRunning = running;

    // Ready whenever we are one of the next two and the panel waits for us.
    const int board = core.whatPlayer();
    const bool waiting = !running && board != 0 && core.frmNxtMatch() &&
                         core.playerTable().rowCount() >= 2 && !core.tmrCountDown();
    const bool marked = board == 1 ? flow.P1Ready() : flow.P2Ready();
    if (waiting && !marked) {
        if (m_readyDueAt < 0) {
            m_readyDueAt = now + scaled(ReadyDelayMs);
        } else if (now >= m_readyDueAt) {
            m_client.RdyButton_Click();
            m_readyDueAt = now + scaled(ReadyRepeatMs);
        }
    } else {
        m_readyDueAt = -1;
    }

    if (!running || board == 0 || !core.tmrFallGems()) {
        m_hasPlan = false;
        return;
    }
    // Each tick of the fall timer moves the pair or lands it, and between two
    // looks nothing else does: a change since the last look dates the tick.
    if (const PairState seen = pairState(); seen != m_seenPair) {
        m_seenPair = seen;
        m_lastFallAt = now;
    }

    // Every pair that enters is announced with the one after it: a new
    // announcement means a new pair in hand.
    if (m_nextPairsSent > m_plannedAt && core.PairActive()) {
        m_plannedAt = m_nextPairsSent;
        // A pair that entered on a Down key has less than a whole interval
        // before the timer moves it: the search must steer with that in mind.
        const double sinceFall = static_cast<double>(now - m_lastFallAt) * m_speed;
        const int nextFallTickIn =
            PlacementSearch::FallIntervalMs -
            static_cast<int>(std::min<double>(sinceFall, PlacementSearch::FallIntervalMs));
        const SearchResult choice = m_search.choose(core, nextFallTickIn);
        m_hasPlan = true;
        m_steering = choice.Found;
        m_target = choice.Best;
        m_keysThisPair = 0;
        m_nextKeyAt = now + scaled(settings().ThinkMs);
        ++m_pairsPlanned;
    }
    if (!m_hasPlan || now < m_nextKeyAt)
        return;
    m_nextKeyAt = now + scaled(settings().KeyDelayMs);

    if (m_steering && core.PairActive() && m_keysThisPair < MaxSteeringKeys) {
        if (const std::optional<int> key = PairSteering::nextKey(core, m_target)) {
            const int c0 = core.PairC(0), r0 = core.PairR(0), c1 = core.PairC(1),
                      r1 = core.PairR(1);
            pressKey(*key);
            ++m_keysThisPair;
            const bool moved = c0 != core.PairC(0) || r0 != core.PairR(0) || c1 != core.PairC(1) ||
                               r1 != core.PairR(1);
            if (*key != board::KeyCodeDown && !moved)
                m_steering = false;
            return;
        }
    }
    // In place, or as near as the board lets it: down it goes, a key at a
    // time, until it lands and the next pair is in hand.
    m_steering = false;
    pressKey(board::KeyCodeDown);
}

} // namespace gemvolt::bot
