// The client's packet handlers and builders on decoded messages, with the
// game core, the chat log and the match flow, and no network.

#include "Client/net/ChatLog.h"
#include "Client/net/HostAddress.h"
#include "Client/net/MatchFlow.h"
#include "Client/net/PacketHandlers.h"
#include "Common/MessageCodec.h"
#include "tests/net/NetTestKit.h"
#include "tests/support/FakeSessionDialogs.h"
#include "tests/support/RecordingPorts.h"
#include "tests/support/RecordingSender.h"

#include <QRegularExpression>
#include <QTest>

using namespace gemvolt;
using namespace gemvolt::testing;
using common::GemBlue;
using common::GemGreen;
using common::GemRed;

namespace {

constexpr std::int32_t Alice = 7, Bob = 9, Carol = 12;

/** A client's handlers over a fresh core, with everything recorded. */
struct Rig {
    RecordingPorts ports;
    FakeSessionDialogs window;
    battle::GameCore core;
    net::ChatLog chat;
    net::MatchFlow flow{core};
    net::PacketHandlers h{core, chat, flow};
    RecordingSender sender;

    explicit Rig(std::int32_t local) {
        board::Ports p = ports.ports();
        p.messages = &h;
        core.setPorts(p);
        h.setSender(&sender);
        h.setChatWindow(&window);
        h.SessionConnected(local);
        chat.clear();
    }

    template <class M> bool feed(const M& message) {
        const common::Bytes b = common::encode(message);
        return h.Receive(common::ByteView(b.data(), b.size()));
    }
    bool feedRaw(std::vector<std::uint8_t> bytes) {
        return h.Receive(common::ByteView(bytes.data(), bytes.size()));
    }
    /** Alice on board 1, Bob on board 2, Carol watching. */
    void threePlayers() {
        feed(roster({{Alice, "Alice"}, {Bob, "Bob"}, {Carol, "Carol"}}));
        feed(standings({{Alice}, {Bob}, {Carol}}));
        sender.clear();
        ports.clear();
    }
};

// What a client shows of the game, for "nothing changed" checks.
struct Snapshot {
    std::array<board::Board::BoardStore, 2> boards;
    std::array<board::NextGemCell, 4> next;
    std::array<std::string, 8> labels;
    battle::NextFightPanel panel;
    std::vector<std::string> table;
    std::vector<common::PatternEntry> patterns;
    QString chat;

    static Snapshot of(const Rig& r) {
        Snapshot s;
        for (int b = 0; b < 2; ++b)
            s.boards[static_cast<std::size_t>(b)] = r.core.boardCells(b);
        for (int i = 0; i < 4; ++i)
            s.next[static_cast<std::size_t>(i)] = r.core.NextGem(i);
        s.labels = {r.core.lblIncoming(0), r.core.lblIncoming(1), r.core.lblCScore(0),
                    r.core.lblCScore(1),   r.core.lblBChain(0),   r.core.lblBChain(1),
                    r.core.lblBCombo(0),   r.core.lblBCombo(1)};
        s.panel = r.core.nextFightPanel();
        for (const board::PlayerRow& row : r.core.playerTable().rows())
            s.table.push_back(row.ID + "|" + row.Name + "|" + row.Wins + "|" + row.Losses);
        s.patterns = r.core.PatternTable();
        s.chat = r.chat.text();
        return s;
    }
    bool operator==(const Snapshot&) const = default;
};

} // namespace

class TestHandlers : public QObject {
    Q_OBJECT
private slots:
    void watcherDrawsBothBoardsAndIgnoresCounters();
    void fighterNeverTakesItsOwnBoardFromTheNetwork();
    void aNewSessionShowsTheFightRunningThere();
    void pendingCounterKeepsTwoDigits();
    void strangeCounterShowsOncePerFight();
    void patternTableIsReplacedWhole();
    void rejectedMessagesChangeNothing();
    void rosterDeparturesAndNames();
    void standingsRewriteTableAndSendPatternAgain();
    void identifierComesFromTheWelcome();
    void sessionEventsBecomeChatLines();
    void chatLogDropsOldestLinesAtTheLimit();
    void buildersSendTheOwnBoardOnly();
    void hostAnswerIsTakenApart();
};

