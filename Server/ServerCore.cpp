#include "Server/ServerCore.h"

#include "Common/MessageCodec.h"
#include "Common/NumberText.h"
#include "Server/ServerObserver.h"
#include "Server/ServerTransport.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

namespace gemvolt::server {

using namespace gemvolt::common;

namespace {

// The prompt's answer converted to a whole number. Blanks around it are fine;
// a number with a fraction or an exponent rounds to the nearest whole number,
// halves to the even neighbour ("11.5" is 12, "10.5" is 10). Anything else
// (letters, a second point, nothing at all) is no number. A value too large
// to hold reads as infinity, so it fails the range check rather than wrap.
std::optional<double> wholeNumber(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // from_chars would also read a sign, "inf" and "nan": a number starts with a digit or a point.
    if (text.empty() ||
        !(std::isdigit(static_cast<unsigned char>(text.front())) || text.front() == '.')) {
        return std::nullopt;
    }
    double value = 0;
    const char* const last = text.data() + text.size();
    const auto [end, error] = std::from_chars(text.data(), last, value);
    if (end != last) {
        return std::nullopt;
    }
    if (error == std::errc::result_out_of_range) {
        value = std::numeric_limits<double>::infinity();
    } else if (error != std::errc()) {
        return std::nullopt;
    }
    // nearbyint rounds halves to the even neighbour in the default rounding mode.
    value = std::nearbyint(value);
    return negative ? -value : value;
}

} // namespace

ServerCore::ServerCore(ServerTransport& transport) : m_transport(transport) {}

InitResult ServerCore::InitServer(std::optional<std::string_view> answer, std::uint16_t port) {
    InitResult result;
    if (m_hosting) {
        result.Hosted = true;
        return result;
    }
    const std::optional<double> limit = answer ? wholeNumber(*answer) : std::nullopt;
    if (!limit) {
        result.ErrorNumber = ErrorNotANumber;
        result.Description = "Type mismatch: the number of clients must be a number";
        return result;
    }
    if (*limit < MinPlayerLimit || *limit > MaxPlayerLimit) {
        result.ErrorNumber = ErrorLimitOutOfRange;
        result.Description = "The number of clients must be between " +
                             std::to_string(MinPlayerLimit) + " and " +
                             std::to_string(MaxPlayerLimit);
        return result;
    }
    // The transport creates the server's own player while hosting, so the
    // session counts as hosted before that event arrives.
    m_hosting = true;
    if (!m_transport.host(static_cast<int>(*limit), port)) {
        m_hosting = false;
        result.ErrorNumber = m_transport.hostErrorNumber();
        result.Description = m_transport.hostErrorText();
        return result;
    }
    result.Hosted = true;
    return result;
}

void ServerCore::OnPlayerCreated(std::int32_t id) {
    if (!m_hosting) {
        return;
    }
    if (m_hostPlayerId == 0) {
        m_hostPlayerId = id;
        return;
    }
    AddPlayer(m_transport.playerName(id), id);
}

void ServerCore::OnPlayerDestroyed(std::int32_t id) {
    if (!m_hosting) {
        return;
    }
    // A client that vanished without a goodbye must not keep its place in
    // the queue: the next fight would name a player who is gone.
    RemovePlayer(id);
}

void ServerCore::OnMessage(std::int32_t sender, ByteView bytes) {
    // A kicked or departed player may still have messages on the way; they
    // no longer count.
    if (!m_hosting || !inRoster(sender)) {
        return;
    }
    // Snapshots are most of what arrives and are only passed on: their shape
    // is checked where they lie instead of building all ninety cells.
    if (!bytes.empty() && bytes[0] == static_cast<std::uint8_t>(MsgType::BoardState)) {
        if (const auto board = checkedNumber(bytes, &MsgBoardState::Board)) {
            OnBoardState(sender, numberValue(*board), bytes);
        }
        return;
    }
    DecodeResult<MessageFromClient> decoded = decodeFromClient(bytes);
    if (!decoded) {
        return;
    }
    dispatch(std::move(decoded).value(),
             MessageHandlers{
                 [&](const MsgChat&) { OnChat(bytes); },
                 [&](const MsgPlayerLeft& m) { OnPlayerLeft(sender, m); },
                 [&](const MsgAttackPattern& m) { OnAttackPattern(sender, m); },
                 [&](const MsgBoardState& m) { OnBoardState(sender, m.Board.value(), bytes); },
                 [&](const MsgNextPair& m) { OnNextPair(sender, m, bytes); },
                 [&](const MsgCounterAttack& m) { OnCounterAttack(sender, m); },
                 [&](const MsgStats& m) { OnStats(sender, m, bytes); },
                 [&](const MsgGameOver&) { OnGameOver(sender); },
                 [&](const MsgReady&) { OnReady(sender); },
             });
}

void ServerCore::AddPlayer(const std::string& name, std::int32_t id) {
    if (inRoster(id)) {
        return;
    }
    m_roster.push_back({id, name});
    send(encode(MsgRoster{m_roster}));
    m_standings.push_back({toIdText(id), name, "0", "0"});
    BroadcastStandings();
    if (m_observer) {
        m_observer->playerJoined(id, name);
        m_observer->standingsChanged();
    }
}

void ServerCore::RemovePlayer(std::int32_t id) {
    auto entry = std::find_if(m_roster.begin(), m_roster.end(),
                              [id](const RosterEntry& e) { return e.Id == id; });
    if (entry == m_roster.end()) {
        return;
    }
    const std::string name = entry->Name;
    m_roster.erase(entry);

    auto row = std::find_if(m_standings.begin(), m_standings.end(),
                            [id](const StandingsRow& r) { return numberValue(r.IdText) == id; });
    bool fighterLeft = false;
    if (row != m_standings.end()) {
        fighterLeft = row - m_standings.begin() < 2;
        m_standings.erase(row);
    }
    BroadcastStandings();
    send(encode(MsgPlayerLeft{id}));

    // Its pattern would otherwise be handed to everybody for the rest of the run.
    const std::string idText = toIdText(id);
    std::erase_if(m_patterns, [&](const PatternEntry& p) { return p.PlayerId == idText; });

    // The fight lost a fighter: every client ends it and shows the next
    // pairing, rather than the survivor playing on alone on a board whose
    // number has changed. No win or loss is recorded.
    if (fighterLeft && !m_standings.empty()) {
        send(encode(MsgGameOver{}));
    }
    if (m_observer) {
        m_observer->playerLeft(id, name);
        m_observer->standingsChanged();
    }
}

void ServerCore::BroadcastStandings() {
    MsgStandings message;
    message.Rows.reserve(m_standings.size());
    for (const StandingsRow& row : m_standings) {
        message.Rows.push_back(
            {NumberField(row.IdText), NumberField(row.Wins), NumberField(row.Losses)});
    }
    send(encode(message));
}

void ServerCore::Kick(std::int32_t id) {
    if (!m_hosting || !inRoster(id)) {
        return;
    }
    RemovePlayer(id);
    // The departure went out first, so the kicked client hears of it too.
    m_transport.closePlayer(id);
}

void ServerCore::CloseSession() {
    if (!m_hosting) {
        return;
    }
    m_hosting = false;
    m_transport.close();
}

std::size_t ServerCore::RosterSizeWith(const std::string& name) const {
    // The type byte and the i16 last index, then an i32 and a string per player.
    constexpr std::size_t Head = 1 + 2;
    constexpr std::size_t PerEntry = 4 + 4;
    std::size_t size = Head + PerEntry + name.size();
    for (const RosterEntry& e : m_roster) {
        size += PerEntry + e.Name.size();
    }
    return size;
}

int ServerCore::boardOf(std::int32_t id) const {
    for (std::size_t i = 0; i < m_standings.size() && i < 2; ++i) {
        if (numberValue(m_standings[i].IdText) == id) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

void ServerCore::OnChat(ByteView bytes) {
    // A decoded message encodes back to the very bytes that came, so the
    // line is passed on as it arrived.
    m_transport.sendToAll(bytes);
}

void ServerCore::OnPlayerLeft(std::int32_t sender, const MsgPlayerLeft& message) {
    // A player may only take itself out of the session.
    if (message.Id != sender) {
        return;
    }
    RemovePlayer(sender);
    m_transport.closePlayer(sender);
}

void ServerCore::OnAttackPattern(std::int32_t sender, const MsgAttackPattern& message) {
    const std::string idText = toIdText(sender);
    AttackPattern cells = patternFromFields(message.Cells);
    auto entry =
        std::find_if(m_patterns.begin(), m_patterns.end(),
                     [sender](const PatternEntry& p) { return numberValue(p.PlayerId) == sender; });
    if (entry == m_patterns.end()) {
        m_patterns.push_back({idText, cells});
    } else if (entry->PlayerId == idText && entry->Cells == cells) {
        // Every client sends its pattern again after each change of the queue;
        // answering an unchanged one with the whole set would only multiply traffic.
        return;
    } else {
        entry->PlayerId = idText;
        entry->Cells = cells;
    }
    send(encode(MsgAttackPatternToAll::fromEntries(m_patterns)));
}

void ServerCore::OnBoardState(std::int32_t sender, std::int64_t boardNumber, ByteView bytes) {
    const int board = boardOf(sender);
    if (board == 0 || boardNumber != board) {
        return;
    }
    // The mirror is the snapshot's bytes as they came (texts, raw shapes and
    // occupied bytes included), which are also the copy every player gets.
    m_boardMirror[static_cast<std::size_t>(board - 1)].assign(bytes.begin(), bytes.end());
    m_transport.sendToAll(bytes);
}

std::array<std::optional<MsgBoardState>, 2> ServerCore::BoardMirror() const {
    std::array<std::optional<MsgBoardState>, 2> boards;
    for (std::size_t i = 0; i < boards.size(); ++i) {
        // Only snapshots that passed the same check are kept, so each decodes.
        if (auto decoded = decode<MsgBoardState>(m_boardMirror[i])) {
            boards[i] = std::move(decoded).value();
        }
    }
    return boards;
}

void ServerCore::OnNextPair(std::int32_t sender, const MsgNextPair& message, ByteView bytes) {
    const int board = boardOf(sender);
    if (board == 0 || message.Board.value() != board) {
        return;
    }
    m_transport.sendToAll(bytes);
}

void ServerCore::OnCounterAttack(std::int32_t sender, const MsgCounterAttack& message) {
    if (boardOf(sender) == 0) {
        return;
    }
    send(encode(MsgCounterAttackToAll::relay(sender, message)));
}

void ServerCore::OnStats(std::int32_t sender, const MsgStats& message, ByteView bytes) {
    const int board = boardOf(sender);
    if (board == 0 || message.Board.value() != board) {
        return;
    }
    m_transport.sendToAll(bytes);
}

void ServerCore::OnGameOver(std::int32_t sender) {
    // Only a fighter can lose, and a fight needs two.
    const int board = boardOf(sender);
    if (board == 0 || m_standings.size() < 2) {
        return;
    }
    const std::size_t loser = static_cast<std::size_t>(board - 1);
    const std::size_t winner = 1 - loser;
    StandingsRow& lost = m_standings[loser];
    StandingsRow& won = m_standings[winner];
    lost.Losses = toIdText(numberValue(lost.Losses) + 1);
    won.Wins = toIdText(numberValue(won.Wins) + 1);
    const std::int32_t winnerId = numberValue32(won.IdText);
    const std::string winnerName = won.Name;
    const std::int32_t loserId = numberValue32(lost.IdText);
    const std::string loserName = lost.Name;

    // The loser goes to the back; everybody else keeps their order.
    StandingsRow moved = lost;
    m_standings.erase(m_standings.begin() + static_cast<std::ptrdiff_t>(loser));
    m_standings.push_back(std::move(moved));

    // Clients must see the new pairing before they handle the end of the fight.
    BroadcastStandings();
    send(encode(MsgGameOver{}));
    if (m_observer) {
        m_observer->fightResult(winnerId, winnerName, loserId, loserName);
        m_observer->standingsChanged();
    }
}

void ServerCore::OnReady(std::int32_t sender) {
    send(encode(MsgReadyToAll::relay(sender)));
}

bool ServerCore::inRoster(std::int32_t id) const {
    return std::any_of(m_roster.begin(), m_roster.end(),
                       [id](const RosterEntry& e) { return e.Id == id; });
}

void ServerCore::send(const Bytes& message) {
    m_transport.sendToAll(ByteView(message.data(), message.size()));
}

} // namespace gemvolt::server
