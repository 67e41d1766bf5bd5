#pragma once

#include "Common/GemCell.h"
#include "Common/NumberField.h"
#include "Common/WireField.h"

#include <array>
#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace gemvolt::common {

/**
 * The message catalogue shared by the client and the server. Every message
 * starts with its type byte. A client sends only to the server; the server
 * sends only to every player. Where the two directions carry different
 * fields, the server's form is named ...ToAll.
 *
 * Numeric texts are NumberField so that a message decoded and encoded again
 * gives back exactly the bytes that arrived; the builders below make them in
 * the form each layout asks for.
 *
 * Each message struct is its whole description: the type byte (Type), the
 * way it travels (Travel) and its fields in wire order (fields()). The codec,
 * the receiving sides' dispatch and the fuzzer all work from AnyMessage at
 * the end of this file, so a new message is a struct here plus its place in
 * AnyMessage, after which the compiler names every handler still missing.
 */
enum class MsgType : std::uint8_t {
    Chat = 1,
    Roster = 2,
    PlayerLeft = 3,
    Standings = 4,
    AttackPattern = 5,
    BoardState = 6,
    NextPair = 7,
    CounterAttack = 8,
    Stats = 9,
    GameOver = 10,
    Ready = 11,
};

/** Who sends a message: a client to the server, or the server to every player. */
enum class Direction { ClientToServer, ServerToClient };

/** Which way a message form travels: one direction or both. */
enum class Travels { ClientToServer, ServerToClient, Both };

/** True when a form that travels `travel` is one that goes `direction`. */
constexpr bool travelsIn(Travels travel, Direction direction) {
    return travel == Travels::Both ||
           (travel == Travels::ClientToServer) == (direction == Direction::ClientToServer);
}

/** Type 1, both directions: a chat line, passed on unchanged. */
struct MsgChat {
    static constexpr MsgType Type = MsgType::Chat;
    static constexpr const char* Name = "MsgChat";
    static constexpr Travels Travel = Travels::Both;
    static constexpr auto fields() {
        return std::tuple{wire::text(&MsgChat::Text, "the chat text")};
    }

    std::string Text;

    friend bool operator==(const MsgChat&, const MsgChat&) = default;
};

/** One registered player in a roster. */
struct RosterEntry {
    std::int32_t Id = 0;
    std::string Name;

    static constexpr auto fields() {
        return std::tuple{wire::i32(&RosterEntry::Id, "a roster identifier"),
                          wire::text(&RosterEntry::Name, "a roster name")};
    }

    friend bool operator==(const RosterEntry&, const RosterEntry&) = default;
};

/**
 * Type 2, server to all: every registered player in join order, the newest
 * last. Travels as the last index (i16, entries − 1), so it holds 1 to 32768
 * entries; a roster with none is never sent and is rejected on receipt.
 */
struct MsgRoster {
    static constexpr MsgType Type = MsgType::Roster;
    static constexpr const char* Name = "MsgRoster";
    static constexpr Travels Travel = Travels::ServerToClient;
    static constexpr auto fields() {
        return std::tuple{
            wire::list(&MsgRoster::Entries, WireCount::LastIndexI16, "the roster's last index")};
    }

    std::vector<RosterEntry> Entries;

    friend bool operator==(const MsgRoster&, const MsgRoster&) = default;
};

/** Type 3, both directions: the identifier of the player who left. */
struct MsgPlayerLeft {
    static constexpr MsgType Type = MsgType::PlayerLeft;
    static constexpr const char* Name = "MsgPlayerLeft";
    static constexpr Travels Travel = Travels::Both;
    static constexpr auto fields() {
        return std::tuple{wire::i32(&MsgPlayerLeft::Id, "the identifier")};
    }

    std::int32_t Id = 0;

    friend bool operator==(const MsgPlayerLeft&, const MsgPlayerLeft&) = default;
};

/** One row of the fight queue. */
struct StandingsEntry {
    NumberField Id;     ///< identifier text ("7")
    NumberField Wins;   ///< plain decimal ("0")
    NumberField Losses; ///< plain decimal ("0")

    static constexpr auto fields() {
        return std::tuple{wire::number(&StandingsEntry::Id, "a standings identifier"),
                          wire::number(&StandingsEntry::Wins, "a standings wins text"),
                          wire::number(&StandingsEntry::Losses, "a standings losses text")};
    }

    friend bool operator==(const StandingsEntry&, const StandingsEntry&) = default;
};

/**
 * Type 4, server to all: the queue in order, row 0 on board 1 and row 1 on
 * board 2. On the wire the columns travel one after the other (all
 * identifiers, then all wins, then all losses), counted by an i16: 0 to
 * 32767 rows.
 */
