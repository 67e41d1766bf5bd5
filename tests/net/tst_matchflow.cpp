// The course from one fight to the next on headless clients driven by a
// hand-moved clock: the Ready button, the marks, the count-down, the
// standings rule, the end of a fight, and leaving.

#include "Client/net/HeadlessClient.h"
#include "Client/net/ManualTicker.h"
#include "Client/net/QtTicker.h"
#include "tests/net/NetTestKit.h"
#include "tests/support/FakeSessionDialogs.h"
#include "tests/support/RecordingPorts.h"
#include "tests/support/RecordingSender.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

using namespace gemvolt;
using namespace gemvolt::testing;
using common::GemBlue;
using common::GemGreen;
using common::GemRed;
using common::GemYellow;
using net::ClientTimer;

namespace {

constexpr std::int32_t Alice = 7, Bob = 9, Carol = 12, Dave = 15;

/** A headless client with a manual clock, fed server messages by hand. */
struct Client {
    FakeSessionDialogs dialogs;
    RecordingPorts ports;
    RecordingSender sender;
    net::ManualTicker* clock = nullptr;
    std::unique_ptr<net::HeadlessClient> client;

    explicit Client(std::int32_t local) {
        auto ticker = std::make_unique<net::ManualTicker>();
        clock = ticker.get();
        client = std::make_unique<net::HeadlessClient>(dialogs, std::move(ticker));
        client->setPorts({&ports, &ports, &ports, &ports, &dialogs});
        client->handlers().setSender(&sender);
        client->handlers().SessionConnected(local);
        client->chatLog().clear();
    }
    battle::GameCore& core() { return client->core(); }
    net::MatchFlow& flow() { return client->matchFlow(); }
    template <class M> void feed(const M& message) {
        const common::Bytes b = common::encode(message);
        QVERIFY(client->handlers().Receive(common::ByteView(b.data(), b.size())));
    }
    void advance(int ms) { clock->advance(ms); }
    bool active(ClientTimer t) const { return clock->isActive(t); }
    int readySent() const { return int(sender.of<common::MsgReady>().size()); }
};

void join(Client& c, std::vector<std::pair<std::int32_t, std::string>> players,
          std::vector<StandingRow> rows) {
    c.feed(roster(std::move(players)));
    c.feed(standings(std::move(rows)));
}

void aliceBobCarol(Client& c) {
    join(c, {{Alice, "Alice"}, {Bob, "Bob"}, {Carol, "Carol"}}, {{Alice}, {Bob}, {Carol}});
}

/** Both fighters ready and three seconds on: the fight has started. */
void startFight(Client& c) {
    c.feed(ready(Alice));
    c.feed(ready(Bob));
    c.advance(3000);
}

} // namespace

class TestMatchFlow : public QObject {
    Q_OBJECT
private slots:
    void readyButtonRules();
    void marksInEitherOrderStartTheCount();
    void repeatedReadyPutsTheCountBack();
    void nameWithEqualsSignCanBeReady();
    void countDownStartsTheFightOnEveryClient();
    void countDownWithoutNumberOnlyStops();
    void marksDuringAFightDoNotCount();
    void newPairingClearsTheMarks();
    void standingsShowThePanelToTheNextFighters();
    void departureEndsTheFightOnEveryClient();
    void disconnectAndExit();
    void closeDuringTheExitKeepsItsInterval();
    void oldFightMessagesAfterTheGameOverAreIgnored();
    void realTimersTickAndOutliveTheirTicker();
};

void TestMatchFlow::readyButtonRules() {
    Client watcher(Carol);
    aliceBobCarol(watcher);
    watcher.client->RdyButton_Click();
    QCOMPARE(watcher.readySent(), 0);
    QCOMPARE(watcher.ports.count("box"), 0);

    Client alone(Alice);
    join(alone, {{Alice, "Alice"}}, {{Alice}});
    alone.client->RdyButton_Click();
    QCOMPARE(alone.readySent(), 0);
    QCOMPARE(alone.ports.with("box"),
             std::vector<std::string>{std::string("box ") + net::WaitForPlayersMessage});

    Client fighter(Bob);
    aliceBobCarol(fighter);
    fighter.client->RdyButton_Click();
    fighter.client->RdyButton_Click();
    QCOMPARE(fighter.readySent(), 2);
    // The own mark waits for the server's relay.
    QCOMPARE(fighter.core().lblP2Ready(), std::string("Bob - Ready = No"));
    QVERIFY(!fighter.flow().P2Ready());
}

