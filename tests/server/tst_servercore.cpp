// The server core against a fake transport: hosting, the roster and queue,
// every relay, and the rules that keep a session sound.
#include "Common/MessageCodec.h"
#include "Common/NumberText.h"
#include "Server/ServerCore.h"
#include "Server/ServerObserver.h"
#include "support/FakeServerTransport.h"

#include <QTest>

#include <utility>

using namespace gemvolt;
using namespace gemvolt::common;
using server::ServerCore;
using testing::FakeServerTransport;

namespace {

template <class M> Bytes bytesOf(const M& message) {
    return encode(message);
}

ByteView view(const Bytes& bytes) {
    return ByteView(bytes.data(), bytes.size());
}

template <class M> M sentAs(const FakeServerTransport& fake, std::size_t index) {
    return std::get<M>(fake.decodedSends().at(index));
}

AttackPattern patternOf(std::int32_t color, std::int16_t shape) {
    AttackPattern p{};
    for (int i = 0; i < PatternCells; ++i) {
        p[std::size_t(i)].Color = color + i;
        p[std::size_t(i)].Shape = shape;
    }
    return p;
}

MsgAttackPattern patternMessage(std::int32_t color, std::int16_t shape) {
    return MsgAttackPattern{patternFields(patternOf(color, shape))};
}

MsgBoardState boardMessage(int board) {
    std::array<GemCell, BoardCells> cells{};
    for (int i = 0; i < BoardCells; ++i) {
        cells[std::size_t(i)].Occupied = i % 3 == 0;
        cells[std::size_t(i)].Shape = i % 2 ? ShapeCrash : ShapeNormal;
        cells[std::size_t(i)].Color = i % 5 == 0 ? -7 : GemBlue;
    }
    return MsgBoardState::fromBoard(board, cells, "07");
}

std::vector<std::string> queueIds(const ServerCore& core) {
    std::vector<std::string> ids;
    for (const auto& row : core.Standings()) {
        ids.push_back(row.IdText);
    }
    return ids;
}

// Records what the core reports, as one line per event.
class RecordingObserver : public server::ServerObserver {
public:
    void standingsChanged() override { ++changes; }
    void playerJoined(std::int32_t id, const std::string& name) override {
        lines.push_back("join " + std::to_string(id) + " " + name);
    }
    void playerLeft(std::int32_t id, const std::string& name) override {
        lines.push_back("left " + std::to_string(id) + " " + name);
    }
    void fightResult(std::int32_t w, const std::string& wn, std::int32_t l,
                     const std::string& ln) override {
        lines.push_back("result " + std::to_string(w) + " " + wn + " " + std::to_string(l) + " " +
                        ln);
    }
    std::vector<std::string> lines;
    int changes = 0;
};

// A hosted core with the server's own player created (identifier 1).
struct Session {
    Session() {
        core.setObserver(&observer);
        core.InitServer("11", 4000);
        core.OnPlayerCreated(1);
    }
    std::int32_t join(const std::string& name) {
        const std::int32_t id = next++;
        fake.names[id] = name;
        core.OnPlayerCreated(id);
        return id;
    }
    template <class M> void from(std::int32_t sender, const M& message) {
        const Bytes bytes = encode(message);
        core.OnMessage(sender, view(bytes));
    }

    FakeServerTransport fake;
    ServerCore core{fake};
    RecordingObserver observer;
    std::int32_t next = 2;
};

} // namespace

class TestServerCore : public QObject {
    Q_OBJECT
private slots:
    void hostsWithTheAnsweredLimit();
    void refusesALimitThatIsNoNumberOrOutOfRange_data();
    void refusesALimitThatIsNoNumberOrOutOfRange();
    void reportsTheTransportsHostingError();
    void firstCreatedPlayerIsTheServersOwn();
    void joinSendsRosterThenStandings();
    void removeSendsStandingsThenPlayerLeftAndUnknownIdSendsNothing();

    void fightResultRotatesTheQueue_data();
    void fightResultRotatesTheQueue();
    void threePlayersRotateTwice();
    void winsAndLossesArePlainTexts();
    void standingsGoOutBeforeGameOver();