struct MsgStandings {
    static constexpr MsgType Type = MsgType::Standings;
    static constexpr const char* Name = "MsgStandings";
    static constexpr Travels Travel = Travels::ServerToClient;
    static constexpr auto fields() {
        return std::tuple{wire::list(&MsgStandings::Rows, WireCount::I16, "the standings count",
                                     WireOrder::Columns)};
    }

    std::vector<StandingsEntry> Rows;

    friend bool operator==(const MsgStandings&, const MsgStandings&) = default;
};

/** An attack-pattern cell as it travels: colour and shape as number texts. */
struct PatternCellField {
    NumberField Color;
    NumberField Shape;

    /** Blank-signed texts of the cell's Color and Shape. */
    static PatternCellField fromGemCell(const GemCell& cell);

    static constexpr auto fields() {
        return std::tuple{wire::number(&PatternCellField::Color, "a pattern cell's colour"),
                          wire::number(&PatternCellField::Shape, "a pattern cell's shape")};
    }

    friend bool operator==(const PatternCellField&, const PatternCellField&) = default;
};

/** The 36 cells of a pattern in wire order: row 0..5 outer, column 0..5 inner. */
using PatternFields = std::array<PatternCellField, PatternCells>;

/** The wire cells of a pattern (index column + row × 6, the pattern's own order). */
PatternFields patternFields(const AttackPattern& pattern);

/**
 * A pattern from its wire cells: Color and Shape are the texts' values, every
 * cell is Occupied (a received pattern lays a gem in every cell) and
 * CellIndex is column + row × 6.
 */
AttackPattern patternFromFields(const PatternFields& cells);

/** Type 5, client to server: the sender's own attack pattern. */
struct MsgAttackPattern {
    static constexpr MsgType Type = MsgType::AttackPattern;
    static constexpr const char* Name = "MsgAttackPattern";
    static constexpr Travels Travel = Travels::ClientToServer;
    static constexpr auto fields() { return std::tuple{wire::repeat(&MsgAttackPattern::Cells)}; }

    PatternFields Cells{};

    friend bool operator==(const MsgAttackPattern&, const MsgAttackPattern&) = default;
};

/** One stored pattern with its owner, as the server hands it out. */
struct PatternSetEntry {
    NumberField Owner; ///< the owner's identifier text ("7")
    PatternFields Cells{};

    static constexpr auto fields() {
        return std::tuple{wire::number(&PatternSetEntry::Owner, "a pattern owner"),
                          wire::repeat(&PatternSetEntry::Cells)};
    }

    friend bool operator==(const PatternSetEntry&, const PatternSetEntry&) = default;
};

/**
 * Type 5, server to all: every pattern the server holds, in the order their
 * owners first sent one. The count travels as a blank-signed number text.
 */
struct MsgAttackPatternToAll {
    static constexpr MsgType Type = MsgType::AttackPattern;
    static constexpr const char* Name = "MsgAttackPatternToAll";
    static constexpr Travels Travel = Travels::ServerToClient;
    static constexpr auto fields() {
        return std::tuple{wire::list(&MsgAttackPatternToAll::Entries, WireCount::NumberText,
                                     "the pattern count")};
    }

    std::vector<PatternSetEntry> Entries;

    /** Builds the message from the server's table (owner texts as stored). */
    static MsgAttackPatternToAll fromEntries(const std::vector<PatternEntry>& entries);

    /** The table a client keeps: owner texts unchanged, every cell occupied. */
    std::vector<PatternEntry> toEntries() const;

    friend bool operator==(const MsgAttackPatternToAll&, const MsgAttackPatternToAll&) = default;
};

/**
 * A board cell as it travels. The occupied byte is kept as received, so a
 * relayed board carries the very byte its sender wrote, even one other than
 * 1 or 2; only exactly 2 means occupied.
 */
struct BoardCellField {
    NumberField Color;
    std::int16_t Shape = ShapeNone;
    std::uint8_t OccupiedByte = 1;

    /** True exactly when the occupied byte is 2. */
    bool occupied() const { return OccupiedByte == 2; }

    /** Colour as blank-signed text, the raw shape, 2 or 1 for Occupied. */
    static BoardCellField fromGemCell(const GemCell& cell);

    /** The cell with the fields' values; CellIndex is left for the caller. */
    GemCell toGemCell() const;

    static constexpr auto fields() {
        return std::tuple{wire::number(&BoardCellField::Color, "a cell's colour"),
                          wire::i16(&BoardCellField::Shape, "a cell's shape"),
                          wire::u8(&BoardCellField::OccupiedByte, "a cell's occupied byte")};
    }

