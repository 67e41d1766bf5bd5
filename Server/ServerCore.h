#pragma once

#include "Common/GemCell.h"
#include "Common/MessageBuffer.h"
#include "Common/Messages.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gemvolt::server {

class ServerObserver;
class ServerTransport;

/** One row of the fight queue, all four as the texts the window shows and the wire carries. */
struct StandingsRow {
    std::string IdText; ///< the identifier in plain decimal ("7")
    std::string Name;
    std::string Wins;   ///< plain decimal, no blank ("0")
    std::string Losses; ///< plain decimal, no blank ("0")

    friend bool operator==(const StandingsRow&, const StandingsRow&) = default;
};

/** How hosting went: Hosted, or the number and description the error box shows. */
struct InitResult {
    bool Hosted = false;
    int ErrorNumber = 0;
    std::string Description;
};

/**
 * The session server without its window: the roster, the fight queue with
 * wins and losses, every player's attack pattern, the last snapshot of each
 * board, and one handler per message type a client sends (the compiler
 * insists on each). It talks to the session only
 * through a ServerTransport and tells a ServerObserver what changed.
 *
 * Every send goes to every player. All calls come from one thread, one at a
 * time (the transport delivers its events on the program's main thread).
 */
class ServerCore {
public:
    /** The player-limit prompt's default answer. */
    static constexpr int DefaultPlayerLimit = 11;
    /** The smallest useful limit: the server's own player and one client. */
    static constexpr int MinPlayerLimit = 2;
    /** The largest limit accepted; far more than a queue of fights can serve. */
    static constexpr int MaxPlayerLimit = 10000;
    /** Error number of an answer that is not a number. */
    static constexpr int ErrorNotANumber = 13;
    /** Error number of an answer that rounds to a number outside MinPlayerLimit..MaxPlayerLimit. */
    static constexpr int ErrorLimitOutOfRange = 6;

    explicit ServerCore(ServerTransport& transport);

    /** Who hears of joins, departures, results and queue changes; may be null. */
    void setObserver(ServerObserver* observer) { m_observer = observer; }

    /**
     * Hosts the session with the player limit typed into the prompt (nothing
     * when the prompt was cancelled) on `port`. The answer is rounded to a
     * whole number, halves to the even neighbour ("11.5" hosts 12 players). An
     * answer that is not a number, or one that rounds outside 2..10000, hosts
     * nothing and says why.
     */
    InitResult InitServer(std::optional<std::string_view> answer, std::uint16_t port);

    /** True from a successful InitServer until CloseSession. */
    bool isHosting() const { return m_hosting; }

    /**
     * A player was created in the session: the first one is the server's
     * own (kept in HostPlayerId), every later one joins with AddPlayer.
     */
    void OnPlayerCreated(std::int32_t id);

    /** A player's connection ended for any reason: it leaves as if it had said goodbye. */
    void OnPlayerDestroyed(std::int32_t id);

    /**
     * A message from a connected player. Messages the decoder rejects, and
     * messages from a player no longer in the roster, are dropped without effect.
     */
    void OnMessage(std::int32_t sender, common::ByteView bytes);

    /** Registers a player: MsgRoster, a new last row of the queue, MsgStandings. */
    void AddPlayer(const std::string& name, std::int32_t id);

    /**
     * Removes a player from the roster, the queue and the pattern store:
     * MsgStandings, then MsgPlayerLeft, then (when a fighter left and somebody
     * stays) MsgGameOver so that every client ends the fight. An identifier
     * that is not in the roster changes nothing and sends nothing.
     */
    void RemovePlayer(std::int32_t id);

    /** Sends MsgStandings with the whole queue. */
    void BroadcastStandings();

    /** Removes a player and then closes its connection, so it can no longer chat or play. */
    void Kick(std::int32_t id);

    /** Ends the session; nothing is handled afterwards. */
    void CloseSession();

    /** The server's own player, 0 before the session is hosted. */
    std::int32_t HostPlayerId() const { return m_hostPlayerId; }
    /** Registered players in join order. */
    const std::vector<common::RosterEntry>& ServerRoster() const { return m_roster; }
    /** The fight queue: row 0 fights on board 1, row 1 on board 2. */
    const std::vector<StandingsRow>& Standings() const { return m_standings; }
    /** One pattern per player still here, in the order of their first pattern. */
    const std::vector<common::PatternEntry>& ServerPatterns() const { return m_patterns; }
    /**
     * The last snapshot of board 1 and board 2, as received. Built on asking:
     * the server keeps only the bytes it relays.
     */
    std::array<std::optional<common::MsgBoardState>, 2> BoardMirror() const;

    /**
     * Bytes of the MsgRoster that would announce a player called `name` joining
     * now: what must fit in one message for everybody to hear of the join.
     */
    std::size_t RosterSizeWith(const std::string& name) const;

    /** The board a player fights on: 1 for row 0, 2 for row 1, 0 for everybody else. */
    int boardOf(std::int32_t id) const;

private:
    void OnChat(common::ByteView bytes);
    void OnPlayerLeft(std::int32_t sender, const common::MsgPlayerLeft& message);
    void OnAttackPattern(std::int32_t sender, const common::MsgAttackPattern& message);
    void OnBoardState(std::int32_t sender, std::int64_t boardNumber, common::ByteView bytes);
    void OnNextPair(std::int32_t sender, const common::MsgNextPair& message,
                    common::ByteView bytes);
    void OnCounterAttack(std::int32_t sender, const common::MsgCounterAttack& message);
    void OnStats(std::int32_t sender, const common::MsgStats& message, common::ByteView bytes);
    void OnGameOver(std::int32_t sender);
    void OnReady(std::int32_t sender);

    bool inRoster(std::int32_t id) const;
    void send(const common::Bytes& message);

    ServerTransport& m_transport;
    ServerObserver* m_observer = nullptr;
    bool m_hosting = false;
    std::int32_t m_hostPlayerId = 0;
    std::vector<common::RosterEntry> m_roster;
    std::vector<StandingsRow> m_standings;
    std::vector<common::PatternEntry> m_patterns;
    // The last snapshot of each board as its bytes; empty until one came.
    std::array<common::Bytes, 2> m_boardMirror;
};

} // namespace gemvolt::server