    void patternsKeepOneEntryPerPlayer();
    void identicalPatternIsNotBroadcastAgain();

    void boardStateIsRelayedByteForByte();
    void textRelaysKeepTheirBytes();
    void counterAttackAndReadyCarryTheSender();
    void rejectedMessagesAreDropped_data();
    void rejectedMessagesAreDropped();

    void lostConnectionRemovesThePlayer();
    void playerLeftRemovesOnlyItsSender();
    void kickRemovesThenClosesAndSilences();
    void spectatorsCannotSendFightMessages();
    void fightersMustNameTheirOwnBoard();
    void fighterLeavingEndsTheFight();
    void gameOverNeedsTwoPlayers();
    void departedPlayersPatternIsRemoved();

    void closedSessionHandlesNothing();
};

void TestServerCore::hostsWithTheAnsweredLimit() {
    FakeServerTransport fake;
    ServerCore core(fake);
    const auto result = core.InitServer(std::string_view(" 11 "), 4000);
    QVERIFY(result.Hosted);
    QVERIFY(core.isHosting());
    QCOMPARE(fake.hostedLimit, 11);
    QCOMPARE(fake.hostedPort, 4000);

    // Any number is rounded to a whole one, halves to the even neighbour.
    const std::pair<const char*, int> rounded[] = {{"11.5", 12}, {"10.5", 10},       {"1.5", 2},
                                                   {"+3.49", 3}, {"10000.5", 10000}, {"1e3", 1000}};
    for (const auto& [answer, limit] : rounded) {
        FakeServerTransport other;
        QVERIFY2(ServerCore(other).InitServer(answer, 4000).Hosted, answer);
        QCOMPARE(other.hostedLimit, limit);
    }
}

void TestServerCore::refusesALimitThatIsNoNumberOrOutOfRange_data() {
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("error");
    QTest::newRow("cancelled") << true << "" << ServerCore::ErrorNotANumber;
    QTest::newRow("empty") << false << "" << ServerCore::ErrorNotANumber;
    QTest::newRow("letters") << false << "eleven" << ServerCore::ErrorNotANumber;
    QTest::newRow("not a number") << false << "nan" << ServerCore::ErrorNotANumber;
    QTest::newRow("two points") << false << "11.5.1" << ServerCore::ErrorNotANumber;
    QTest::newRow("rounds to one") << false << "1.49" << ServerCore::ErrorLimitOutOfRange;
    QTest::newRow("rounds past") << false << "10000.51" << ServerCore::ErrorLimitOutOfRange;
    QTest::newRow("trailing") << false << "11x" << ServerCore::ErrorNotANumber;
    QTest::newRow("one") << false << "1" << ServerCore::ErrorLimitOutOfRange;
    QTest::newRow("negative") << false << "-5" << ServerCore::ErrorLimitOutOfRange;
    QTest::newRow("too many") << false << "10001" << ServerCore::ErrorLimitOutOfRange;
    QTest::newRow("huge") << false << "99999999999999999999" << ServerCore::ErrorLimitOutOfRange;
}

void TestServerCore::refusesALimitThatIsNoNumberOrOutOfRange() {
    QFETCH(bool, cancelled);
    QFETCH(QString, answer);
    QFETCH(int, error);
    FakeServerTransport fake;
    ServerCore core(fake);
    const std::string text = answer.toStdString();
    const auto result =
        core.InitServer(cancelled ? std::nullopt : std::optional<std::string_view>(text), 4000);
    QVERIFY(!result.Hosted);
    QCOMPARE(result.ErrorNumber, error);
    QVERIFY(!result.Description.empty());
    QVERIFY(!core.isHosting());
    QCOMPARE(fake.hostedLimit, 0);
    // The limits themselves are fine.
    QVERIFY(core.InitServer("2", 4000).Hosted);
    FakeServerTransport other;
    QVERIFY(ServerCore(other).InitServer("10000", 4000).Hosted);
}