    friend bool operator==(const BoardCellField&, const BoardCellField&) = default;
};

/**
 * Type 6, both directions: a snapshot of one fighter's board. The server
 * relays the decoded message as it is, so the copy every player receives is
 * byte for byte the sender's.
 */
struct MsgBoardState {
    static constexpr MsgType Type = MsgType::BoardState;
    static constexpr const char* Name = "MsgBoardState";
    static constexpr Travels Travel = Travels::Both;
    static constexpr auto fields() {
        return std::tuple{wire::number(&MsgBoardState::Board, "the board number"),
                          wire::repeat(&MsgBoardState::Cells),
                          wire::text(&MsgBoardState::Pending, "the pending text")};
    }

    NumberField Board;                              ///< 1 or 2, blank-signed
    std::array<BoardCellField, BoardCells> Cells{}; ///< row 0..14 outer, column 0..5 inner
    std::string Pending; ///< the pending-counter caption ("07"), unchanged

    /**
     * Builds the snapshot of `board` (1 or 2) from its cells, indexed
     * row × 6 + column, and the pending caption.
     */
    static MsgBoardState fromBoard(int board, const std::array<GemCell, BoardCells>& cells,
                                   std::string pending);

    friend bool operator==(const MsgBoardState&, const MsgBoardState&) = default;
};

/** Type 7, both directions: a fighter's next pair, five texts passed on unchanged. */
struct MsgNextPair {
    static constexpr MsgType Type = MsgType::NextPair;
    static constexpr const char* Name = "MsgNextPair";
    static constexpr Travels Travel = Travels::Both;
    static constexpr auto fields() {
        return std::tuple{wire::number(&MsgNextPair::Board, "the board number"),
                          wire::number(&MsgNextPair::LowerShape, "the lower shape"),
                          wire::number(&MsgNextPair::LowerColor, "the lower colour"),
                          wire::number(&MsgNextPair::UpperShape, "the upper shape"),
                          wire::number(&MsgNextPair::UpperColor, "the upper colour")};
    }

    NumberField Board;
    NumberField LowerShape;
    NumberField LowerColor;
    NumberField UpperShape;
    NumberField UpperColor;

    friend bool operator==(const MsgNextPair&, const MsgNextPair&) = default;
};

/** Type 8, client to server: the number of counter gems sent at the opponent. */
struct MsgCounterAttack {
    static constexpr MsgType Type = MsgType::CounterAttack;
    static constexpr const char* Name = "MsgCounterAttack";
    static constexpr Travels Travel = Travels::ClientToServer;
    static constexpr auto fields() {
        return std::tuple{wire::number(&MsgCounterAttack::Count, "the count")};
    }

    NumberField Count; ///< blank-signed

    friend bool operator==(const MsgCounterAttack&, const MsgCounterAttack&) = default;
};

/** Type 8, server to all: the attacker's identifier in front of the count. */
struct MsgCounterAttackToAll {
    static constexpr MsgType Type = MsgType::CounterAttack;
    static constexpr const char* Name = "MsgCounterAttackToAll";
    static constexpr Travels Travel = Travels::ServerToClient;
    static constexpr auto fields() {
        return std::tuple{wire::number(&MsgCounterAttackToAll::Sender, "the sender"),
                          wire::number(&MsgCounterAttackToAll::Count, "the count")};
    }

    NumberField Sender; ///< the attacker's identifier, blank-signed (" 7")
    NumberField Count;  ///< the count text exactly as the attacker sent it

    /** The server's relay of `received` from player `sender`. */
    static MsgCounterAttackToAll relay(std::int32_t sender, const MsgCounterAttack& received);

    friend bool operator==(const MsgCounterAttackToAll&, const MsgCounterAttackToAll&) = default;
};

/** Type 9, both directions: a fighter's figures, four texts passed on unchanged. */
struct MsgStats {
    static constexpr MsgType Type = MsgType::Stats;
    static constexpr const char* Name = "MsgStats";
    static constexpr Travels Travel = Travels::Both;
    static constexpr auto fields() {
        return std::tuple{wire::number(&MsgStats::Board, "the board number"),
                          wire::number(&MsgStats::Score, "the score"),
                          wire::number(&MsgStats::BestChain, "the best chain"),
                          wire::number(&MsgStats::BestCombo, "the best combo")};
    }

    NumberField Board;
    NumberField Score;
    NumberField BestChain;
    NumberField BestCombo;

    friend bool operator==(const MsgStats&, const MsgStats&) = default;
};

/** Type 10, both directions, no fields: from a client "I lost", from the server "the fight is
 * over". */
