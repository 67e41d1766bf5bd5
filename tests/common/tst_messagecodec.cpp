#include "Common/MessageCodec.h"

#include <QtTest>

#include <functional>

using namespace gemvolt::common;

namespace {

// Expected bytes written by hand, independently of the encoder.
struct Wire {
    Bytes bytes;
    Wire& u8(std::uint8_t v) {
        bytes.push_back(v);
        return *this;
    }
    Wire& i16(std::int16_t v) {
        const auto u = static_cast<std::uint16_t>(v);
        bytes.insert(bytes.end(), {std::uint8_t(u), std::uint8_t(u >> 8)});
        return *this;
    }
    Wire& i32(std::int32_t v) {
        const auto u = static_cast<std::uint32_t>(v);
        bytes.insert(bytes.end(), {std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16),
                                   std::uint8_t(u >> 24)});
        return *this;
    }
    Wire& s(const std::string& t) {
        i32(static_cast<std::int32_t>(t.size()));
        bytes.insert(bytes.end(), t.begin(), t.end());
        return *this;
    }
};

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

QByteArray hex(const Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size())).toHex(' ');
}

NumberField num(std::int64_t v) {
    return NumberField::number(v);
}

PatternFields samplePattern(int seed) {
    PatternFields cells{};
    for (std::size_t i = 0; i < cells.size(); ++i) {
        cells[i] = {num(seed * 100 + int(i) - 5), num(i % 3 == 0 ? ShapeCrash : ShapeNormal)};
    }
    return cells;
}

MsgBoardState sampleBoard() {
    MsgBoardState m;
    m.Board = NumberField("0120"); // not the usual form: must still come back as sent
    for (std::size_t i = 0; i < m.Cells.size(); ++i) {
        m.Cells[i] = {num(i % 2 ? GemBlue : -7), std::int16_t(i % 5 - 1), std::uint8_t(i % 4)};
    }
    m.Pending = "";
    return m;
}

// One well-formed sample of every message form, with the direction it travels.
struct Sample {
    const char* name;
    Direction direction;
    AnyMessage message;
    std::function<bool(ByteView)> decodesAlone;  // decode<M> of the sample's own type
    std::function<bool(ByteView)> conformsAlone; // conforms<M> of the sample's own type
};

template <class M> Sample sample(const char* name, Direction d, M m) {
    return {name, d, AnyMessage(m),
            [m](ByteView b) {
                auto r = decode<M>(b);
                return r.ok() && r.value() == m;
            },
            [](ByteView b) { return conforms<M>(b); }};
}

// conforms<M>() of the form with this type byte that travels in d.
template <class... Ms> bool conformsAs(ByteView b, Direction d, std::variant<Ms...>*) {
    return !b.empty() &&
           (... || (b[0] == std::uint8_t(Ms::Type) && travelsIn(Ms::Travel, d) && conforms<Ms>(b)));
}
bool conformsAs(ByteView b, Direction d) {
    return conformsAs(b, d, static_cast<AnyMessage*>(nullptr));
}

std::vector<Sample> samples() {
    const auto c2s = Direction::ClientToServer;
    const auto s2c = Direction::ServerToClient;
    MsgAttackPatternToAll patterns;
    patterns.Entries = {{NumberField::id(7), samplePattern(1)},
                        {NumberField::id(12), samplePattern(2)}};
    return {
        sample("chat", c2s, MsgChat{"Ann:>a, b\r\nc \xE2\x82\xAC"}),
        sample("chat empty", s2c, MsgChat{""}),
        sample("roster", s2c, MsgRoster{{{3, "Ann"}, {-4, ""}, {2147483647, "Bo, b"}}}),
        sample("player left", c2s, MsgPlayerLeft{-9}),
        sample("standings", s2c,
               MsgStandings{{{NumberField::id(3), NumberField("2"), NumberField("0")},
                             {NumberField::id(8), NumberField("0"), NumberField("11")}}}),
        sample("standings empty", s2c, MsgStandings{}),
        sample("pattern", c2s, MsgAttackPattern{samplePattern(3)}),
        sample("pattern set", s2c, patterns),
        sample("board", c2s, sampleBoard()),
        sample("next pair", s2c, MsgNextPair{num(2), num(4), num(GemRed), num(3), num(-1)}),
        sample("counter", c2s, MsgCounterAttack{num(-2)}),
        sample("counter relay", s2c, MsgCounterAttackToAll{num(7), NumberField("x2")}),
        sample("stats", c2s, MsgStats{num(1), num(1230), num(0), num(-3)}),
        sample("game over", c2s, MsgGameOver{}),
        sample("ready", c2s, MsgReady{}),
        sample("ready relay", s2c, MsgReadyToAll{num(12)}),
    };
}