void TestServerCore::reportsTheTransportsHostingError() {
    FakeServerTransport fake;
    fake.failHosting(3, "Cannot listen on port 4000");
    ServerCore core(fake);
    const auto result = core.InitServer("11", 4000);
    QVERIFY(!result.Hosted);
    QCOMPARE(result.ErrorNumber, 3);
    QCOMPARE(result.Description, std::string("Cannot listen on port 4000"));
    QVERIFY(!core.isHosting());
    // Without a session, nothing is handled.
    core.OnPlayerCreated(1);
    QCOMPARE(core.HostPlayerId(), 0);
}

void TestServerCore::firstCreatedPlayerIsTheServersOwn() {
    Session s;
    QCOMPARE(s.core.HostPlayerId(), 1);
    QVERIFY(s.fake.sends.empty());
    QVERIFY(s.core.ServerRoster().empty());
    QVERIFY(s.core.Standings().empty());
}

void TestServerCore::joinSendsRosterThenStandings() {
    Session s;
    const auto a = s.join("Alice");
    QCOMPARE(s.fake.sentTypes(), (std::vector{MsgType::Roster, MsgType::Standings}));
    QCOMPARE(sentAs<MsgRoster>(s.fake, 0).Entries, (std::vector<RosterEntry>{{a, "Alice"}}));
    const auto standings = sentAs<MsgStandings>(s.fake, 1);
    QCOMPARE(standings.Rows.size(), std::size_t(1));
    QCOMPARE(standings.Rows[0].Id.text(), toIdText(a));
    QCOMPARE(standings.Rows[0].Wins.text(), std::string("0"));

    s.fake.clearSends();
    const auto b = s.join("Bob");
    QCOMPARE(sentAs<MsgRoster>(s.fake, 0).Entries,
             (std::vector<RosterEntry>{{a, "Alice"}, {b, "Bob"}}));
    QCOMPARE(s.core.Standings().back(), (server::StandingsRow{toIdText(b), "Bob", "0", "0"}));
    QCOMPARE(s.observer.lines, (std::vector<std::string>{"join 2 Alice", "join 3 Bob"}));

    // The size a join's roster will have is known before the join, to refuse one it cannot carry.
    s.fake.clearSends();
    const std::size_t predicted = s.core.RosterSizeWith("Carol, the third");
    s.join("Carol, the third");
    QCOMPARE(s.fake.sends.at(0).size(), predicted);
}

void TestServerCore::removeSendsStandingsThenPlayerLeftAndUnknownIdSendsNothing() {
    Session s;
    const auto a = s.join("Alice");
    s.fake.clearSends();
    s.core.RemovePlayer(99);
    QVERIFY(s.fake.sends.empty());

    s.core.RemovePlayer(a);
    QCOMPARE(s.fake.sentTypes(), (std::vector{MsgType::Standings, MsgType::PlayerLeft}));
    QCOMPARE(sentAs<MsgStandings>(s.fake, 0).Rows.size(), std::size_t(0));
    QCOMPARE(sentAs<MsgPlayerLeft>(s.fake, 1).Id, a);
    QVERIFY(s.core.ServerRoster().empty());
    QCOMPARE(s.observer.lines.back(), std::string("left 2 Alice"));
}

void TestServerCore::fightResultRotatesTheQueue_data() {
    QTest::addColumn<int>("loser");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("A loses") << 0 << QStringList{"B", "C", "D", "A"};
    QTest::newRow("B loses") << 1 << QStringList{"A", "C", "D", "B"};
}

void TestServerCore::fightResultRotatesTheQueue() {
    QFETCH(int, loser);
    QFETCH(QStringList, expected);
    Session s;
    std::map<std::string, std::string> nameOfId;
    std::vector<std::int32_t> ids;
    for (const char* name : {"A", "B", "C", "D"}) {
        ids.push_back(s.join(name));
        nameOfId[toIdText(ids.back())] = name;
    }
    s.from(ids[std::size_t(loser)], MsgGameOver{});
    QStringList order;
    for (const auto& id : queueIds(s.core)) {
        order << QString::fromStdString(nameOfId[id]);
    }
    QCOMPARE(order, expected);
    // The clients get the same order.
    const auto standings = sentAs<MsgStandings>(s.fake, s.fake.sends.size() - 2);
    for (std::size_t i = 0; i < standings.Rows.size(); ++i) {
        QCOMPARE(standings.Rows[i].Id.text(), s.core.Standings()[i].IdText);
    }
}