void TestHandlers::watcherDrawsBothBoardsAndIgnoresCounters() {
    Rig r(Carol);
    r.threePlayers();
    QCOMPARE(r.core.whatPlayer(), 0);

    QVERIFY(r.feed(snapshot(1, 2, 0, GemRed, "03")));
    QVERIFY(r.feed(snapshot(2, 5, 14, GemBlue, "11")));
    QVERIFY(r.core.Grids(0, 2, 0).Occupied);
    QCOMPARE(r.core.Grids(0, 2, 0).Color, GemRed);
    QVERIFY(r.core.Grids(1, 5, 14).Occupied);
    QCOMPARE(r.core.Grids(1, 5, 14).Shape, common::ShapeCrash);
    QCOMPARE(r.core.lblIncoming(0), std::string("03"));
    QCOMPARE(r.core.lblIncoming(1), std::string("11"));
    // Every cell of both boards was redrawn.
    QCOMPARE(r.ports.count("draw 0 "), common::BoardCells);
    QCOMPARE(r.ports.count("draw 1 "), common::BoardCells);

    QVERIFY(r.feed(nextPair(1, 4, GemRed, 3, GemBlue)));
    QVERIFY(r.feed(nextPair(2, 3, GemGreen, 4, GemRed)));
    QCOMPARE(r.core.NextGem(0), (board::NextGemCell{4, GemRed}));
    QCOMPARE(r.core.NextGem(1), (board::NextGemCell{3, GemBlue}));
    QCOMPARE(r.core.NextGem(2), (board::NextGemCell{3, GemGreen}));
    QCOMPARE(r.core.NextGem(3), (board::NextGemCell{4, GemRed}));

    QVERIFY(r.feed(stats(1, 120, 4, 2)));
    QVERIFY(r.feed(stats(2, 30, 3, 1)));
    // The texts are kept as they travelled (blank-signed).
    QCOMPARE(r.core.lblCScore(0), std::string(" 120"));
    QCOMPARE(r.core.lblBChain(0), std::string(" 4"));
    QCOMPARE(r.core.lblBCombo(1), std::string(" 1"));

    QVERIFY(r.feed(counter(Alice, 4)));
    QVERIFY(r.feed(counter(Bob, 4)));
    QVERIFY(r.feed(counter(4242, 4)));
    QCOMPARE(r.core.lblIncoming(0), std::string("03"));
    QCOMPARE(r.core.lblIncoming(1), std::string("11"));
    QCOMPARE(r.ports.count("box"), 0);
}

void TestHandlers::aNewSessionShowsTheFightRunningThere() {
    Rig r(Carol);
    r.threePlayers();
    QVERIFY(r.h.showsBoard(1) && r.h.showsBoard(2));
    QVERIFY(r.feed(common::MsgGameOver{}));
    QVERIFY(!r.h.showsBoard(1) && !r.h.showsBoard(2));
    // Left over from the fight that just ended.
    QVERIFY(r.feed(snapshot(1, 2, 0, GemRed, "03")));
    QVERIFY(r.feed(stats(1, 120, 4, 2)));
    QVERIFY(!r.core.Grids(0, 2, 0).Occupied);
    QCOMPARE(r.core.lblCScore(0), std::string("0"));

    // Connected anew, the client joins a fight that runs on the server.
    r.h.SessionStarting();
    r.h.SessionConnected(Carol);
    r.threePlayers();
    QVERIFY(r.h.showsBoard(1) && r.h.showsBoard(2) && !r.h.showsBoard(3));
    QVERIFY(r.feed(snapshot(1, 2, 0, GemRed, "03")));
    QVERIFY(r.feed(stats(1, 120, 4, 2)));
    QVERIFY(r.core.Grids(0, 2, 0).Occupied);
    QCOMPARE(r.core.lblIncoming(0), std::string("03"));
    QCOMPARE(r.core.lblCScore(0), std::string(" 120"));
}

void TestHandlers::fighterNeverTakesItsOwnBoardFromTheNetwork() {
    Rig r(Alice);
    r.threePlayers();
    QCOMPARE(r.core.whatPlayer(), 1);
    QVERIFY(!r.h.showsBoard(1) && r.h.showsBoard(2));
    const auto own = r.core.boardCells(0);

    QVERIFY(r.feed(snapshot(1, 0, 0, GemRed, "09")));
    QCOMPARE(r.core.boardCells(0), own);
    QCOMPARE(r.core.lblIncoming(0), std::string("00"));
    QVERIFY(r.feed(nextPair(1, 3, GemRed, 3, GemRed)));
    QCOMPARE(r.core.NextGem(0), board::NextGemCell{});
    QVERIFY(r.feed(stats(1, 999, 9, 9)));
    QCOMPARE(r.core.lblCScore(0), std::string("0"));

    // The opponent's board is taken.
    QVERIFY(r.feed(snapshot(2, 1, 1, GemGreen, "02")));
    QVERIFY(r.core.Grids(1, 1, 1).Occupied);
    QCOMPARE(r.core.lblIncoming(1), std::string("02"));
    QVERIFY(r.feed(stats(2, 50, 5, 1)));
    QCOMPARE(r.core.lblCScore(1), std::string(" 50"));

    // Board numbers no conforming client sends are dropped.
    const Snapshot before = Snapshot::of(r);
    QVERIFY(r.feed(snapshot(0, 1, 1, GemGreen, "02")));
    QVERIFY(r.feed(snapshot(3, 1, 1, GemGreen, "02")));
    QVERIFY(r.feed(nextPair(-1, 3, GemRed, 3, GemRed)));
    QVERIFY(r.feed(stats(7, 1, 1, 1)));
    QVERIFY(Snapshot::of(r) == before);
}

