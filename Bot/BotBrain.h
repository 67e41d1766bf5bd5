#pragma once

#include "Bot/LevelSettings.h"
#include "Bot/PairSteering.h"
#include "Bot/PlacementSearch.h"
#include "Client/net/HeadlessClient.h"
#include "Client/net/MessageSender.h"

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace gemvolt::bot {

/**
 * The computer's hands and eyes on a headless client. It watches the client
 * as a person watches the window and acts only through what a person has:
 * the Ready button and the four keys. Each new pair is thought over, steered
 * into place and pressed down at the level's key pace until it lands. Time
 * comes from outside: the owner calls poll() often with the current time,
 * from real timers in the program or from a simulated clock in the benchmark.
 *
 * It sits between the client's builders and the session to see what the
 * client sends (a new next pair means a new pair to place; MsgGameOver means
 * we lost) and passes every message on unchanged.
 */
class BotBrain : public net::MessageSender {
public:
    /** A pair is steered with at most this many keys before the bot drops it where it is. */
    static constexpr int MaxSteeringKeys = 12;

    /**
     * `upstream` receives every message the client sends. `speed` divides the
     * bot's own think, key and ready pauses (1 for a person's pace).
     */
    BotBrain(net::HeadlessClient& client, net::MessageSender& upstream, LevelSettings settings,
             double speed = 1.0, std::uint32_t seed = 1);

    /** Look at the client and act if something is due at `nowMs`. */
    void poll(std::int64_t nowMs);

    /** Fights this bot has fought to their end. */
    int fightsPlayed() const { return m_fights; }
    /** Fights it lost (it reported its own game over). */
    int fightsLost() const { return m_lost; }
    int pairsPlanned() const { return m_pairsPlanned; }
    /** How many of the latest fights lost boardsAtLoss() keeps. */
    static constexpr std::size_t BoardsAtLossKept = 100;
    /**
     * For each of the latest fights lost, in order: the last board snapshot
     * sent before the game over.
     */
    const std::vector<common::Bytes>& boardsAtLoss() const { return m_boardsAtLoss; }
    int keysPressed() const { return m_keysPressed; }
    const LevelSettings& settings() const { return m_search.settings(); }

    /** Called once each time a fight this bot fought has ended. */
    void setFightOverHandler(std::function<void()> handler) { m_onFightOver = std::move(handler); }

    /** Told of every message the client sends, before it goes on (for session checks). */
    void setSendObserver(std::function<void(common::ByteView)> observer) {
        m_sendObserver = std::move(observer);
    }

    bool sendMessage(common::ByteView message) override;

private:
    /** The falling pair's cells and the pairs announced: what a fall tick always changes. */
    using PairState = std::array<int, 5>;

    std::int64_t scaled(int ms) const;
    PairState pairState() const;
    void pressKey(int key);

    net::HeadlessClient& m_client;
    net::MessageSender& m_upstream;
    PlacementSearch m_search;
    double m_speed;
    std::function<void()> m_onFightOver;
    std::function<void(common::ByteView)> m_sendObserver;

    // What the client has sent.
    int m_nextPairsSent = 0;
    bool m_sentGameOver = false;
    common::Bytes m_lastBoardSent;
    std::vector<common::Bytes> m_boardsAtLoss;

    // The fight.
    bool m_wasRunning = false;
    int m_fightBoard = 0;
    int m_fights = 0;
    int m_lost = 0;

    // Ready.
    std::int64_t m_readyDueAt = -1;

    // The fall timer, as far as it can be seen: when it last moved the pair.
    std::int64_t m_lastFallAt = 0;
    PairState m_seenPair{};

    // The pair in hand.
    int m_plannedAt = 0;
    bool m_hasPlan = false;
    bool m_steering = false;
    int m_keysThisPair = 0;
    Placement m_target;
    std::int64_t m_nextKeyAt = 0;
    int m_pairsPlanned = 0;
    int m_keysPressed = 0;
};

} // namespace gemvolt::bot