void TestServerCore::threePlayersRotateTwice() {
    Session s;
    const auto a = s.join("A");
    const auto b = s.join("B");
    const auto c = s.join("C");
    s.from(a, MsgGameOver{});
    QCOMPARE(queueIds(s.core), (std::vector{toIdText(b), toIdText(c), toIdText(a)}));
    s.from(c, MsgGameOver{});
    QCOMPARE(queueIds(s.core), (std::vector{toIdText(b), toIdText(a), toIdText(c)}));
    QCOMPARE(s.observer.lines.back(), std::string("result 3 B 4 C"));
}

void TestServerCore::winsAndLossesArePlainTexts() {
    Session s;
    const auto a = s.join("A");
    const auto b = s.join("B");
    s.from(a, MsgGameOver{}); // B wins: B, A
    s.from(a, MsgGameOver{}); // B wins again
    const auto& rows = s.core.Standings();
    QCOMPARE(rows[0], (server::StandingsRow{toIdText(b), "B", "2", "0"}));
    QCOMPARE(rows[1], (server::StandingsRow{toIdText(a), "A", "0", "2"}));
    const auto standings = sentAs<MsgStandings>(s.fake, s.fake.sends.size() - 2);
    QCOMPARE(standings.Rows[0].Wins.text(), std::string("2"));
    QCOMPARE(standings.Rows[1].Losses.text(), std::string("2"));
    QCOMPARE(standings.Rows[1].Wins.text(), std::string("0"));
}

void TestServerCore::standingsGoOutBeforeGameOver() {
    Session s;
    const auto a = s.join("A");
    s.join("B");
    s.fake.clearSends();
    s.from(a, MsgGameOver{});
    QCOMPARE(s.fake.sentTypes(), (std::vector{MsgType::Standings, MsgType::GameOver}));
}

void TestServerCore::patternsKeepOneEntryPerPlayer() {
    Session s;
    const auto a = s.join("A");
    const auto b = s.join("B");
    s.fake.clearSends();
    s.from(a, patternMessage(100, ShapeNormal));
    auto set = sentAs<MsgAttackPatternToAll>(s.fake, 0).toEntries();
    QCOMPARE(set.size(), std::size_t(1));
    QCOMPARE(set[0].PlayerId, toIdText(a));
    QCOMPARE(set[0].Cells[5].Color, 105);

    s.from(b, patternMessage(200, ShapeCrash));
    s.from(a, patternMessage(300, ShapeCrash));
    set = sentAs<MsgAttackPatternToAll>(s.fake, 2).toEntries();
    QCOMPARE(set.size(), std::size_t(2));
    QCOMPARE(set[0].PlayerId, toIdText(a)); // order of the first pattern
    QCOMPARE(set[0].Cells[0].Color, 300);
    QCOMPARE(set[0].Cells[0].Shape, std::int16_t(ShapeCrash));
    QCOMPARE(set[1].PlayerId, toIdText(b));
    QCOMPARE(set[1].Cells[35].Color, 235);
}

void TestServerCore::identicalPatternIsNotBroadcastAgain() {
    Session s;
    const auto a = s.join("A");
    s.from(a, patternMessage(100, ShapeNormal));
    s.fake.clearSends();
    s.from(a, patternMessage(100, ShapeNormal));
    QVERIFY(s.fake.sends.empty());
    // Texts that read as the same values are the same pattern.
    auto same = patternMessage(100, ShapeNormal);
    same.Cells[0].Color = NumberField("0100");
    s.from(a, same);
    QVERIFY(s.fake.sends.empty());
    s.from(a, patternMessage(101, ShapeNormal));
    QCOMPARE(s.fake.sends.size(), std::size_t(1));
}

