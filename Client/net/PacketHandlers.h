#pragma once

#include "Client/battle/GameCore.h"
#include "Client/board/MessagePort.h"
#include "Client/net/ChatLog.h"
#include "Client/net/MatchFlow.h"
#include "Client/net/MessageSender.h"
#include "Client/net/SessionDialogs.h"
#include "Common/MessageBuffer.h"
#include "Common/Messages.h"

#include <QString>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace gemvolt::net {

/** The chat-log line of a completed connect. */
inline constexpr const char* ConnectedLine = "**Connected to Chat Server**";
/** The chat-log line of a session the server ended. */
inline constexpr const char* ConnectionLostLine =
    "*** Connection with server lost. Attempting to send messages may casue errors - So you "
    "should probably just quit or wait or something...***";
/** The box for a counter attack from a player on neither board. */
inline constexpr const char* StrangeIncomingMessage =
    "Strange Incoming Message Didn't come from either of the Players. That are Currently "
    "Playering...";

/**
 * The client's side of the protocol: one builder per message it sends and one
 * handler per message it receives, over the game core, the chat log and the
 * match flow. The builders the game itself calls are its message port: the
 * core's typed sends arrive here and leave encoded.
 *
 * Receive() decodes first; a message the decoder rejects is dropped whole
 * with no effect, so nothing from the network can crash the client or leave a
 * half-applied change. A client never writes its own board from the network.
 *
 * After a game over, a fighter's snapshot and figures sent before it heard of
 * the end still arrive: they belong to the fight that is over. So from the
 * game over on, MsgBoardState and MsgStats of a board are ignored until that
 * board's first MsgNextPair of the next fight, the first thing a fighter sends
 * when it starts one. A pair counts as the next fight's only once this client
 * has seen both ready marks (or its own fight began): the loser's client
 * announces one more pair right after its defeat, before anyone is ready. A
 * client that has seen no game over in its session shows every snapshot, so
 * a watcher joining a running fight sees it.
 */
class PacketHandlers : public board::MessagePort {
public:
    PacketHandlers(battle::GameCore& core, ChatLog& chat, MatchFlow& flow);

    /** Where the builders send (none: every send fails quietly). */
    void setSender(MessageSender* sender) { m_sender = sender; }
    /** Who shows the chat window on a departure or a failed connect. */
    void setChatWindow(ChatWindowPort* window) { m_chatWindow = window; }

    // --- session events ---
    /** A connect has started: the old identifier no longer holds, no fight runs here. */
    void SessionStarting();
    /** The server welcomed us with our identifier. */
    void SessionConnected(std::int32_t playerId);
    /** The connect to host failed for reason. */
    void SessionConnectFailed(const QString& host, const QString& reason);
    /** The server ended the open session. */
    void SessionLost();

    /**
     * One message from the server, handed to the handler of its type. False
     * when the decoder rejected it (nothing changed).
     */
    bool Receive(common::ByteView message);

    // --- builders of the player's commands ---
    /** MsgChat with the composed line; nothing when it is empty. */
    bool SendChat(const std::string& line);
    /** MsgPlayerLeft with LocalPlayerId; a failure is ignored. */
    void SendPlayerLeft();
    /** MsgReady, for the Ready button. */
    bool SendReady();

    // --- builders of the game (its message port) ---
    void SendNextPair(int board, std::int16_t lowerShape, std::int32_t lowerColor,
                      std::int16_t upperShape, std::int32_t upperColor) override;
    void SendCounterAttack(int count) override;
    void SendStats(int board, std::int64_t score, std::int64_t bestChain,
                   std::int64_t bestCombo) override;
    void SendGameOver() override;
    void SendBoardState(int board, const std::array<common::GemCell, common::BoardCells>& cells,
                        const std::string& pending) override;
    void SendAttackPattern(const common::AttackPattern& pattern) override;

    // --- handlers ---
    void OnChat(const common::MsgChat& message);
    void OnRoster(const common::MsgRoster& message);
    void OnPlayerLeft(const common::MsgPlayerLeft& message);
    void OnStandings(const common::MsgStandings& message);
    void OnAttackPatterns(const common::MsgAttackPatternToAll& message);
    void OnBoardState(const common::MsgBoardState& message);
    void OnNextPair(const common::MsgNextPair& message);
    void OnCounterAttack(const common::MsgCounterAttackToAll& message);
    void OnStats(const common::MsgStats& message);
    void OnReady(const common::MsgReadyToAll& message);

    void AppendChatLine(const QString& line) { m_chat.AppendChatLine(line); }
    /** Drop every roster entry with this identifier, each with a " has left" line. */
    void RemoveFromRoster(std::int32_t id);

    const std::vector<common::RosterEntry>& ClientRoster() const { return m_roster; }
    const std::vector<common::PatternEntry>& PatternTable() const { return m_core.PatternTable(); }

    /** Whether a snapshot or the figures of this board would be drawn here now: a
        board of the running fight that is not our own, and not a late one from a
        fight that is already over. */
    bool showsBoard(std::int64_t board) const;

private:
    template <class M> bool send(const M& message);
    /** The board a message names may be drawn here: 1 or 2, and not our own. */
    bool acceptsBoard(std::int64_t board) const;
    /** True while board's snapshots and figures still come from a fight that is over. */
    bool staleBoard(std::int64_t board) const;

    battle::GameCore& m_core;
    ChatLog& m_chat;
    MatchFlow& m_flow;
    MessageSender* m_sender = nullptr;
    ChatWindowPort* m_chatWindow = nullptr;
    std::vector<common::RosterEntry> m_roster;
    /** Per board: a game over came and the board's next fight has not announced itself yet. */
    std::array<bool, 2> m_staleAfterGameOver{false, false};
};

} // namespace gemvolt::net