void TestMatchFlow::marksInEitherOrderStartTheCount() {
    Client first(Carol), second(Carol);
    aliceBobCarol(first);
    aliceBobCarol(second);

    first.feed(ready(Alice));
    QCOMPARE(first.core().lblP1Ready(), std::string("Alice - Ready = Yes"));
    QVERIFY(!first.active(ClientTimer::CountDown));
    first.feed(ready(Bob));

    second.feed(ready(Bob));
    QCOMPARE(second.core().lblP2Ready(), std::string("Bob - Ready = Yes"));
    QVERIFY(!second.active(ClientTimer::CountDown));
    second.feed(ready(Alice));

    for (Client* c : {&first, &second}) {
        QCOMPARE(c->core().lblCountIn(), std::string("3"));
        QVERIFY(c->core().tmrCountDown());
        QVERIFY(c->active(ClientTimer::CountDown));
    }
    QVERIFY(first.core().nextFightPanel() == second.core().nextFightPanel());

    // A player on neither board marks nothing.
    Client third(Carol);
    aliceBobCarol(third);
    const battle::NextFightPanel before = third.core().nextFightPanel();
    third.feed(ready(Carol));
    third.feed(ready(4242));
    QVERIFY(third.core().nextFightPanel() == before);
}

void TestMatchFlow::repeatedReadyPutsTheCountBack() {
    Client c(Alice);
    aliceBobCarol(c);
    c.feed(ready(Alice));
    c.feed(ready(Bob));
    c.advance(1000);
    QCOMPARE(c.core().lblCountIn(), std::string("2"));
    c.feed(ready(Bob));
    QCOMPARE(c.core().lblCountIn(), std::string("3"));
    c.advance(2000);
    QCOMPARE(c.core().lblCountIn(), std::string("1"));
    QVERIFY(!c.flow().FightRunning());
    c.advance(1000);
    QVERIFY(c.flow().FightRunning());
}

void TestMatchFlow::nameWithEqualsSignCanBeReady() {
    Client c(Carol);
    join(c, {{Alice, "A=B"}, {Bob, "=x="}, {Carol, "Carol"}}, {{Alice}, {Bob}, {Carol}});
    c.feed(ready(Bob));
    c.feed(ready(Alice));
    QCOMPARE(c.core().lblP1Ready(), std::string("A=B - Ready = Yes"));
    QCOMPARE(c.core().lblP2Ready(), std::string("=x= - Ready = Yes"));
    QCOMPARE(c.core().lblCountIn(), std::string("3"));
    c.advance(3000);
    QVERIFY(c.flow().FightRunning());
    QCOMPARE(c.core().lblPlyName(0), std::string("A=B"));
}

void TestMatchFlow::countDownStartsTheFightOnEveryClient() {
    Client alice(Alice), watcher(Carol);
    for (Client* c : {&alice, &watcher}) {
        aliceBobCarol(*c);
        c->feed(ready(Alice));
        c->feed(ready(Bob));
        c->advance(999);
        QCOMPARE(c->core().lblCountIn(), std::string("3"));
        c->advance(1);
        QCOMPARE(c->core().lblCountIn(), std::string("2"));
        c->advance(1000);
        QCOMPARE(c->core().lblCountIn(), std::string("1"));
        // The next fighter sees the panel; a watcher of three has not been shown it yet.
        QCOMPARE(c->core().frmNxtMatch(), c == &alice);
        c->advance(1000);
        QCOMPARE(c->core().lblCountIn(), std::string("0"));
        QVERIFY(!c->core().frmNxtMatch());
        QVERIFY(!c->active(ClientTimer::CountDown));
        QVERIFY(c->flow().FightRunning());
        QCOMPARE(c->core().lblPlyName(0), std::string("Alice"));
        QCOMPARE(c->core().lblPlyName(1), std::string("Bob"));
    }
    // The fighter plays and sends its board every 200 ms; the watcher does neither.
    QVERIFY(alice.active(ClientTimer::FallGems));
    QVERIFY(alice.active(ClientTimer::Update));
    QVERIFY(alice.core().PairActive());
    QVERIFY(!watcher.active(ClientTimer::FallGems));
    QVERIFY(!watcher.active(ClientTimer::Update));

    alice.sender.clear();
    alice.advance(1000);
    const auto boards = alice.sender.of<common::MsgBoardState>();
    QCOMPARE(boards.size(), std::size_t(5));
    QCOMPARE(boards.back().Board.value(), 1);
    QCOMPARE(alice.clock->ticks(ClientTimer::FallGems), 1);
    QCOMPARE(alice.core().PairR(0), board::EntryRow - 2); // fell one row
}