bool isTruncation(DecodeError e) {
    return e == DecodeError::Empty || e == DecodeError::Truncated ||
           e == DecodeError::StringPastEnd || e == DecodeError::CountTooLarge;
}

} // namespace

class TestMessageCodec : public QObject {
    Q_OBJECT
private slots:
    void encodesEveryLayoutExactly() {
        const auto s2c = [](const Bytes& b) { return decodeMessage(b, Direction::ServerToClient); };
        QCOMPARE(hex(encode(MsgChat{"a,\n"})), hex(Wire().u8(1).s("a,\n").bytes));
        // A roster of one: last index 0 and one entry.
        QCOMPARE(hex(encode(MsgRoster{{{5, "Ann"}}})),
                 hex(Wire().u8(2).i16(0).i32(5).s("Ann").bytes));
        QCOMPARE(hex(encode(MsgPlayerLeft{-1})), hex(Wire().u8(3).i32(-1).bytes));
        // The three columns follow one another; no rows is count 0 and nothing else.
        QCOMPARE(
            hex(encode(MsgStandings{{{NumberField::id(4), NumberField("1"), NumberField("0")},
                                     {NumberField::id(9), NumberField("0"), NumberField("1")}}})),
            hex(Wire().u8(4).i16(2).s("4").s("9").s("1").s("0").s("0").s("1").bytes));
        QCOMPARE(hex(encode(MsgStandings{})), hex(Wire().u8(4).i16(0).bytes));

        AttackPattern pattern{};
        pattern[1] = {true, ShapeCrash, 1, GemGreen}; // column 1, row 0
        pattern[6] = {true, ShapeNormal, 6, -5};      // column 0, row 1
        Wire cells;
        for (int i = 0; i < PatternCells; ++i) {
            const GemCell& c = pattern[std::size_t(i)];
            cells.s(c.Color < 0 ? std::to_string(c.Color) : " " + std::to_string(c.Color));
            cells.s(" " + std::to_string(c.Shape));
        }
        QCOMPARE(hex(encode(MsgAttackPattern{patternFields(pattern)})), hex(cat({5}, cells.bytes)));
        const auto set = MsgAttackPatternToAll::fromEntries({{"7", pattern}});
        QCOMPARE(hex(encode(set)), hex(cat(Wire().u8(5).s(" 1").s("7").bytes, cells.bytes)));

        std::array<GemCell, BoardCells> board{};
        board[0] = {true, ShapeNormal, 0, GemRed};
        board[7] = {false, ShapeCrash, 7, -3}; // a gem that moved away leaves its fields
        Wire expected;
        expected.u8(6).s(" 2");
        for (const GemCell& c : board) {
            expected.s(c.Color < 0 ? std::to_string(c.Color) : " " + std::to_string(c.Color));
            expected.i16(c.Shape).u8(c.Occupied ? 2 : 1);
        }
        expected.s("07");
        QCOMPARE(hex(encode(MsgBoardState::fromBoard(2, board, "07"))), hex(expected.bytes));

        QCOMPARE(hex(encode(MsgNextPair{num(1), num(4), num(255), num(3), num(0)})),
                 hex(Wire().u8(7).s(" 1").s(" 4").s(" 255").s(" 3").s(" 0").bytes));
        QCOMPARE(hex(encode(MsgCounterAttack{num(-2)})), hex(Wire().u8(8).s("-2").bytes));
        QCOMPARE(hex(encode(MsgCounterAttackToAll{num(7), NumberField(" 2")})),
                 hex(Wire().u8(8).s(" 7").s(" 2").bytes));
        QCOMPARE(hex(encode(MsgStats{num(1), num(20), num(1), num(0)})),
                 hex(Wire().u8(9).s(" 1").s(" 20").s(" 1").s(" 0").bytes));
        QCOMPARE(hex(encode(MsgGameOver{})), hex(Bytes{10}));
        QCOMPARE(hex(encode(MsgReady{})), hex(Bytes{11}));
        QCOMPARE(hex(encode(MsgReadyToAll{num(3)})), hex(Wire().u8(11).s(" 3").bytes));

        // And the hand-built bytes read back as the values they were made from.
        const auto roster = s2c(Wire().u8(2).i16(0).i32(5).s("Ann").bytes);
        QVERIFY(roster.ok());
        QCOMPARE(std::get<MsgRoster>(*roster).Entries, (std::vector<RosterEntry>{{5, "Ann"}}));
        const auto readBack = decode<MsgBoardState>(expected.bytes);
        QVERIFY(readBack.ok());
        QCOMPARE(readBack->Board.value(), 2);
        QCOMPARE(readBack->Cells[0].toGemCell(), (GemCell{true, ShapeNormal, 0, GemRed}));
        QCOMPARE(readBack->Cells[7].toGemCell(), (GemCell{false, ShapeCrash, 0, -3}));
        QCOMPARE(readBack->Pending, std::string("07"));
        const auto patternBack = decode<MsgAttackPatternToAll>(encode(set));
        QVERIFY(patternBack.ok());
        const auto table = patternBack->toEntries();
        QCOMPARE(table.size(), std::size_t(1));
        QCOMPARE(table[0].PlayerId, std::string("7"));
        QCOMPARE(table[0].Cells[6].Color, -5);
        QCOMPARE(table[0].Cells[6].Shape, std::int16_t(ShapeNormal));
        QVERIFY(table[0].Cells[0].Occupied); // every received pattern cell lays a gem
    }