struct MsgGameOver {
    static constexpr MsgType Type = MsgType::GameOver;
    static constexpr const char* Name = "MsgGameOver";
    static constexpr Travels Travel = Travels::Both;
    static constexpr auto fields() { return std::tuple{}; }

    friend bool operator==(const MsgGameOver&, const MsgGameOver&) = default;
};

/** Type 11, client to server, no fields: the sender is ready. */
struct MsgReady {
    static constexpr MsgType Type = MsgType::Ready;
    static constexpr const char* Name = "MsgReady";
    static constexpr Travels Travel = Travels::ClientToServer;
    static constexpr auto fields() { return std::tuple{}; }

    friend bool operator==(const MsgReady&, const MsgReady&) = default;
};

/** Type 11, server to all: the ready player's identifier, blank-signed. */
struct MsgReadyToAll {
    static constexpr MsgType Type = MsgType::Ready;
    static constexpr const char* Name = "MsgReadyToAll";
    static constexpr Travels Travel = Travels::ServerToClient;
    static constexpr auto fields() {
        return std::tuple{wire::number(&MsgReadyToAll::Sender, "the sender")};
    }

    NumberField Sender;

    /** The server's relay of a MsgReady from player `sender`. */
    static MsgReadyToAll relay(std::int32_t sender);

    friend bool operator==(const MsgReadyToAll&, const MsgReadyToAll&) = default;
};

/** Any message of the catalogue, in either direction. */
using AnyMessage =
    std::variant<MsgChat, MsgRoster, MsgPlayerLeft, MsgStandings, MsgAttackPattern,
                 MsgAttackPatternToAll, MsgBoardState, MsgNextPair, MsgCounterAttack,
                 MsgCounterAttackToAll, MsgStats, MsgGameOver, MsgReady, MsgReadyToAll>;

namespace detail {

template <Direction D, class Rest, class Kept = std::variant<>> struct Travelling;
template <Direction D, class... Kept> struct Travelling<D, std::variant<>, std::variant<Kept...>> {
    using type = std::variant<Kept...>;
};
template <Direction D, class M, class... Rest, class... Kept>
struct Travelling<D, std::variant<M, Rest...>, std::variant<Kept...>> {
    using type =
        typename Travelling<D, std::variant<Rest...>,
                            std::conditional_t<travelsIn(M::Travel, D), std::variant<Kept..., M>,
                                               std::variant<Kept...>>>::type;
};

// Within one direction the type byte alone must say which form arrived.
template <Direction D, class... Ms> constexpr bool typesAreDistinct(std::variant<Ms...>*) {
    const MsgType types[] = {Ms::Type..., MsgType{}};
    for (std::size_t i = 0; i < sizeof...(Ms); ++i) {
        for (std::size_t j = i + 1; j < sizeof...(Ms); ++j) {
            if (types[i] == types[j]) {
                return false;
            }
        }
    }
    return true;
}

// What no handler set may accept: a handler for "anything" would swallow a
// message type that has no handler of its own.
struct NotAMessage {};

} // namespace detail

/** The forms that travel in direction D, in catalogue order. */
template <Direction D> using MessageTravelling = typename detail::Travelling<D, AnyMessage>::type;
/** Everything a client may send; what the server dispatches. */
using MessageFromClient = MessageTravelling<Direction::ClientToServer>;
/** Everything the server may send; what a client dispatches. */
using MessageFromServer = MessageTravelling<Direction::ServerToClient>;

static_assert(
    detail::typesAreDistinct<Direction::ClientToServer>(static_cast<MessageFromClient*>(nullptr)),
    "two forms a client sends share a type byte");
static_assert(
    detail::typesAreDistinct<Direction::ServerToClient>(static_cast<MessageFromServer*>(nullptr)),
    "two forms the server sends share a type byte");

/** The type byte of a message. */
MsgType messageType(const AnyMessage& message);

/** A set of handlers built from lambdas, one per message type. */
template <class... Handlers> struct MessageHandlers : Handlers... {
    using Handlers::operator()...;
};
template <class... Handlers> MessageHandlers(Handlers...) -> MessageHandlers<Handlers...>;

/**
 * Hands `message` to the handler of its type. Every form the variant can hold
 * must have a handler, and no handler may take just anything: a message type
 * added to the catalogue does not compile until each receiving side handles it.
 */
template <class Handlers, class... Ms>
void dispatch(std::variant<Ms...>&& message, Handlers&& handlers) {
    static_assert((std::is_invocable_v<Handlers&, Ms&&> && ...),
                  "a message type that arrives here has no handler");
    static_assert(!std::is_invocable_v<Handlers&, detail::NotAMessage&&>,
                  "a catch-all handler would hide a message type without one");
    std::visit(handlers, std::move(message));
}

} // namespace gemvolt::common