void TestMatchFlow::countDownWithoutNumberOnlyStops() {
    Client c(Alice);
    aliceBobCarol(c);
    c.feed(ready(Alice));
    c.feed(ready(Bob));
    c.advance(1000);
    // The server ends a fight while we count: the fill writes "N/A".
    c.feed(common::MsgGameOver{});
    QCOMPARE(c.core().lblCountIn(), std::string("N/A"));
    QVERIFY(c.active(ClientTimer::CountDown));
    const battle::NextFightPanel panel = c.core().nextFightPanel();
    c.advance(1000);
    QVERIFY(!c.active(ClientTimer::CountDown));
    QVERIFY(!c.core().tmrCountDown());
    QVERIFY(c.core().nextFightPanel() == panel);
    QVERIFY(!c.flow().FightRunning());
    QVERIFY(!c.active(ClientTimer::FallGems));
}

void TestMatchFlow::marksDuringAFightDoNotCount() {
    Client c(Bob);
    aliceBobCarol(c);
    startFight(c);
    QVERIFY(c.flow().FightRunning());
    const battle::NextFightPanel panel = c.core().nextFightPanel();
    c.feed(ready(Alice));
    c.feed(ready(Bob));
    QVERIFY(!c.active(ClientTimer::CountDown));
    QVERIFY(c.core().nextFightPanel() == panel);
    c.advance(5000);
    QCOMPARE(c.core().FightBoard(), 2);

    // The fill clears the marks: one player's mark alone starts nothing.
    c.feed(standings({{Alice, 1, 0}, {Carol}, {Bob, 0, 1}}));
    c.feed(common::MsgGameOver{});
    QVERIFY(!c.flow().FightRunning());
    QVERIFY(!c.flow().P1Ready() && !c.flow().P2Ready());
    QCOMPARE(c.core().lblP1Ready(), std::string("Alice - Ready = No"));
    QCOMPARE(c.core().lblP2Ready(), std::string("Carol - Ready = No"));
    c.feed(ready(Alice));
    QVERIFY(!c.active(ClientTimer::CountDown));
    QCOMPARE(c.core().lblCountIn(), std::string("N/A"));
    c.feed(ready(Carol));
    QCOMPARE(c.core().lblCountIn(), std::string("3"));
}

void TestMatchFlow::newPairingClearsTheMarks() {
    Client c(Alice);
    aliceBobCarol(c);
    c.feed(ready(Bob));
    c.feed(ready(Alice));
    QCOMPARE(c.core().lblCountIn(), std::string("3"));
    // Bob leaves during the count: Carol moves up and has not declared herself.
    c.feed(standings({{Alice}, {Carol}}));
    QVERIFY(!c.flow().P1Ready() && !c.flow().P2Ready());
    QVERIFY(!c.active(ClientTimer::CountDown));
    QCOMPARE(c.core().lblNxtMatch(), std::string("The Next Fight Will Be: Alice Vs Carol"));
    QCOMPARE(c.core().lblP1Ready(), std::string("Alice - Ready = No"));
    QCOMPARE(c.core().lblP2Ready(), std::string("Carol - Ready = No"));
    c.advance(5000);
    QVERIFY(!c.flow().FightRunning());
    c.feed(ready(Carol));
    QVERIFY(!c.active(ClientTimer::CountDown));

    // A table that keeps the pairing keeps the marks.
    c.feed(standings({{Alice}, {Carol}, {Dave}}));
    QVERIFY(c.flow().P2Ready());
    QCOMPARE(c.core().lblP2Ready(), std::string("Carol - Ready = Yes"));
}

