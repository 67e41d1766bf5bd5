#include "Common/MessageCodec.h"

#include "Common/NumberText.h"

#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

namespace gemvolt::common {

namespace {

// ---------------------------------------------------------------- writing

class Writer {
public:
    explicit Writer(MsgType type) {
        m_position = Begin(m_bytes);
        PutRaw(m_bytes, static_cast<std::uint8_t>(type), 1, m_position);
    }

    void u8(std::uint8_t value) { PutRaw(m_bytes, value, 1, m_position); }
    void i16(std::int16_t value) { PutRaw(m_bytes, value, 2, m_position); }
    void i32(std::int32_t value) { PutRaw(m_bytes, value, 4, m_position); }
    void text(std::string_view value) { PutString(m_bytes, value, m_position); }
    void number(const NumberField& value) { text(value.text()); }

    void pattern(const PatternFields& cells) {
        for (const PatternCellField& cell : cells) {
            number(cell.Color);
            number(cell.Shape);
        }
    }

    Bytes take() { return std::move(m_bytes); }

private:
    Bytes m_bytes;
    std::size_t m_position = 0;
};

// ---------------------------------------------------------------- reading

// Smallest wire size of one repeated entry, used to refuse a count that the
// remaining bytes cannot hold before anything is reserved for it.
constexpr std::size_t StringHeader = 4;
constexpr std::size_t RosterEntryMin = 4 + StringHeader;            // i32 + name
constexpr std::size_t StandingsRowMin = 3 * StringHeader;           // id, wins, losses
constexpr std::size_t PatternMin = 2 * PatternCells * StringHeader; // 36 × (colour, shape)
constexpr std::size_t PatternEntryMin = StringHeader + PatternMin;  // owner + cells

// Reads the fields of one message in order and remembers the first failure;
// every read after a failure is refused, so a decoder can read straight on
// and check once at the end.
class Reader {
public:
    Reader(ByteView bytes, const char* message) : m_bytes(bytes), m_message(message) {}

    bool failed() const { return m_failure.has_value(); }
    std::size_t position() const { return m_position; }
    std::size_t remaining() const { return m_bytes.size() - m_position; }

    std::optional<std::int32_t> raw(int width, const char* field) {
        if (failed()) {
            return std::nullopt;
        }
        const std::size_t at = m_position;
        auto value = GetRaw(m_bytes, width, m_position);
        if (!value) {
            fail(DecodeError::Truncated, at,
                 std::string("ends inside ") + field + " (needs " + std::to_string(width) +
                     " bytes, " + std::to_string(m_bytes.size() - at) + " left)");
        }
        return value;
    }

    void u8(std::uint8_t& out, const char* field) {
        if (auto v = raw(1, field)) {
            out = static_cast<std::uint8_t>(*v);
        }
    }
    void i16(std::int16_t& out, const char* field) {
        if (auto v = raw(2, field)) {
            out = static_cast<std::int16_t>(*v);
        }
    }
    void i32(std::int32_t& out, const char* field) {
        if (auto v = raw(4, field)) {
            out = *v;
        }
    }

    void text(std::string& out, const char* field) {
        if (failed()) {
            return;
        }
        const std::size_t at = m_position;
        if (auto value = GetString(m_bytes, m_position)) {
            out = std::move(*value);
            return;
        }
        if (m_bytes.size() - at < StringHeader) {
            fail(DecodeError::Truncated, at,
                 std::string("ends inside the byte count of ") + field + " (needs 4 bytes, " +
                     std::to_string(m_bytes.size() - at) + " left)");
            return;
        }
        std::size_t countAt = at;
        const auto count = static_cast<std::uint32_t>(*GetRaw(m_bytes, 4, countAt));
        fail(DecodeError::StringPastEnd, at,
             std::string(field) + " claims " + std::to_string(count) + " bytes but only " +
                 std::to_string(m_bytes.size() - countAt) + " remain");
    }

    void number(NumberField& out, const char* field) {
        std::string value;
        text(value, field);
        if (!failed()) {
            out = NumberField(std::move(value));
        }
    }

    // A repeat count read from the message: refuses a negative one and one
    // whose entries, at `entrySize` bytes each at the very least, cannot fit
    // in what is left.
    std::optional<std::size_t> count(std::int64_t value, std::size_t entrySize, std::size_t at,
                                     const char* field) {
        if (failed()) {
            return std::nullopt;
        }
        if (value < 0) {
            fail(DecodeError::NegativeCount, at,
                 std::string(field) + " is negative (" + std::to_string(value) + ")");
            return std::nullopt;
        }
        const auto wanted = static_cast<std::uint64_t>(value);
        if (wanted > remaining() / entrySize) {
            fail(DecodeError::CountTooLarge, at,
                 std::string(field) + " of " + std::to_string(value) + " needs at least " +
                     std::to_string(entrySize) + " bytes each but only " +
                     std::to_string(remaining()) + " remain");
            return std::nullopt;
        }
        return static_cast<std::size_t>(wanted);
    }