    void roundTripsEveryFormByteForByte() {
        for (const Sample& s : samples()) {
            const Bytes bytes = encode(s.message);
            QVERIFY2(s.decodesAlone(bytes), s.name);
            QVERIFY2(s.conformsAlone(bytes), s.name);
            const auto any = decodeMessage(bytes, s.direction);
            QVERIFY2(any.ok(), s.name);
            QCOMPARE(any->index(), s.message.index());
            QCOMPARE(messageType(*any), messageType(s.message));
            QCOMPARE(hex(encode(*any)), hex(bytes));
        }
    }

    void eachSideDecodesOnlyWhatComesToIt() {
        // The decoders each side dispatches from agree with the general one,
        // for every form in both directions: same bytes back, same rejection.
        const auto agree = [](const auto& side, const DecodeResult<AnyMessage>& general,
                              const Bytes& bytes) {
            QCOMPARE(side.ok(), general.ok());
            if (side.ok())
                QCOMPARE(hex(encode(*side)), hex(bytes));
            else
                QCOMPARE(side.error(), general.error());
        };
        for (const Sample& s : samples()) {
            const Bytes bytes = encode(s.message);
            agree(decodeFromClient(bytes), decodeMessage(bytes, Direction::ClientToServer), bytes);
            agree(decodeFromServer(bytes), decodeMessage(bytes, Direction::ServerToClient), bytes);
        }
        QCOMPARE(decodeFromClient(Wire().u8(4).i16(0).bytes).error(), DecodeError::WrongDirection);
        QCOMPARE(decodeFromServer(Bytes{11}).error(), DecodeError::Truncated);
        QCOMPARE(decodeFromServer(Bytes{12}).error(), DecodeError::UnknownType);
        QCOMPARE(decodeFromClient(Bytes{}).error(), DecodeError::Empty);
    }

    void relayedBoardKeepsEveryByte() {
        // Unusual texts and occupied bytes other than 1 and 2 pass through unchanged;
        // only exactly 2 reads as occupied.
        Bytes bytes = encode(sampleBoard());
        const auto board = decode<MsgBoardState>(bytes);
        QVERIFY(board.ok());
        QCOMPARE(board->Board.text(), std::string("0120"));
        QCOMPARE(board->Board.value(), 120);
        QCOMPARE(board->Cells[0].Color.value(), -7);
        QCOMPARE(int(board->Cells[3].OccupiedByte), 3);
        QVERIFY(!board->Cells[3].occupied());
        QVERIFY(board->Cells[2].occupied());
        QCOMPARE(hex(encode(*board)), hex(bytes));
    }