void TestMatchFlow::standingsShowThePanelToTheNextFighters() {
    // Carol joins after Bob, who had beaten Alice, left: neither of the two
    // has "0" losses and a fresh pair, yet Carol must see her Ready button.
    Client carol(Carol);
    join(carol, {{Alice, "Alice"}, {Carol, "Carol"}}, {{Alice, 0, 1}, {Carol}});
    QVERIFY(carol.core().frmNxtMatch());
    QCOMPARE(carol.core().lblNxtMatch(), std::string("The Next Fight Will Be: Alice Vs Carol"));
    QCOMPARE(carol.core().lblP1Ready(), std::string("Alice - Ready = No"));
    QCOMPARE(carol.core().lblP2Ready(), std::string("Carol - Ready = No"));

    // A watcher of a long queue is left alone.
    Client dave(Dave);
    join(dave, {{Alice, "Alice"}, {Bob, "Bob"}, {Carol, "Carol"}, {Dave, "Dave"}},
         {{Alice, 2, 0}, {Bob, 0, 1}, {Carol}, {Dave}});
    QVERIFY(!dave.core().frmNxtMatch());
    QCOMPARE(dave.core().lblNxtMatch(),
             std::string("The Next Fight will be: <Player1> Vs <Player2>"));

    // The first two fresh players see the panel; a lone player too, with the
    // texts it started with until an opponent arrives.
    Client lone(Alice);
    join(lone, {{Alice, "Alice"}}, {{Alice}});
    battle::NextFightPanel fresh;
    fresh.frmNxtMatch = true;
    QVERIFY(lone.core().nextFightPanel() == fresh);
    join(lone, {{Alice, "Alice"}, {Bob, "Bob"}}, {{Alice}, {Bob}});
    QCOMPARE(lone.core().lblNxtMatch(), std::string("The Next Fight Will Be: Alice Vs Bob"));

    // During a fight the rule leaves the panel hidden.
    Client alice(Alice);
    aliceBobCarol(alice);
    startFight(alice);
    QVERIFY(!alice.core().frmNxtMatch());
    alice.feed(standings({{Alice}, {Bob}, {Carol}, {Dave}}));
    QVERIFY(!alice.core().frmNxtMatch());
    QVERIFY(alice.active(ClientTimer::FallGems));
}

void TestMatchFlow::departureEndsTheFightOnEveryClient() {
    Client alice(Alice), carol(Carol), dave(Dave);
    std::vector<Client*> all{&alice, &carol, &dave};
    for (Client* c : all) {
        join(*c, {{Alice, "Alice"}, {Bob, "Bob"}, {Carol, "Carol"}, {Dave, "Dave"}},
             {{Alice}, {Bob}, {Carol}, {Dave}});
        startFight(*c);
        QVERIFY(c->flow().FightRunning());
    }
    alice.advance(2000);
    QVERIFY(alice.core().playerTable().rowCount() == 4);

    // Bob's connection ends: the server's standings, departure and end of fight.
    for (Client* c : all) {
        c->feed(standings({{Alice}, {Carol}, {Dave}}));
        c->feed(common::MsgPlayerLeft{Bob});
        c->feed(common::MsgGameOver{});
    }
    for (Client* c : all) {
        QVERIFY(!c->flow().FightRunning());
        QVERIFY(!c->active(ClientTimer::FallGems));
        QVERIFY(!c->active(ClientTimer::Update));
        QVERIFY(c->core().frmNxtMatch());
        QCOMPARE(c->core().lblNxtMatch(), std::string("The Next Fight Will Be: Alice Vs Carol"));
        QVERIFY(c->core().nextFightPanel() == alice.core().nextFightPanel());
        for (int i = 0; i < common::BoardCells; ++i)
            QVERIFY(!c->core().boardCells(0)[static_cast<std::size_t>(i)].Occupied);
        QVERIFY(c->client->chatLog().text().contains("Bob has left\r\n"));
        QCOMPARE(c->dialogs.chatWindowShown, 1);
    }
    // The fall timer no longer moves anything, nor does a key.
    const auto before = alice.core().boardCells(0);
    alice.advance(5000);
    alice.client->KeyDown(board::KeyCodeDown);
    QCOMPARE(alice.core().boardCells(0), before);
}