    void pattern(PatternFields& cells) {
        for (PatternCellField& cell : cells) {
            number(cell.Color, "a pattern cell's colour");
            number(cell.Shape, "a pattern cell's shape");
        }
    }

    void fail(DecodeError error, std::size_t at, const std::string& what) {
        if (failed()) {
            return;
        }
        DecodeFailure failure;
        failure.Error = error;
        failure.Offset = at;
        failure.TypeByte = m_bytes.empty() ? -1 : m_bytes[0];
        failure.Reason = std::string(m_message) + ": " + what + " at byte " + std::to_string(at);
        m_failure = std::move(failure);
    }

    DecodeFailure takeFailure() { return std::move(*m_failure); }

private:
    ByteView m_bytes;
    const char* m_message;
    std::size_t m_position = 0;
    std::optional<DecodeFailure> m_failure;
};

// ---------------------------------------------------------------- layouts

void write(Writer& w, const MsgChat& m) {
    w.text(m.Text);
}
void read(Reader& r, MsgChat& m) {
    r.text(m.Text, "the chat text");
}

void write(Writer& w, const MsgRoster& m) {
    if (m.Entries.empty() || m.Entries.size() - 1 > std::numeric_limits<std::int16_t>::max()) {
        throw std::length_error("MsgRoster: 1 to 32768 entries");
    }
    w.i16(static_cast<std::int16_t>(m.Entries.size() - 1));
    for (const RosterEntry& e : m.Entries) {
        w.i32(e.Id);
        w.text(e.Name);
    }
}
void read(Reader& r, MsgRoster& m) {
    const std::size_t at = r.position();
    std::int16_t last = 0;
    r.i16(last, "the roster's last index");
    // The last index is the count minus one: a roster always names at least
    // the player who just joined, so -1 (no entries) is refused as well.
    if (last < 0) {
        r.fail(DecodeError::NegativeCount, at,
               "the roster's last index is negative (" + std::to_string(last) + ")");
    }
    const auto count = r.count(std::int64_t{last} + 1, RosterEntryMin, at, "the roster's size");
    if (!count) {
        return;
    }
    m.Entries.resize(*count);
    for (RosterEntry& e : m.Entries) {
        r.i32(e.Id, "a roster identifier");
        r.text(e.Name, "a roster name");
    }
}

void write(Writer& w, const MsgPlayerLeft& m) {
    w.i32(m.Id);
}
void read(Reader& r, MsgPlayerLeft& m) {
    r.i32(m.Id, "the identifier");
}

void write(Writer& w, const MsgStandings& m) {
    if (m.Rows.size() > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max())) {
        throw std::length_error("MsgStandings: at most 32767 rows");
    }
    w.i16(static_cast<std::int16_t>(m.Rows.size()));
    for (const StandingsEntry& e : m.Rows) {
        w.number(e.Id);
    }
    for (const StandingsEntry& e : m.Rows) {
        w.number(e.Wins);
    }
    for (const StandingsEntry& e : m.Rows) {
        w.number(e.Losses);
    }
}
void read(Reader& r, MsgStandings& m) {
    const std::size_t at = r.position();
    std::int16_t rows = 0;
    r.i16(rows, "the standings count");
    const auto count = r.count(rows, StandingsRowMin, at, "the standings count");
    if (!count) {
        return;
    }
    m.Rows.resize(*count);
    for (StandingsEntry& e : m.Rows) {
        r.number(e.Id, "a standings identifier");
    }
    for (StandingsEntry& e : m.Rows) {
        r.number(e.Wins, "a standings wins text");
    }
    for (StandingsEntry& e : m.Rows) {
        r.number(e.Losses, "a standings losses text");
    }
}

void write(Writer& w, const MsgAttackPattern& m) {
    w.pattern(m.Cells);
}
void read(Reader& r, MsgAttackPattern& m) {
    r.pattern(m.Cells);
}

void write(Writer& w, const MsgAttackPatternToAll& m) {
    w.text(toNumberText(static_cast<std::int64_t>(m.Entries.size())));
    for (const PatternSetEntry& e : m.Entries) {
        w.number(e.Owner);
        w.pattern(e.Cells);
    }
}
void read(Reader& r, MsgAttackPatternToAll& m) {
    const std::size_t at = r.position();
    std::string countText;
    r.text(countText, "the pattern count");
    if (r.failed()) {
        return;
    }
    // The count is rebuilt from the entries when the message is passed on,
    // so only its one usual form keeps the bytes the same.
    const std::int64_t value = numberValue(countText);
    if (countText != toNumberText(value)) {
        r.fail(DecodeError::BadCount, at,
               "the pattern count \"" + countText.substr(0, 32) + "\" is not a number text");
        return;
    }
    const auto count = r.count(value, PatternEntryMin, at, "the pattern count");
    if (!count) {
        return;
    }
    m.Entries.resize(*count);
    for (PatternSetEntry& e : m.Entries) {
        r.number(e.Owner, "a pattern owner");
        r.pattern(e.Cells);
    }
}

void write(Writer& w, const MsgBoardState& m) {
    w.number(m.Board);
    for (const BoardCellField& c : m.Cells) {
        w.number(c.Color);
        w.i16(c.Shape);
        w.u8(c.OccupiedByte);
    }
    w.text(m.Pending);
}
void read(Reader& r, MsgBoardState& m) {
    r.number(m.Board, "the board number");
    for (BoardCellField& c : m.Cells) {
        r.number(c.Color, "a cell's colour");
        r.i16(c.Shape, "a cell's shape");
        r.u8(c.OccupiedByte, "a cell's occupied byte");
    }
    r.text(m.Pending, "the pending text");
}

void write(Writer& w, const MsgNextPair& m) {
    w.number(m.Board);
    w.number(m.LowerShape);
    w.number(m.LowerColor);
    w.number(m.UpperShape);
    w.number(m.UpperColor);
}
void read(Reader& r, MsgNextPair& m) {
    r.number(m.Board, "the board number");
    r.number(m.LowerShape, "the lower shape");
    r.number(m.LowerColor, "the lower colour");
    r.number(m.UpperShape, "the upper shape");
    r.number(m.UpperColor, "the upper colour");
}

void write(Writer& w, const MsgCounterAttack& m) {
    w.number(m.Count);
}
void read(Reader& r, MsgCounterAttack& m) {
    r.number(m.Count, "the count");
}

void write(Writer& w, const MsgCounterAttackToAll& m) {
    w.number(m.Sender);
    w.number(m.Count);
}
void read(Reader& r, MsgCounterAttackToAll& m) {
    r.number(m.Sender, "the sender");
    r.number(m.Count, "the count");
}

void write(Writer& w, const MsgStats& m) {
    w.number(m.Board);
    w.number(m.Score);
    w.number(m.BestChain);
    w.number(m.BestCombo);
}
void read(Reader& r, MsgStats& m) {
    r.number(m.Board, "the board number");
    r.number(m.Score, "the score");
    r.number(m.BestChain, "the best chain");
    r.number(m.BestCombo, "the best combo");
}

void write(Writer&, const MsgGameOver&) {}
void read(Reader&, MsgGameOver&) {}

void write(Writer&, const MsgReady&) {}
void read(Reader&, MsgReady&) {}

void write(Writer& w, const MsgReadyToAll& m) {
    w.number(m.Sender);
}
void read(Reader& r, MsgReadyToAll& m) {
    r.number(m.Sender, "the sender");
}

std::string typeText(int typeByte) {
    return std::to_string(typeByte);
}

DecodeFailure failure(DecodeError error, ByteView bytes, const std::string& reason) {
    DecodeFailure f;
    f.Error = error;
    f.Offset = 0;
    f.TypeByte = bytes.empty() ? -1 : bytes[0];
    f.Reason = reason;
    return f;
}

template <class M> Bytes encodeAs(const M& message) {
    Writer w(M::Type);
    write(w, message);
    return w.take();
}

} // namespace