void TestServerCore::boardStateIsRelayedByteForByte() {
    Session s;
    const auto a = s.join("A");
    const auto b = s.join("B");
    s.fake.clearSends();
    for (const auto& [sender, board] : {std::pair{a, 1}, std::pair{b, 2}}) {
        MsgBoardState message = boardMessage(board);
        message.Cells[4].OccupiedByte = 7; // not 2, so empty, but carried as it came
        message.Cells[9].Color = NumberField("-0");
        const Bytes sent = encode(message);
        s.core.OnMessage(sender, view(sent));
        QCOMPARE(s.fake.sends.back(), sent);
        QVERIFY(s.core.BoardMirror()[std::size_t(board - 1)].has_value());
        QCOMPARE(*s.core.BoardMirror()[std::size_t(board - 1)], message);
        QCOMPARE(encode(*s.core.BoardMirror()[std::size_t(board - 1)]), sent);
    }
}

void TestServerCore::textRelaysKeepTheirBytes() {
    Session s;
    const auto a = s.join("A");
    s.join("B");
    const auto c = s.join("C");
    s.fake.clearSends();
    const std::vector<Bytes> relayed = {
        encode(MsgChat{"A:>hello, world\r\nsecond line \xc3\xa9"}),
        encode(MsgChat{""}),
        encode(MsgNextPair{NumberField(" 1"), NumberField(" 4"), NumberField(" 255"),
                           NumberField(" 3"), NumberField("-1")}),
        encode(
            MsgStats{NumberField(" 1"), NumberField(" 120"), NumberField(" 3"), NumberField(" 2")}),
    };
    for (const Bytes& bytes : relayed) {
        s.core.OnMessage(a, view(bytes));
    }
    QCOMPARE(s.fake.sends, relayed);
    // A spectator chats like everybody else.
    s.fake.clearSends();
    s.core.OnMessage(c, view(relayed[0]));
    QCOMPARE(s.fake.sends, std::vector<Bytes>{relayed[0]});
}

void TestServerCore::counterAttackAndReadyCarryTheSender() {
    Session s;
    const auto a = s.join("A");
    s.join("B");
    const auto c = s.join("C");
    s.fake.clearSends();
    s.from(a, MsgCounterAttack{NumberField(" 12")});
    s.from(c, MsgReady{});
    const auto attack = sentAs<MsgCounterAttackToAll>(s.fake, 0);
    QCOMPARE(attack.Sender.text(), " " + std::to_string(a));
    QCOMPARE(attack.Count.text(), std::string(" 12"));
    QCOMPARE(sentAs<MsgReadyToAll>(s.fake, 1).Sender.text(), " " + std::to_string(c));
}

void TestServerCore::rejectedMessagesAreDropped_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("unknown type") << QByteArray("\x0c", 1);
    QTest::newRow("truncated chat") << QByteArray("\x01\x05\x00\x00\x00"
                                                  "ab",
                                                  7);
    QTest::newRow("chat with trailing bytes") << QByteArray("\x01\x00\x00\x00\x00!", 6);
    QTest::newRow("roster from a client") << QByteArray::fromStdString([] {
        const Bytes b = encode(MsgRoster{{{2, "A"}}});
        return std::string(b.begin(), b.end());
    }());
    QTest::newRow("standings from a client") << QByteArray("\x04\x00\x00", 3);
    QTest::newRow("game over with a body") << QByteArray("\x0a\x00", 2);
    QTest::newRow("player left cut short") << QByteArray("\x03\x02\x00", 3);
    // The sender fights board 1, so only the snapshot's shape is at fault.
    const Bytes board = encode(boardMessage(1));
    const auto chars = [](const Bytes& b) {
        return QByteArray::fromStdString({b.begin(), b.end()});
    };
    QTest::newRow("board cut short") << chars(board).chopped(1);
    QTest::newRow("board with trailing bytes") << chars(board) + '!';
}

void TestServerCore::rejectedMessagesAreDropped() {
    QFETCH(QByteArray, bytes);
    Session s;
    const auto a = s.join("A");
    s.join("B");
    const auto before = s.core.Standings();
    s.fake.clearSends();
    s.core.OnMessage(a, byteView(bytes.constData(), std::size_t(bytes.size())));
    QVERIFY(s.fake.sends.empty());
    QVERIFY(s.fake.closed.empty());
    QCOMPARE(s.core.Standings(), before);
}