void TestHandlers::pendingCounterKeepsTwoDigits() {
    Rig bob(Bob); // board 2, attacked by Alice on board 1
    bob.threePlayers();
    QVERIFY(bob.feed(counter(Alice, 7)));
    QCOMPARE(bob.core.lblIncoming(1), std::string("07"));
    QVERIFY(bob.feed(counter(Alice, 5)));
    QCOMPARE(bob.core.lblIncoming(1), std::string("12"));
    // Our own attack relayed back does not land on us; a count that would
    // lower the counter is no attack.
    QVERIFY(bob.feed(counter(Bob, 3)));
    QVERIFY(bob.feed(counter(Alice, -4)));
    QVERIFY(bob.feed(counter(Alice, 0)));
    QCOMPARE(bob.core.lblIncoming(1), std::string("12"));
    QCOMPARE(bob.core.lblIncoming(0), std::string("00"));

    Rig alice(Alice);
    alice.threePlayers();
    QVERIFY(alice.feed(counter(Bob, 2)));
    QCOMPARE(alice.core.lblIncoming(0), std::string("02"));
    QCOMPARE(alice.core.lblIncoming(1), std::string("00"));
}

void TestHandlers::strangeCounterShowsOncePerFight() {
    Rig r(Alice);
    r.threePlayers();
    QVERIFY(r.feed(counter(Carol, 3)));
    QVERIFY(r.feed(counter(4242, 3)));
    QCOMPARE(r.ports.with("box"),
             std::vector<std::string>{std::string("box ") + net::StrangeIncomingMessage});
    QCOMPARE(r.core.lblIncoming(0), std::string("00"));

    // The next fight may report it again, once.
    QVERIFY(r.feed(ready(Alice)));
    QVERIFY(r.feed(ready(Bob)));
    for (int i = 0; i < 3; ++i)
        r.flow.CountDownTick();
    QVERIFY(r.flow.FightRunning());
    QVERIFY(r.feed(counter(Carol, 3)));
    QVERIFY(r.feed(counter(Carol, 3)));
    QCOMPARE(r.ports.count("box"), 2);
}

void TestHandlers::patternTableIsReplacedWhole() {
    Rig r(Alice);
    r.threePlayers();
    QVERIFY(r.feed(patterns({{Alice, GemRed}, {Bob, GemBlue}, {Carol, GemGreen}})));
    QCOMPARE(r.h.PatternTable().size(), std::size_t(3));
    QVERIFY(r.feed(patterns({{Bob, GemGreen}})));
    QCOMPARE(r.h.PatternTable().size(), std::size_t(1));
    QCOMPARE(r.h.PatternTable()[0].PlayerId, std::string("9"));
    for (const common::GemCell& cell : r.h.PatternTable()[0].Cells) {
        QVERIFY(cell.Occupied);
        QCOMPARE(cell.Color, GemGreen);
    }
    QVERIFY(r.feed(patterns({})));
    QVERIFY(r.h.PatternTable().empty());
}

void TestHandlers::rejectedMessagesChangeNothing() {
    Rig r(Alice);
    r.threePlayers();
    const Snapshot before = Snapshot::of(r);

    common::Bytes board = common::encode(snapshot(2, 1, 1, GemRed, "05"));
    board.resize(board.size() - 3); // cut inside the pending text
    QVERIFY(!r.h.Receive(common::ByteView(board.data(), board.size())));
    QVERIFY(!r.feedRaw({}));
    QVERIFY(!r.feedRaw({0}));
    QVERIFY(!r.feedRaw({12, 1, 2, 3}));
    QVERIFY(!r.feedRaw({11}));                  // a relayed ready carries its sender
    QVERIFY(!r.feedRaw({10, 0}));               // game over carries nothing
    QVERIFY(!r.feedRaw({2, 0xff, 0xff}));       // roster with a negative count
    QVERIFY(!r.feedRaw({4, 0xff, 0x7f, 0, 0})); // standings claiming 32767 rows
    QVERIFY(!r.feedRaw({1, 9, 0, 0, 0, 'a'}));  // chat text running past the end
    QVERIFY(Snapshot::of(r) == before);
    QVERIFY(r.sender.sent.empty());
    QCOMPARE(r.window.chatWindowShown, 0);
}