Bytes encode(const MsgChat& m) {
    return encodeAs(m);
}
Bytes encode(const MsgRoster& m) {
    return encodeAs(m);
}
Bytes encode(const MsgPlayerLeft& m) {
    return encodeAs(m);
}
Bytes encode(const MsgStandings& m) {
    return encodeAs(m);
}
Bytes encode(const MsgAttackPattern& m) {
    return encodeAs(m);
}
Bytes encode(const MsgAttackPatternToAll& m) {
    return encodeAs(m);
}
Bytes encode(const MsgBoardState& m) {
    return encodeAs(m);
}
Bytes encode(const MsgNextPair& m) {
    return encodeAs(m);
}
Bytes encode(const MsgCounterAttack& m) {
    return encodeAs(m);
}
Bytes encode(const MsgCounterAttackToAll& m) {
    return encodeAs(m);
}
Bytes encode(const MsgStats& m) {
    return encodeAs(m);
}
Bytes encode(const MsgGameOver& m) {
    return encodeAs(m);
}
Bytes encode(const MsgReady& m) {
    return encodeAs(m);
}
Bytes encode(const MsgReadyToAll& m) {
    return encodeAs(m);
}
Bytes encode(const AnyMessage& message) {
    return std::visit([](const auto& m) { return encodeAs(m); }, message);
}