void TestServerCore::lostConnectionRemovesThePlayer() {
    Session s;
    const auto a = s.join("A");
    const auto b = s.join("B");
    const auto c = s.join("C");
    s.fake.clearSends();
    s.core.OnPlayerDestroyed(c);
    QCOMPARE(s.fake.sentTypes(), (std::vector{MsgType::Standings, MsgType::PlayerLeft}));
    QCOMPARE(queueIds(s.core), (std::vector{toIdText(a), toIdText(b)}));
    QCOMPARE(s.core.ServerRoster().size(), std::size_t(2));
    // The end of a connection that already left is no news.
    s.fake.clearSends();
    s.core.OnPlayerDestroyed(c);
    QVERIFY(s.fake.sends.empty());
}

void TestServerCore::playerLeftRemovesOnlyItsSender() {
    Session s;
    const auto a = s.join("A");
    const auto b = s.join("B");
    s.fake.clearSends();
    s.from(b, MsgPlayerLeft{a});
    QVERIFY(s.fake.sends.empty());
    QVERIFY(s.fake.closed.empty());
    QCOMPARE(s.core.ServerRoster().size(), std::size_t(2));

    s.from(b, MsgPlayerLeft{b});
    QCOMPARE(s.fake.sentTypes(),
             (std::vector{MsgType::Standings, MsgType::PlayerLeft, MsgType::GameOver}));
    QCOMPARE(queueIds(s.core), std::vector{toIdText(a)});
    QCOMPARE(s.fake.closed, std::vector{b});
    QCOMPARE(s.fake.sendsBeforeClose, std::vector<std::size_t>{3});
}

void TestServerCore::kickRemovesThenClosesAndSilences() {
    Session s;
    const auto a = s.join("A");
    const auto b = s.join("B");
    const auto c = s.join("C");
    s.fake.clearSends();
    s.core.Kick(99);
    QVERIFY(s.fake.sends.empty());
    QVERIFY(s.fake.closed.empty());

    s.core.Kick(c);
    QCOMPARE(s.fake.sentTypes(), (std::vector{MsgType::Standings, MsgType::PlayerLeft}));
    QCOMPARE(s.fake.closed, std::vector{c});
    // The kicked client is told of its own departure before its connection closes.
    QCOMPARE(s.fake.sendsBeforeClose, std::vector<std::size_t>{2});

    // Whatever it still had on the way counts for nothing.
    s.fake.clearSends();
    s.from(c, MsgChat{"C:>still here?"});
    s.from(c, MsgReady{});
    s.from(c, patternMessage(1, ShapeNormal));
    QVERIFY(s.fake.sends.empty());
    QCOMPARE(queueIds(s.core), (std::vector{toIdText(a), toIdText(b)}));
}

void TestServerCore::spectatorsCannotSendFightMessages() {
    Session s;
    const auto a = s.join("A");
    const auto b = s.join("B");
    const auto c = s.join("C");
    s.fake.clearSends();
    s.from(c, boardMessage(1));
    s.from(c, boardMessage(2));
    s.from(c, MsgNextPair{NumberField(" 1"), {}, {}, {}, {}});
    s.from(c, MsgCounterAttack{NumberField(" 30")});
    s.from(c, MsgStats{NumberField(" 2"), {}, {}, {}});
    s.from(c, MsgGameOver{});
    QVERIFY(s.fake.sends.empty());
    QCOMPARE(queueIds(s.core), (std::vector{toIdText(a), toIdText(b), toIdText(c)}));
    QCOMPARE(s.core.Standings()[1].Losses, std::string("0"));
    QVERIFY(!s.core.BoardMirror()[0] && !s.core.BoardMirror()[1]);
}