void TestHandlers::rosterDeparturesAndNames() {
    Rig r(Alice);
    QVERIFY(r.feed(roster({{Alice, "Alice"}, {Bob, "Bob"}, {Bob, "Bob again"}, {Carol, "Carol"}})));
    QCOMPARE(r.h.ClientRoster().size(), std::size_t(4));

    QVERIFY(r.feed(common::MsgPlayerLeft{Bob}));
    QCOMPARE(r.chat.text(), QString("Bob has left\r\nBob again has left\r\n"));
    QCOMPARE(r.h.ClientRoster(),
             (std::vector<common::RosterEntry>{{Alice, "Alice"}, {Carol, "Carol"}}));
    QCOMPARE(r.window.chatWindowShown, 1);

    // Somebody we never knew: no line, the roster stays.
    QVERIFY(r.feed(common::MsgPlayerLeft{4242}));
    QCOMPARE(r.h.ClientRoster().size(), std::size_t(2));
    QCOMPARE(r.chat.text(), QString("Bob has left\r\nBob again has left\r\n"));

    // A new roster replaces the old one whole.
    QVERIFY(r.feed(roster({{Carol, "Carol"}})));
    QCOMPARE(r.h.ClientRoster(), (std::vector<common::RosterEntry>{{Carol, "Carol"}}));

    QVERIFY(r.feed(common::MsgChat{"Carol:>hi"}));
    QVERIFY(r.chat.text().endsWith("Carol:>hi\r\n"));
}

void TestHandlers::standingsRewriteTableAndSendPatternAgain() {
    Rig r(Carol);
    QVERIFY(r.feed(roster({{Alice, "Alice"}, {Carol, "Carol"}})));
    QVERIFY(r.feed(standings({{Alice, 3, 1}, {42, 0, 2}, {Carol, 1, 0}})));
    const auto& t = r.core.playerTable();
    QCOMPARE(t.rowCount(), 3);
    QCOMPARE(t.listID(1), std::string("42"));
    QCOMPARE(t.listPlayerName(0), std::string("Alice"));
    QCOMPARE(t.listPlayerName(1), std::string("Player 42"));
    QCOMPARE(t.listWins(0), std::string("3"));
    QCOMPARE(t.listLosses(1), std::string("2"));
    QCOMPARE(r.core.whatPlayer(), 0);
    // The editor's Apply ran: the own pattern went out.
    QCOMPARE(r.sender.of<common::MsgAttackPattern>().size(), std::size_t(1));
    QCOMPARE(r.sender.of<common::MsgAttackPattern>()[0].Cells,
             common::patternFields(r.core.OwnPattern()));
}

void TestHandlers::identifierComesFromTheWelcome() {
    Rig r(Bob);
    QCOMPARE(r.core.LocalPlayerId(), Bob);
    // The newest roster entry is somebody else who joined at the same moment.
    QVERIFY(r.feed(roster({{Alice, "Alice"}, {Bob, "Bob"}, {Carol, "Carol"}})));
    QCOMPARE(r.core.LocalPlayerId(), Bob);
    QVERIFY(r.feed(standings({{Alice}, {Bob}, {Carol}})));
    QCOMPARE(r.core.whatPlayer(), 2);

    // A new connect forgets the old identifier until the new welcome.
    r.h.SessionStarting();
    QCOMPARE(r.core.LocalPlayerId(), 0);
    QCOMPARE(r.core.whatPlayer(), 0);
    r.h.SessionConnected(31);
    QCOMPARE(r.core.LocalPlayerId(), 31);
}

void TestHandlers::sessionEventsBecomeChatLines() {
    Rig r(Alice);
    r.h.SessionConnected(Alice);
    QCOMPARE(r.chat.text(), QString("**Connected to Chat Server**\r\n"));
    QCOMPARE(r.window.chatWindowShown, 0);

    r.chat.clear();
    r.h.SessionConnectFailed("gems.example", "Connection refused");
    QCOMPARE(r.chat.text(),
             QString("*** Could not connect to gems.example: Connection refused ***\r\n"));
    QVERIFY(!r.chat.text().contains("Connected to Chat Server"));
    QCOMPARE(r.window.chatWindowShown, 1);

    r.chat.clear();
    r.h.SessionLost();
    QCOMPARE(
        r.chat.text(),
        QString("*** Connection with server lost. Attempting to send messages may casue errors - "
                "So you should probably just quit or wait or something...***\r\n"));
}

