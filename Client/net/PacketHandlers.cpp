#include "Client/net/PacketHandlers.h"

#include "Common/MessageCodec.h"
#include "Common/NumberText.h"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <utility>

namespace gemvolt::net {

using namespace common;

namespace {

std::int64_t rowId(const battle::GameCore& core, int row) {
    if (core.playerTable().rowCount() <= row)
        return -1;
    return numberValue(core.listID(row));
}

std::int16_t toShape(const NumberField& field) {
    return static_cast<std::int16_t>(
        std::clamp<std::int64_t>(field.value(), std::numeric_limits<std::int16_t>::min(),
                                 std::numeric_limits<std::int16_t>::max()));
}

} // namespace

PacketHandlers::PacketHandlers(battle::GameCore& core, ChatLog& chat, MatchFlow& flow)
    : m_core(core), m_chat(chat), m_flow(flow) {
    m_flow.setReadySender([this] { SendReady(); });
}

// --- session events ---

void PacketHandlers::SessionStarting() {
    // The identifier of an earlier session means nothing on the new one; the
    // welcome brings ours.
    m_core.setLocalPlayerId(0);
    m_flow.Reset();
    // A new session joins whatever fight runs there and must show it.
    m_staleAfterGameOver = {false, false};
}

void PacketHandlers::SessionConnected(std::int32_t playerId) {
    m_core.setLocalPlayerId(playerId);
    AppendChatLine(QString::fromLatin1(ConnectedLine));
}

void PacketHandlers::SessionConnectFailed(const QString& host, const QString& reason) {
    AppendChatLine(QStringLiteral("*** Could not connect to %1: %2 ***").arg(host, reason));
    if (m_chatWindow)
        m_chatWindow->showChatWindow();
}

void PacketHandlers::SessionLost() {
    AppendChatLine(QString::fromLatin1(ConnectionLostLine));
}

bool PacketHandlers::Receive(ByteView bytes) {
    DecodeResult<MessageFromServer> decoded = decodeFromServer(bytes);
    if (!decoded.ok())
        return false;
    dispatch(std::move(decoded).value(),
             MessageHandlers{
                 [this](const MsgChat& m) { OnChat(m); },
                 [this](const MsgRoster& m) { OnRoster(m); },
                 [this](const MsgPlayerLeft& m) { OnPlayerLeft(m); },
                 [this](const MsgStandings& m) { OnStandings(m); },
                 [this](const MsgAttackPatternToAll& m) { OnAttackPatterns(m); },
                 [this](const MsgBoardState& m) { OnBoardState(m); },
                 [this](const MsgNextPair& m) { OnNextPair(m); },
                 [this](const MsgCounterAttackToAll& m) { OnCounterAttack(m); },
                 [this](const MsgStats& m) { OnStats(m); },
                 [this](const MsgGameOver&) {
                     m_staleAfterGameOver = {true, true};
                     m_flow.GameOver();
                 },
                 [this](const MsgReadyToAll& m) { OnReady(m); },
             });
    return true;
}

// --- builders ---

template <class M> bool PacketHandlers::send(const M& message) {
    if (!m_sender)
        return false;
    const Bytes bytes = encode(message);
    return m_sender->sendMessage(ByteView(bytes.data(), bytes.size()));
}

bool PacketHandlers::SendChat(const std::string& line) {
    if (line.empty())
        return false;
    return send(MsgChat{line});
}

void PacketHandlers::SendPlayerLeft() {
    send(MsgPlayerLeft{m_core.LocalPlayerId()});
}

bool PacketHandlers::SendReady() {
    return send(MsgReady{});
}

void PacketHandlers::SendNextPair(int board, std::int16_t lowerShape, std::int32_t lowerColor,
                                  std::int16_t upperShape, std::int32_t upperColor) {
    send(MsgNextPair{NumberField::number(board), NumberField::number(lowerShape),
                     NumberField::number(lowerColor), NumberField::number(upperShape),
                     NumberField::number(upperColor)});
}

void PacketHandlers::SendCounterAttack(int count) {
    send(MsgCounterAttack{NumberField::number(count)});
}

void PacketHandlers::SendStats(int board, std::int64_t score, std::int64_t bestChain,
                               std::int64_t bestCombo) {
    send(MsgStats{NumberField::number(board), NumberField::number(score),
                  NumberField::number(bestChain), NumberField::number(bestCombo)});
}

void PacketHandlers::SendGameOver() {
    send(MsgGameOver{});
}

void PacketHandlers::SendBoardState(int board,
                                    const std::array<common::GemCell, common::BoardCells>& cells,
                                    const std::string& pending) {
    send(MsgBoardState::fromBoard(board, cells, pending));
}

void PacketHandlers::SendAttackPattern(const common::AttackPattern& pattern) {
    send(MsgAttackPattern{patternFields(pattern)});
}

// --- handlers ---

void PacketHandlers::OnChat(const MsgChat& message) {
    AppendChatLine(QString::fromStdString(message.Text));
}

void PacketHandlers::OnRoster(const MsgRoster& message) {
    // Our identifier comes from the welcome, never from a roster's last entry.
    m_roster = message.Entries;
}

void PacketHandlers::OnPlayerLeft(const MsgPlayerLeft& message) {
    RemoveFromRoster(message.Id);
    if (m_chatWindow)
        m_chatWindow->showChatWindow();
}

void PacketHandlers::RemoveFromRoster(std::int32_t id) {
    std::vector<RosterEntry> kept;
    kept.reserve(m_roster.size());
    for (const RosterEntry& entry : m_roster) {
        if (entry.Id == id)
            AppendChatLine(QString::fromStdString(entry.Name) + QStringLiteral(" has left"));
        else
            kept.push_back(entry);
    }
    m_roster = std::move(kept);
}

void PacketHandlers::OnStandings(const MsgStandings& message) {
    // The first roster entry of an identifier names it; a lookup table keeps
    // a long queue against a long roster from stalling the client.
    std::unordered_map<std::int64_t, const std::string*> names;
    names.reserve(m_roster.size());
    for (const RosterEntry& r : m_roster)
        names.emplace(r.Id, &r.Name);
    std::vector<board::PlayerRow> rows;
    rows.reserve(message.Rows.size());
    for (const StandingsEntry& entry : message.Rows) {
        const std::int64_t id = entry.Id.value();
        const auto known = names.find(id);
        std::string name = known != names.end() ? *known->second : "Player " + toIdText(id);
        rows.push_back(board::PlayerRow{entry.Id.text(), std::move(name), entry.Wins.text(),
                                        entry.Losses.text()});
    }
    m_core.setPlayerTable(std::move(rows));
    m_flow.AfterStandings();
    // Every change of the queue makes every client hand its pattern in again,
    // so the server's set covers everybody present.
    m_core.cmdApply_Click();
}

void PacketHandlers::OnAttackPatterns(const MsgAttackPatternToAll& message) {
    m_core.setPatternTable(message.toEntries());
}

bool PacketHandlers::acceptsBoard(std::int64_t board) const {
    if (board != 1 && board != 2)
        return false;
    if (board == m_core.whatPlayer())
        return false;
    // The board our running fight started on stays ours even if the table moved us.
    return !(m_flow.FightRunning() && board == m_core.FightBoard());
}

bool PacketHandlers::staleBoard(std::int64_t board) const {
    return (board == 1 || board == 2) && m_staleAfterGameOver[static_cast<std::size_t>(board - 1)];
}

bool PacketHandlers::showsBoard(std::int64_t board) const {
    return acceptsBoard(board) && !staleBoard(board);
}

void PacketHandlers::OnBoardState(const MsgBoardState& message) {
    const std::int64_t p = message.Board.value();
    if (!showsBoard(p))
        return;
    const int b = static_cast<int>(p) - 1;
    for (int r = 0; r < BoardRows; ++r) {
        for (int c = 0; c < BoardColumns; ++c) {
            m_core.writeCell(
                b, c, r, message.Cells[static_cast<std::size_t>(r * BoardColumns + c)].toGemCell());
            m_core.SetGem(static_cast<int>(p), c, r);
        }
    }
    m_core.setIncoming(b, message.Pending);
}

void PacketHandlers::OnNextPair(const MsgNextPair& message) {
    const std::int64_t p = message.Board.value();
    // Only a pair announced once the next fight is on its way here opens the
    // board again: both marks are relayed to everybody before any fighter
    // can start, while the pair a loser announces after its defeat comes
    // before any mark.
    const bool nextFightUnderWay = m_flow.FightRunning() || (m_flow.P1Ready() && m_flow.P2Ready());
    if (staleBoard(p) && nextFightUnderWay)
        m_staleAfterGameOver[static_cast<std::size_t>(p - 1)] = false;
    if (!acceptsBoard(p))
        return;
    const int n = p == 1 ? 0 : 2;
    m_core.setNextGem(n, toShape(message.LowerShape), message.LowerColor.value32());
    m_core.setNextGem(n + 1, toShape(message.UpperShape), message.UpperColor.value32());
}

void PacketHandlers::OnCounterAttack(const MsgCounterAttackToAll& message) {
    const int own = m_core.whatPlayer();
    if (own == 0)
        return; // a watcher learns the count from the next snapshot
    const std::int64_t sender = message.Sender.value();
    int label = 0;
    if (sender == rowId(m_core, 0)) {
        if (own != 2)
            return;
        label = 1;
    } else if (sender == rowId(m_core, 1)) {
        if (own != 1)
            return;
        label = 0;
    } else {
        if (m_flow.takeStrangeNotice() && m_core.ports().messageBox)
            m_core.ports().messageBox->showMessage(StrangeIncomingMessage);
        return;
    }
    // The game never sends fewer than one gem; a count that would lower the
    // counter is not an attack.
    const std::int64_t count = message.Count.value();
    if (count <= 0)
        return;
    constexpr std::int64_t Cap = std::numeric_limits<std::int32_t>::max();
    const std::int64_t pending =
        std::clamp<std::int64_t>(numberValue(m_core.lblIncoming(label)), 0, Cap);
    m_core.setIncoming(label, toTwoDigitText(std::min(pending + std::min(count, Cap), Cap)));
}

void PacketHandlers::OnStats(const MsgStats& message) {
    const std::int64_t p = message.Board.value();
    if (!showsBoard(p))
        return;
    m_core.setStatsLabels(static_cast<int>(p) - 1, message.Score.text(), message.BestChain.text(),
                          message.BestCombo.text());
}

void PacketHandlers::OnReady(const MsgReadyToAll& message) {
    m_flow.MarkReady(message.Sender.value());
}

} // namespace gemvolt::net