template <class M> DecodeResult<M> decode(ByteView bytes) {
    if (bytes.empty()) {
        return failure(DecodeError::Empty, bytes, std::string(M::Name) + ": no bytes");
    }
    if (bytes[0] != static_cast<std::uint8_t>(M::Type)) {
        return failure(DecodeError::WrongType, bytes,
                       std::string(M::Name) + ": type byte " + typeText(bytes[0]) + " where " +
                           typeText(static_cast<int>(M::Type)) + " was expected");
    }
    Reader r(bytes, M::Name);
    (void)r.raw(1, "the type byte");
    M message{};
    read(r, message);
    if (!r.failed() && r.remaining() != 0) {
        r.fail(DecodeError::TrailingBytes, r.position(),
               std::to_string(r.remaining()) + " bytes left over after the last field");
    }
    if (r.failed()) {
        return r.takeFailure();
    }
    return message;
}

template DecodeResult<MsgChat> decode(ByteView);
template DecodeResult<MsgRoster> decode(ByteView);
template DecodeResult<MsgPlayerLeft> decode(ByteView);
template DecodeResult<MsgStandings> decode(ByteView);
template DecodeResult<MsgAttackPattern> decode(ByteView);
template DecodeResult<MsgAttackPatternToAll> decode(ByteView);
template DecodeResult<MsgBoardState> decode(ByteView);
template DecodeResult<MsgNextPair> decode(ByteView);
template DecodeResult<MsgCounterAttack> decode(ByteView);
template DecodeResult<MsgCounterAttackToAll> decode(ByteView);
template DecodeResult<MsgStats> decode(ByteView);
template DecodeResult<MsgGameOver> decode(ByteView);
template DecodeResult<MsgReady> decode(ByteView);
template DecodeResult<MsgReadyToAll> decode(ByteView);

namespace {

template <class M> DecodeResult<AnyMessage> decodeAny(ByteView bytes) {
    auto result = decode<M>(bytes);
    if (!result) {
        return result.failure();
    }
    return AnyMessage(std::move(result).value());
}

} // namespace

DecodeResult<AnyMessage> decodeMessage(ByteView bytes, Direction direction) {
    if (bytes.empty()) {
        return failure(DecodeError::Empty, bytes, "message: no bytes, so no type");
    }
    const bool fromServer = direction == Direction::ServerToClient;
    switch (bytes[0]) {
    case static_cast<std::uint8_t>(MsgType::Chat):
        return decodeAny<MsgChat>(bytes);
    case static_cast<std::uint8_t>(MsgType::Roster):
        if (!fromServer) {
            break;
        }
        return decodeAny<MsgRoster>(bytes);
    case static_cast<std::uint8_t>(MsgType::PlayerLeft):
        return decodeAny<MsgPlayerLeft>(bytes);
    case static_cast<std::uint8_t>(MsgType::Standings):
        if (!fromServer) {
            break;
        }
        return decodeAny<MsgStandings>(bytes);
    case static_cast<std::uint8_t>(MsgType::AttackPattern):
        return fromServer ? decodeAny<MsgAttackPatternToAll>(bytes)
                          : decodeAny<MsgAttackPattern>(bytes);
    case static_cast<std::uint8_t>(MsgType::BoardState):
        return decodeAny<MsgBoardState>(bytes);
    case static_cast<std::uint8_t>(MsgType::NextPair):
        return decodeAny<MsgNextPair>(bytes);
    case static_cast<std::uint8_t>(MsgType::CounterAttack):
        return fromServer ? decodeAny<MsgCounterAttackToAll>(bytes)
                          : decodeAny<MsgCounterAttack>(bytes);
    case static_cast<std::uint8_t>(MsgType::Stats):
        return decodeAny<MsgStats>(bytes);
    case static_cast<std::uint8_t>(MsgType::GameOver):
        return decodeAny<MsgGameOver>(bytes);
    case static_cast<std::uint8_t>(MsgType::Ready):
        return fromServer ? decodeAny<MsgReadyToAll>(bytes) : decodeAny<MsgReady>(bytes);
    default:
        return failure(DecodeError::UnknownType, bytes,
                       "message: unknown type " + typeText(bytes[0]));
    }
    return failure(DecodeError::WrongDirection, bytes,
                   "message: type " + typeText(bytes[0]) + " is never sent by a client");
}

} // namespace gemvolt::common