void TestHandlers::chatLogDropsOldestLinesAtTheLimit() {
    net::ChatLog log;
    const QString line(99, QLatin1Char('x'));
    for (int i = 0; i < 400; ++i)
        log.AppendChatLine(QString::number(i) + ":" + line);
    QVERIFY(log.text().size() <= net::ChatLog::MaxChars);
    QVERIFY(log.text().size() > net::ChatLog::MaxChars - 120);
    QVERIFY(log.text().endsWith("399:" + line + "\r\n"));
    // Whole lines go: the log still starts at the beginning of a line.
    QVERIFY(QRegularExpression("^\\d+:x").match(log.text()).hasMatch());
    QVERIFY(!log.text().contains("\r\n0:"));

    // One line longer than the whole log keeps its end.
    log.AppendChatLine(QString(40000, QLatin1Char('y')) + "END");
    QCOMPARE(log.text().size(), net::ChatLog::MaxChars);
    QVERIFY(log.text().endsWith("END\r\n"));
}

void TestHandlers::buildersSendTheOwnBoardOnly() {
    Rig watcher(Carol);
    watcher.threePlayers();
    // A watcher's game has no board of its own to announce.
    watcher.core.setTimerEnabled(board::Timer::Update, true);
    watcher.core.MakeNewGems();
    watcher.core.BoardUpdateTick();
    QVERIFY(!watcher.h.SendChat(""));
    QVERIFY(watcher.sender.sent.empty());

    Rig bob(Bob);
    bob.threePlayers();
    bob.core.writeCell(1, 4, 2, common::GemCell{true, common::ShapeCrash, 0, GemBlue});
    QVERIFY(bob.feed(counter(Alice, 5)));
    bob.h.SendBoardState(2, bob.core.boardCells(1), bob.core.lblIncoming(1));
    const auto boards = bob.sender.of<common::MsgBoardState>();
    QCOMPARE(boards.size(), std::size_t(1));
    QCOMPARE(boards[0].Board.value(), 2);
    QCOMPARE(boards[0].Pending, std::string("05"));
    QCOMPARE(boards[0].Cells[2 * 6 + 4].toGemCell().Color, GemBlue);
    QVERIFY(boards[0].Cells[2 * 6 + 4].occupied());

    QVERIFY(bob.h.SendChat("Bob:>gg"));
    bob.h.SendPlayerLeft();
    QVERIFY(bob.h.SendReady());
    bob.h.SendCounterAttack(3);
    QCOMPARE(bob.sender.of<common::MsgChat>()[0].Text, std::string("Bob:>gg"));
    QCOMPARE(bob.sender.of<common::MsgPlayerLeft>()[0].Id, Bob);
    QCOMPARE(bob.sender.of<common::MsgReady>().size(), std::size_t(1));
    QCOMPARE(bob.sender.of<common::MsgCounterAttack>()[0].Count.value(), 3);
    QCOMPARE(bob.sender.undecodable, 0);

    // Without a session every send fails quietly.
    bob.h.setSender(nullptr);
    QVERIFY(!bob.h.SendReady());
    bob.h.SendPlayerLeft();
}

void TestHandlers::hostAnswerIsTakenApart() {
    using net::HostAddress;
    auto check = [](const char* answer, const char* host, int port, bool valid) {
        const HostAddress a = HostAddress::parse(answer);
        QCOMPARE(a.Valid, valid);
        if (valid) {
            QCOMPARE(a.Host, QString(host));
            QCOMPARE(int(a.Port), port);
        }
    };
    check("127.0.0.1", "127.0.0.1", 4000, true);
    check("gems.lan:4100", "gems.lan", 4100, true);
    check(" gems.lan ", "gems.lan", 4000, true);
    check("::1", "::1", 4000, true);
    check("fe80::1:2", "fe80::1:2", 4000, true);
    check("[::1]", "::1", 4000, true);
    check("[::1]:4555", "::1", 4555, true);
    check("gems.lan:", "", 0, false);
    check("gems.lan:0", "", 0, false);
    check("gems.lan:70000", "", 0, false);
    check("gems.lan:x", "", 0, false);
    check("[::1]x", "", 0, false);
    check("[::1", "", 0, false);
    check(":4000", "", 0, false);
}

QTEST_GUILESS_MAIN(TestHandlers)
#include "tst_handlers.moc"