    void everyPrefixIsRejected() {
        for (const Sample& s : samples()) {
            const Bytes bytes = encode(s.message);
            for (std::size_t n = 0; n < bytes.size(); ++n) {
                const ByteView prefix(bytes.data(), n);
                const auto r = decodeMessage(prefix, s.direction);
                QVERIFY2(!r.ok(), qPrintable(QString("%1, %2 bytes").arg(s.name).arg(n)));
                QVERIFY2(isTruncation(r.error()), r.reason().c_str());
                QVERIFY(!s.decodesAlone(prefix));
                QVERIFY(!s.conformsAlone(prefix));
            }
        }
    }

    void rejectsTrailingBytes() {
        for (const Sample& s : samples()) {
            Bytes bytes = encode(s.message);
            bytes.push_back(0);
            const auto r = decodeMessage(bytes, s.direction);
            QVERIFY2(!r.ok(), s.name);
            QCOMPARE(r.error(), DecodeError::TrailingBytes);
            QCOMPARE(r.failure().Offset, bytes.size() - 1);
            QVERIFY(!s.decodesAlone(bytes));
            QVERIFY(!s.conformsAlone(bytes));
        }
    }

    void rejectsLyingLengthsAndCounts_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("error");
        const auto row = [](const char* name, const Bytes& b, Direction d, DecodeError e) {
            QTest::newRow(name) << QByteArray(reinterpret_cast<const char*>(b.data()),
                                              qsizetype(b.size()))
                                << int(d) << int(e);
        };
        const auto c2s = Direction::ClientToServer;
        const auto s2c = Direction::ServerToClient;
        row("string of 4 GiB", Wire().u8(1).i32(-1).s("abc").bytes, c2s,
            DecodeError::StringPastEnd);
        row("string one past", Wire().u8(1).i32(4).u8('a').u8('b').u8('c').bytes, c2s,
            DecodeError::StringPastEnd);
        const Bytes board = encode(sampleBoard());
        row("pending past end", cat(Bytes(board.begin(), board.end() - 4), Wire().i32(1000).bytes),
            c2s, DecodeError::StringPastEnd);
        row("roster last index -1", Wire().u8(2).i16(-1).bytes, s2c, DecodeError::NegativeCount);
        row("roster of 32768 in 20 bytes", Wire().u8(2).i16(32767).i32(1).s("abcdefgh").bytes, s2c,
            DecodeError::CountTooLarge);
        row("standings -1", Wire().u8(4).i16(-1).bytes, s2c, DecodeError::NegativeCount);
        row("standings 2 with 1 row", Wire().u8(4).i16(2).s("1").s("0").s("0").bytes, s2c,
            DecodeError::CountTooLarge);
        row("pattern count -1", Wire().u8(5).s("-1").bytes, s2c, DecodeError::NegativeCount);
        row("pattern count huge", Wire().u8(5).s(" 2000000000").bytes, s2c,
            DecodeError::CountTooLarge);
        row("pattern count unusual", Wire().u8(5).s("0").bytes, s2c, DecodeError::BadCount);
        row("empty", Bytes{}, s2c, DecodeError::Empty);
        row("type 0", Bytes{0}, s2c, DecodeError::UnknownType);
        row("type 12", Bytes{12}, s2c, DecodeError::UnknownType);
        row("roster from a client", Wire().u8(2).i16(0).i32(5).s("Ann").bytes, c2s,
            DecodeError::WrongDirection);
        row("standings from a client", Wire().u8(4).i16(0).bytes, c2s, DecodeError::WrongDirection);
        // The client forms of types 5, 8 and 11 do not pass as the server's, nor the reverse.
        row("client ready from server", Bytes{11}, s2c, DecodeError::Truncated);
        row("relayed ready from client", Wire().u8(11).s(" 3").bytes, c2s,
            DecodeError::TrailingBytes);
    }
    void rejectsLyingLengthsAndCounts() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, direction);
        QFETCH(int, error);
        const ByteView view = byteView(bytes.constData(), std::size_t(bytes.size()));
        const auto r = decodeMessage(view, Direction(direction));
        QVERIFY(!r.ok());
        QCOMPARE(decodeErrorName(r.error()), decodeErrorName(DecodeError(error)));
        QVERIFY(!r.reason().empty());
        QCOMPARE(r.failure().TypeByte, bytes.isEmpty() ? -1 : int(std::uint8_t(bytes[0])));
        QVERIFY(!conformsAs(view, Direction(direction)));
    }

    void shapeCheckReadsTheBoardNumberInPlace() {
        const Bytes bytes = encode(sampleBoard());
        const auto board = checkedNumber(bytes, &MsgBoardState::Board);
        QVERIFY(board.has_value());
        QCOMPARE(*board, std::string_view("0120"));
        QCOMPARE(static_cast<const void*>(board->data()), static_cast<const void*>(&bytes[5]));
        // Whatever decode<M>() rejects has no number: a cell cut short, a lying pending count.
        Bytes broken = bytes;
        broken[broken.size() - 4] = 1;
        QVERIFY(!checkedNumber(broken, &MsgBoardState::Board));
        QVERIFY(!checkedNumber(ByteView(bytes.data(), 400), &MsgBoardState::Board));
        // The lists of every counted form agree with the decoder on a count that fits.
        QVERIFY(conformsAs(Wire().u8(5).s(" 0").bytes, Direction::ServerToClient));
        QVERIFY(conformsAs(Wire().u8(4).i16(0).bytes, Direction::ServerToClient));
        QVERIFY(conformsAs(Wire().u8(2).i16(0).i32(1).s("").bytes, Direction::ServerToClient));
        QVERIFY(!conformsAs(Wire().u8(2).i16(1).i32(1).s("").bytes, Direction::ServerToClient));
    }

    void serverFormsPutTheSenderInFront() {
        // The count goes on exactly as the attacker wrote it; the sender is blank-signed.
        QCOMPARE(hex(encode(MsgCounterAttackToAll::relay(7, MsgCounterAttack{NumberField("03")}))),
                 hex(Wire().u8(8).s(" 7").s("03").bytes));
        QCOMPARE(hex(encode(MsgReadyToAll::relay(-2))), hex(Wire().u8(11).s("-2").bytes));
        // A roster is never empty and its last index must fit an i16.
        QVERIFY_THROWS_EXCEPTION(std::length_error, encode(MsgRoster{}));
        QVERIFY_THROWS_EXCEPTION(std::length_error,
                                 encode(MsgRoster{std::vector<RosterEntry>(32769)}));
        QCOMPARE(encode(MsgRoster{std::vector<RosterEntry>(32768)}).size(), 3 + 32768 * 8);
    }

    void typedDecoderChecksTheTypeByte() {
        const auto r =
            decode<MsgStats>(encode(MsgNextPair{num(1), num(4), num(255), num(3), num(0)}));
        QVERIFY(!r.ok());
        QCOMPARE(r.error(), DecodeError::WrongType);
        QVERIFY_THROWS_EXCEPTION(std::logic_error, r.value());
    }

    void numberTextsKeepTheirSignAndValue() {
        const auto stats =
            decode<MsgStats>(encode(MsgStats{num(2), num(-2147483647 - 1), num(0), num(-3)}));
        QVERIFY(stats.ok());
        QCOMPARE(stats->Score.text(), std::string("-2147483648"));
        QCOMPARE(stats->Score.value32(), -2147483647 - 1);
        QCOMPARE(stats->BestChain.text(), std::string(" 0"));
        QCOMPARE(stats->BestCombo.value(), -3);
        QCOMPARE(NumberField::id(42).text(), std::string("42"));
        QCOMPARE(NumberField::number(GemBlue).text(), std::string(" 16744576"));
    }
};

QTEST_GUILESS_MAIN(TestMessageCodec)
#include "tst_messagecodec.moc"