void TestMatchFlow::disconnectAndExit() {
    Client c(Alice);
    aliceBobCarol(c);
    startFight(c);
    c.client->DisconnectFromServer();
    QVERIFY(!c.active(ClientTimer::FallGems));
    QVERIFY(!c.active(ClientTimer::Update));
    QCOMPARE(c.sender.of<common::MsgPlayerLeft>().size(), std::size_t(1));
    QCOMPARE(c.sender.of<common::MsgPlayerLeft>()[0].Id, Alice);

    Client e(Bob);
    aliceBobCarol(e);
    startFight(e);
    QSignalSpy finished(e.client.get(), &net::HeadlessClient::exitFinished);
    e.client->Exit();
    QVERIFY(!e.active(ClientTimer::FallGems));
    QVERIFY(e.active(ClientTimer::Update)); // the snapshots go on until the end
    QCOMPARE(e.sender.of<common::MsgPlayerLeft>()[0].Id, Bob);
    QVERIFY(e.client->chatLog().text().endsWith("\nPlease Wait While Program Exits"));
    QCOMPARE(e.dialogs.chatWindowShown, 1);
    e.advance(1499);
    QCOMPARE(finished.count(), 0);
    e.advance(1);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!e.active(ClientTimer::Exit));
    // Our own way out is no lost connection.
    QVERIFY(!e.client->chatLog().text().contains("Connection with server lost"));
}

void TestMatchFlow::closeDuringTheExitKeepsItsInterval() {
    // After Exit the ticks fall at 100, 300, 700 and 1500 ms; a close request
    // between the second and the third moves none of them.
    Client e(Alice);
    QSignalSpy finished(e.client.get(), &net::HeadlessClient::exitFinished);
    e.client->Exit();
    e.advance(350);
    QCOMPARE(e.clock->ticks(ClientTimer::Exit), 2);
    QCOMPARE(e.clock->interval(ClientTimer::Exit), 400);
    e.client->CloseRequested();
    QVERIFY(e.active(ClientTimer::Exit));
    QCOMPARE(e.clock->interval(ClientTimer::Exit), 400);
    // The close still says goodbye and shows the line again.
    QCOMPARE(e.sender.of<common::MsgPlayerLeft>().size(), std::size_t(2));
    QCOMPARE(e.client->chatLog().text().count("Please Wait While Program Exits"), 2);
    e.advance(349);
    QCOMPARE(e.clock->ticks(ClientTimer::Exit), 2);
    e.advance(1);
    QCOMPARE(e.clock->ticks(ClientTimer::Exit), 3);
    e.advance(799);
    QCOMPARE(finished.count(), 0);
    e.advance(1);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!e.active(ClientTimer::Exit));

    // A close request with no exit under way starts the timer as Exit does.
    Client c(Bob);
    QSignalSpy closed(c.client.get(), &net::HeadlessClient::exitFinished);
    c.advance(1000);
    c.client->CloseRequested();
    QCOMPARE(c.clock->interval(ClientTimer::Exit), 100);
    c.advance(1499);
    QCOMPARE(closed.count(), 0);
    c.advance(1);
    QCOMPARE(closed.count(), 1);
}