void TestServerCore::fightersMustNameTheirOwnBoard() {
    Session s;
    const auto a = s.join("A");
    const auto b = s.join("B");
    s.fake.clearSends();
    s.from(a, boardMessage(2));
    s.from(b, boardMessage(1));
    s.from(b, boardMessage(0));
    s.from(a, MsgNextPair{NumberField(" 2"), {}, {}, {}, {}});
    s.from(b, MsgStats{NumberField(" 1"), {}, {}, {}});
    QVERIFY(s.fake.sends.empty());
    QVERIFY(!s.core.BoardMirror()[0] && !s.core.BoardMirror()[1]);

    s.from(b, boardMessage(2));
    s.from(b, MsgNextPair{NumberField(" 2"), {}, {}, {}, {}});
    s.from(a, MsgStats{NumberField(" 1"), {}, {}, {}});
    QCOMPARE(s.fake.sentTypes(),
             (std::vector{MsgType::BoardState, MsgType::NextPair, MsgType::Stats}));
    QVERIFY(!s.core.BoardMirror()[0] && s.core.BoardMirror()[1]);
}

void TestServerCore::fighterLeavingEndsTheFight() {
    Session s;
    const auto a = s.join("A");
    const auto b = s.join("B");
    const auto c = s.join("C");
    s.from(a, MsgGameOver{}); // B, C, A with B 1-0 and A 0-1
    const auto d = s.join("D");
    s.fake.clearSends();

    // A spectator leaving ends nothing.
    s.core.OnPlayerDestroyed(d);
    QCOMPARE(s.fake.sentTypes(), (std::vector{MsgType::Standings, MsgType::PlayerLeft}));

    // A fighter leaving ends the fight without a result; the next waiting player moves up.
    s.fake.clearSends();
    s.core.OnPlayerDestroyed(c);
    QCOMPARE(s.fake.sentTypes(),
             (std::vector{MsgType::Standings, MsgType::PlayerLeft, MsgType::GameOver}));
    QCOMPARE(s.core.Standings(), (std::vector<server::StandingsRow>{{toIdText(b), "B", "1", "0"},
                                                                    {toIdText(a), "A", "0", "1"}}));

    // The last fighter leaving with one player staying ends it too.
    s.fake.clearSends();
    s.from(b, MsgPlayerLeft{b});
    QCOMPARE(s.fake.sentTypes().back(), MsgType::GameOver);
    // Nobody stays: nothing to end.
    s.fake.clearSends();
    s.core.Kick(a);
    QCOMPARE(s.fake.sentTypes(), (std::vector{MsgType::Standings, MsgType::PlayerLeft}));
}

void TestServerCore::gameOverNeedsTwoPlayers() {
    Session s;
    const auto a = s.join("A");
    s.fake.clearSends();
    s.from(a, MsgGameOver{});
    QVERIFY(s.fake.sends.empty());
    QCOMPARE(s.core.Standings()[0].Losses, std::string("0"));
}

void TestServerCore::departedPlayersPatternIsRemoved() {
    Session s;
    const auto a = s.join("A");
    const auto b = s.join("B");
    const auto c = s.join("C");
    s.from(a, patternMessage(1, ShapeNormal));
    s.from(b, patternMessage(2, ShapeNormal));
    s.from(c, patternMessage(3, ShapeNormal));
    s.core.OnPlayerDestroyed(b);
    QCOMPARE(s.core.ServerPatterns().size(), std::size_t(2));
    s.fake.clearSends();
    s.from(c, patternMessage(4, ShapeNormal));
    const auto set = sentAs<MsgAttackPatternToAll>(s.fake, 0).toEntries();
    QCOMPARE(set.size(), std::size_t(2));
    QCOMPARE(set[0].PlayerId, toIdText(a));
    QCOMPARE(set[1].PlayerId, toIdText(c));
}

void TestServerCore::closedSessionHandlesNothing() {
    Session s;
    const auto a = s.join("A");
    s.core.CloseSession();
    s.core.CloseSession();
    QCOMPARE(s.fake.closeCount, 1);
    s.fake.clearSends();
    s.from(a, MsgChat{"A:>anyone?"});
    s.core.OnPlayerDestroyed(a);
    s.join("B");
    QVERIFY(s.fake.sends.empty());
}

QTEST_GUILESS_MAIN(TestServerCore)
#include "tst_servercore.moc"