void TestMatchFlow::oldFightMessagesAfterTheGameOverAreIgnored() {
    // Alice and Carol saw the fight from its start; Dave joined while it ran.
    Client alice(Alice), dave(Dave);
    const auto players = std::vector<std::pair<std::int32_t, std::string>>{
        {Alice, "Alice"}, {Bob, "Bob"}, {Carol, "Carol"}, {Dave, "Dave"}};
    join(alice, players, {{Alice}, {Bob}, {Carol}, {Dave}});
    startFight(alice);
    join(dave, players, {{Alice}, {Bob}, {Carol}, {Dave}});
    QVERIFY(!dave.flow().FightRunning());
    // A watcher joining a running fight sees it.
    dave.feed(snapshot(1, 0, 0, GemGreen, "02"));
    QVERIFY(dave.core().Grids(0, 0, 0).Occupied);
    QCOMPARE(dave.core().lblIncoming(0), std::string("02"));

    const auto emptyBoard = [](const Client& c, int b) {
        for (const common::GemCell& cell : c.client->core().boardCells(b))
            if (cell.Occupied)
                return false;
        return true;
    };
    for (Client* c : {&alice, &dave}) {
        // Bob loses; Alice stays, Carol is next, Bob goes to the back.
        c->feed(standings({{Alice, 1, 0}, {Carol}, {Dave}, {Bob, 0, 1}}));
        c->feed(common::MsgGameOver{});
        // What both fighters sent before they heard of it, and the one pair
        // the loser's client announces after its defeat.
        c->feed(stats(1, 500, 6, 3));
        c->feed(snapshot(1, 4, 4, GemGreen, "00"));
        c->feed(stats(2, 300, 5, 2));
        c->feed(snapshot(2, 0, 0, GemRed, "04"));
        c->feed(nextPair(2, 3, GemRed, 3, GemBlue));
        c->feed(snapshot(2, 0, 1, GemRed, "04"));
        c->feed(stats(2, 310, 5, 2));
        QVERIFY(emptyBoard(*c, 0));
        QVERIFY(emptyBoard(*c, 1));
        for (int b = 0; b < 2; ++b) {
            QCOMPARE(c->core().lblCScore(b), std::string("0"));
            QCOMPARE(c->core().lblBChain(b), std::string("0"));
            QCOMPARE(c->core().lblBCombo(b), std::string("0"));
        }
    }

    // The next fight, Alice against Carol: each board shows again from its first pair on.
    for (Client* c : {&alice, &dave}) {
        c->feed(ready(Alice));
        c->feed(ready(Carol));
        c->advance(3000);
        QVERIFY(c->flow().FightRunning());
        QCOMPARE(c->core().lblIncoming(0), std::string("00"));
        QCOMPARE(c->core().lblIncoming(1), std::string("00"));
        c->feed(snapshot(2, 5, 0, GemBlue, "00"));
        QVERIFY(emptyBoard(*c, 1)); // board 2 has not started yet
        c->feed(nextPair(2, 4, GemGreen, 3, GemRed));
        c->feed(snapshot(2, 2, 0, GemBlue, "03"));
        c->feed(stats(2, 40, 2, 1));
        QVERIFY(c->core().Grids(1, 2, 0).Occupied);
        QCOMPARE(c->core().Grids(1, 2, 0).Color, GemBlue);
        QCOMPARE(c->core().lblIncoming(1), std::string("03"));
        QCOMPARE(c->core().lblCScore(1), std::string(" 40"));
    }
    // Dave watches board 1 as well, once Alice's client announces its first pair.
    dave.feed(snapshot(1, 1, 0, GemYellow, "00"));
    QVERIFY(emptyBoard(dave, 0));
    dave.feed(nextPair(1, 3, GemYellow, 4, GemBlue));
    dave.feed(snapshot(1, 1, 0, GemYellow, "01"));
    dave.feed(stats(1, 20, 1, 1));
    QVERIFY(dave.core().Grids(0, 1, 0).Occupied);
    QCOMPARE(dave.core().lblIncoming(0), std::string("01"));
    QCOMPARE(dave.core().lblCScore(0), std::string(" 20"));
}

void TestMatchFlow::realTimersTickAndOutliveTheirTicker() {
    // Kept by the ticker: a started timer ticks its handler, a stopped one is idle.
    {
        net::QtTicker ticker;
        std::vector<net::ClientTimer> ticks;
        ticker.setHandler([&](net::ClientTimer t) { ticks.push_back(t); });
        QCOMPARE(ticker.interval(net::ClientTimer::FallGems), 1000);
        QVERIFY(!ticker.isActive(net::ClientTimer::Update));
        ticker.start(net::ClientTimer::Update, 5);
        QCOMPARE(ticker.interval(net::ClientTimer::Update), 5);
        QTRY_VERIFY(ticks.size() >= 2);
        QVERIFY(std::all_of(ticks.begin(), ticks.end(),
                            [](net::ClientTimer t) { return t == net::ClientTimer::Update; }));
        ticker.stop(net::ClientTimer::Update);
        QVERIFY(!ticker.isActive(net::ClientTimer::Update));
    }

    // Owned by a window: the timers are its named children; the ticker going
    // first stops them, and the window going first leaves the ticker harmless.
    auto owner = std::make_unique<QObject>();
    auto ticker = std::make_unique<net::QtTicker>(owner.get());
    QTimer* exit = owner->findChild<QTimer*>(QStringLiteral("Timer1"));
    QVERIFY(exit);
    QCOMPARE(exit->interval(), 100);
    ticker->start(net::ClientTimer::Exit, 100);
    QVERIFY(exit->isActive());
    ticker.reset();
    QVERIFY(!exit->isActive());

    ticker = std::make_unique<net::QtTicker>(owner.get());
    ticker->start(net::ClientTimer::CountDown, 1000);
    owner.reset();
    QVERIFY(!ticker->isActive(net::ClientTimer::CountDown));
    QCOMPARE(ticker->interval(net::ClientTimer::CountDown), 0);
    ticker->start(net::ClientTimer::CountDown, 1000);
    ticker->stop(net::ClientTimer::CountDown);
}

QTEST_GUILESS_MAIN(TestMatchFlow)
#include "tst_matchflow.moc"
