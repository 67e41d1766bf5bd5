// Headless clients on real sockets against the real server core on
// 127.0.0.1: connecting, the prompts and their errors, leaving, and whole
// fights from Ready to the next pairing. Timers run on each client's own
// hand-moved clock; only the sockets are waited for.

#include "Client/net/HeadlessClient.h"
#include "Client/net/ManualTicker.h"
#include "Common/transport/SessionServer.h"
#include "Common/transport/WireFormat.h"
#include "Server/ServerCore.h"
#include "Server/SessionPort.h"
#include "tests/support/FakeSessionDialogs.h"
#include "tests/support/FaultProxy.h"
#include "tests/support/RecordingPorts.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <memory>

using namespace gemvolt;
using namespace gemvolt::testing;
using net::ClientTimer;

namespace {

struct Server {
    Server() {
        port.attach(&core);
        hosted = core.InitServer("11", 0).Hosted;
    }
    ~Server() { core.CloseSession(); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port.port()); }
    server::SessionPort port;
    server::ServerCore core{port};
    bool hosted = false;
};

struct Player {
    FakeSessionDialogs dialogs;
    RecordingPorts ports;
    net::ManualTicker* clock = nullptr;
    std::unique_ptr<net::HeadlessClient> client;

    Player() {
        auto ticker = std::make_unique<net::ManualTicker>();
        clock = ticker.get();
        client = std::make_unique<net::HeadlessClient>(dialogs, std::move(ticker));
        client->setPorts({&ports, &ports, &ports, &ports, &dialogs});
    }
    battle::GameCore& core() { return client->core(); }
    const QString& chat() { return client->chatLog().text(); }
    /** Connect with the given host answer and name; true once the start went out. */
    bool connectTo(const QString& host, const QString& name) {
        dialogs.answers = {host, name};
        return client->ConnectToServer();
    }
};

int occupied(const battle::GameCore& core, int b) {
    int n = 0;
    for (const common::GemCell& cell : core.boardCells(b))
        n += cell.Occupied ? 1 : 0;
    return n;
}

std::vector<std::string> tableOf(const battle::GameCore& core) {
    std::vector<std::string> out;
    for (const board::PlayerRow& r : core.playerTable().rows())
        out.push_back(r.ID + "|" + r.Name + "|" + r.Wins + "|" + r.Losses);
    return out;
}

/** Press Down until the falling pair has landed and the next one entered. */
void landPair(net::HeadlessClient& c) {
    c.KeyDown(board::KeyCodeDown);
    for (int i = 0; i < 20 && c.core().PairR(1) != board::EntryRow; ++i)
        c.KeyDown(board::KeyCodeDown);
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void promptsAndConnectedLine();
    void badPortEndsTheProgram();
    void failedConnectIsReported();
    void disconnectLeavesForGoodAndReconnectGetsANewId();
    void serverGoneAddsTheLostLineOnce();
    void exitLeavesWithoutTheLostLine();
    void twoFightsThroughTheServer();
    void blipIsTwoChatLinesAndNothingElse();
    void resumeGivenUpIsTheLostLine();
    void firstVersionClientPlaysAlongside();
};

void TestEndToEnd::promptsAndConnectedLine() {
    Server server;
    QVERIFY(server.hosted);
    Player p;
    p.dialogs.answers = {"", "   ", server.address(), ""};
    QVERIFY(p.client->ConnectToServer());
    QCOMPARE(p.dialogs.prompts,
             QStringList({"Hostname required|Please enter a hostname/IP address|127.0.0.1",
                          "Hostname required|Please enter a hostname/IP address|127.0.0.1",
                          "Hostname required|Please enter a hostname/IP address|127.0.0.1",
                          "Playername|Playername?|Myself"}));
    QCOMPARE(p.client->session().LocalPlayerName(), QString());
    QTRY_VERIFY(p.core().LocalPlayerId() != 0);
    QCOMPARE(p.client->session().LocalPlayerId(), p.core().LocalPlayerId());
    QTRY_COMPARE(p.core().playerTable().rowCount(), 1);
    QVERIFY(p.chat().startsWith("**Connected to Chat Server**\r\n"));
    QCOMPARE(p.core().listPlayerName(0), std::string());
    QVERIFY(p.dialogs.errors.isEmpty());
}

void TestEndToEnd::badPortEndsTheProgram() {
    Player p;
    p.dialogs.answers = {"127.0.0.1:99999"};
    QVERIFY(!p.client->ConnectToServer());
    QCOMPARE(p.dialogs.errors.size(), 1);
    QVERIFY(p.dialogs.errors[0].startsWith("mdlDirectPlayConnect|Error #2: "));
    QCOMPARE(p.dialogs.endProgramCalls, 1);
}

void TestEndToEnd::failedConnectIsReported() {
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    Player p;
    QVERIFY(p.connectTo(QStringLiteral("127.0.0.1:%1").arg(closedPort), "Nobody"));
    QTRY_VERIFY(p.chat().startsWith("*** Could not connect to 127.0.0.1: "));
    QVERIFY(p.chat().endsWith(" ***\r\n"));
    QVERIFY(!p.chat().contains("Connected to Chat Server"));
    QCOMPARE(p.dialogs.chatWindowShown, 1);
    QCOMPARE(p.core().LocalPlayerId(), 0);
}

void TestEndToEnd::disconnectLeavesForGoodAndReconnectGetsANewId() {
    Server server;
    Player a, b;
    QVERIFY(a.connectTo(server.address(), "Alpha"));
    QTRY_VERIFY(a.core().LocalPlayerId() != 0);
    QVERIFY(b.connectTo(server.address(), "Bravo"));
    QTRY_COMPARE(a.core().playerTable().rowCount(), 2);
    QTRY_COMPARE(b.core().playerTable().rowCount(), 2);
    const std::int32_t oldId = a.core().LocalPlayerId();

    a.client->DisconnectFromServer();
    QTRY_COMPARE(server.core.ServerRoster().size(), std::size_t(1));
    QTRY_VERIFY(b.chat().contains("Alpha has left\r\n"));
    // Alpha hears no more chat and cannot send any.
    QVERIFY(!a.client->SendChat("Alpha:>still here?"));
    QVERIFY(b.client->SendChat("Bravo:>bye Alpha"));
    QTRY_VERIFY(b.chat().contains("Bravo:>bye Alpha\r\n"));
    QVERIFY(!a.chat().contains("bye Alpha"));
    QVERIFY(!a.chat().contains("Connection with server lost"));

    QVERIFY(a.connectTo(server.address(), "Alpha"));
    QTRY_VERIFY(a.core().LocalPlayerId() != 0);
    QVERIFY(a.core().LocalPlayerId() != oldId);
    QTRY_COMPARE(a.core().playerTable().rowCount(), 2);
    QCOMPARE(a.core().whatPlayer(), 2);
    // What is typed goes out under the name registered this time.
    QVERIFY(a.client->Say("back again"));
    QTRY_VERIFY(b.chat().contains("\r\nAlpha:>back again\r\n"));
}

void TestEndToEnd::serverGoneAddsTheLostLineOnce() {
    Player p;
    {
        Server server;
        QVERIFY(p.connectTo(server.address(), "Alpha"));
        QTRY_VERIFY(p.core().LocalPlayerId() != 0);
    }
    QTRY_VERIFY(p.chat().contains("Connection with server lost"));
    QTest::qWait(50);
    QCOMPARE(p.chat().count("Connection with server lost"), 1);
}

void TestEndToEnd::exitLeavesWithoutTheLostLine() {
    Server server;
    Player p, other;
    QVERIFY(p.connectTo(server.address(), "Alpha"));
    QTRY_VERIFY(p.core().LocalPlayerId() != 0);
    QVERIFY(other.connectTo(server.address(), "Bravo"));
    QTRY_COMPARE(server.core.ServerRoster().size(), std::size_t(2));

    QSignalSpy finished(p.client.get(), &net::HeadlessClient::exitFinished);
    p.client->Exit();
    // The server takes us out and closes the connection at once.
    QTRY_COMPARE(server.core.ServerRoster().size(), std::size_t(1));
    QTRY_VERIFY(!p.client->session().isConnected());
    QTRY_VERIFY(other.chat().contains("Alpha has left"));
    QCoreApplication::processEvents();
    QVERIFY(!p.chat().contains("Connection with server lost"));
    QVERIFY(p.chat().contains("\nPlease Wait While Program Exits"));
    p.clock->advance(1500);
    QCOMPARE(finished.count(), 1);
}

void TestEndToEnd::twoFightsThroughTheServer() {
    Server server;
    QVERIFY(server.hosted);
    Player a, b, w;
    std::vector<Player*> all{&a, &b, &w};
    const char* names[] = {"Alpha", "Bravo", "Watcher"};
    for (int i = 0; i < 3; ++i) {
        QVERIFY(all[std::size_t(i)]->connectTo(server.address(), names[i]));
        QTRY_VERIFY(all[std::size_t(i)]->core().LocalPlayerId() != 0);
        QTRY_COMPARE(server.core.ServerRoster().size(), std::size_t(i + 1));
    }
    for (Player* p : all)
        QTRY_COMPARE(p->core().playerTable().rowCount(), 3);
    QCOMPARE(a.core().whatPlayer(), 1);
    QCOMPARE(b.core().whatPlayer(), 2);
    QCOMPARE(w.core().whatPlayer(), 0);
    const std::string aId = a.core().listID(0);

    // Alpha's attack pattern: a yellow bottom row, the rest red.
    for (int k = 0; k < common::PatternColumns; ++k)
        a.core().EditorMouseUp(battle::AttackEditor::ButtonLeft, 0,
                               battle::AttackEditor::cellLeft(k) + 200,
                               battle::AttackEditor::cellTop(k) + 200);
    a.client->cmdApply_Click();
    const auto alphaPatternArrived = [&](Player& p) {
        for (const common::PatternEntry& e : p.core().PatternTable())
            if (e.PlayerId == aId)
                return e.Cells[0].Color == common::GemYellow && e.Cells[6].Color == common::GemRed;
        return false;
    };
    QTRY_VERIFY(alphaPatternArrived(b));

    // Both fighters press Ready; every client counts from 3.
    a.client->RdyButton_Click();
    b.client->RdyButton_Click();
    for (Player* p : all)
        QTRY_COMPARE(p->core().lblCountIn(), std::string("3"));
    for (Player* p : all) {
        p->clock->advance(2000);
        QCOMPARE(p->core().lblCountIn(), std::string("1"));
        p->clock->advance(1000);
        QVERIFY(p->client->matchFlow().FightRunning());
        QVERIFY(!p->core().frmNxtMatch());
    }
    // One random source per client: both fighters got the same first pair.
    QCOMPARE(a.core().Grids(0, 3, 13), b.core().Grids(1, 3, 13));
    QCOMPARE(a.core().Grids(0, 3, 14), b.core().Grids(1, 3, 14));

    // A prepared group on Alpha's board: a red crash gem under two red gems,
    // away from the column where the pair lands.
    a.core().writeCell(0, 0, 0, {true, common::ShapeCrash, 0, common::GemRed});
    a.core().writeCell(0, 0, 1, {true, common::ShapeNormal, 0, common::GemRed});
    a.core().writeCell(0, 0, 2, {true, common::ShapeNormal, 0, common::GemRed});
    a.client->KeyDown(board::KeyCodeRight);
    a.client->KeyDown(board::KeyCodeRight);
    landPair(*a.client);
    // The group of three went: combo 1 scores 20 and earns 2 counter gems.
    for (int r = 0; r < 3; ++r)
        QVERIFY(!a.core().Grids(0, 0, r).Occupied);
    QCOMPARE(occupied(a.core(), 0), 4); // the landed pair and the next one entering
    QCOMPARE(a.core().lblCScore(0), std::string("20"));

    QTRY_COMPARE(b.core().lblIncoming(1), std::string("02"));
    QTRY_COMPARE(w.core().lblCScore(0), std::string(" 20"));
    QCOMPARE(w.core().lblIncoming(1), std::string("00")); // the watcher waits for a snapshot
    QCOMPARE(a.core().lblIncoming(1), std::string("00"));

    // Bravo's landing lays the two gems from Alpha's pattern: yellow, left first.
    landPair(*b.client);
    QCOMPARE(b.core().lblIncoming(1), std::string("00"));
    QCOMPARE(b.core().Grids(1, 0, 0),
             (common::GemCell{true, common::ShapeNormal, 0, common::GemYellow}));
    QCOMPARE(b.core().Grids(1, 1, 0),
             (common::GemCell{true, common::ShapeNormal, 1, common::GemYellow}));
    QVERIFY(!b.core().Grids(1, 2, 0).Occupied);

    // The next snapshot carries Bravo's board to everybody else.
    b.clock->advance(200);
    const auto bravo = b.core().boardCells(1);
    QTRY_VERIFY(w.core().boardCells(1) == bravo);
    QTRY_VERIFY(a.core().boardCells(1) == bravo);
    QCOMPARE(w.core().lblIncoming(1), b.core().lblIncoming(1));

    // Bravo's column 3 fills up with colours the falling pair does not have,
    // so nothing is destroyed: the next landing overflows and loses.
    for (int tries = 0; tries < 10 && b.core().tmrFallGems(); ++tries) {
        std::vector<std::int32_t> free;
        for (std::int32_t color :
             {common::GemRed, common::GemYellow, common::GemGreen, common::GemBlue})
            if (color != b.core().Grids(1, 3, 13).Color && color != b.core().Grids(1, 3, 14).Color)
                free.push_back(color);
        for (int r = 0; r < board::EntryRow - 1; ++r)
            b.core().writeCell(1, 3, r, {true, common::ShapeNormal, 0, free[std::size_t(r % 2)]});
        landPair(*b.client);
    }
    QVERIFY(!b.core().tmrFallGems());
    for (Player* p : all)
        QTRY_VERIFY(!p->client->matchFlow().FightRunning());

    const std::vector<std::string> table = tableOf(a.core());
    QCOMPARE(table.size(), std::size_t(3));
    QVERIFY(table[0].rfind(aId + "|Alpha|1|0", 0) == 0);
    QCOMPARE(a.core().listPlayerName(1), std::string("Watcher"));
    QVERIFY(table[2].find("|Bravo|0|1") != std::string::npos);
    for (Player* p : all) {
        QCOMPARE(tableOf(p->core()), table);
        QVERIFY(p->core().nextFightPanel() == a.core().nextFightPanel());
        QVERIFY(p->core().frmNxtMatch());
        QCOMPARE(occupied(p->core(), 0) + occupied(p->core(), 1), 0);
        QVERIFY(!p->client->ticker().isActive(ClientTimer::FallGems));
        QVERIFY(!p->client->ticker().isActive(ClientTimer::Update));
    }
    QCOMPARE(a.core().lblWinner(), std::string("Alpha Wins!"));
    QCOMPARE(a.core().lblNxtMatch(), std::string("The Next Fight Will Be: Alpha Vs Watcher"));
    QCOMPARE(a.core().lblP2Ready(), std::string("Watcher - Ready = No"));
    QCOMPARE(a.core().lblCountIn(), std::string("N/A"));
    QCOMPARE(w.core().whatPlayer(), 2);
    QCOMPARE(b.core().whatPlayer(), 0);

    // The second fight: Alpha against the former watcher, from clean boards.
    b.client->RdyButton_Click(); // Bravo watches now: nothing is sent
    w.client->RdyButton_Click();
    a.client->RdyButton_Click();
    for (Player* p : all)
        QTRY_COMPARE(p->core().lblCountIn(), std::string("3"));
    for (Player* p : all) {
        p->clock->advance(3000);
        QVERIFY(p->client->matchFlow().FightRunning());
    }
    QCOMPARE(occupied(a.core(), 0), 2);
    QCOMPARE(occupied(a.core(), 1), 0);
    QCOMPARE(occupied(w.core(), 1), 2);
    QCOMPARE(occupied(w.core(), 0), 0);
    QCOMPARE(occupied(b.core(), 0) + occupied(b.core(), 1), 0);
    QVERIFY(w.client->ticker().isActive(ClientTimer::FallGems));
    QVERIFY(!b.client->ticker().isActive(ClientTimer::FallGems));
    QCOMPARE(w.core().lblPlyName(1), std::string("Watcher"));

    // A fighter's first snapshot reaches the watcher of the second fight.
    w.clock->advance(200);
    QTRY_VERIFY(b.core().boardCells(1) == w.core().boardCells(1));
}

// Alpha through a relay that the test cuts, Bravo straight to the server.
struct CutPair {
    Server server;
    FaultProxy proxy;
    Player a, b;
    /** Both connected, Alpha first (on board 1). */
    bool ready() {
        return server.hosted && proxy.start(server.port.port()) &&
               a.connectTo(QStringLiteral("127.0.0.1:%1").arg(proxy.port()), "Alpha") &&
               QTest::qWaitFor([this] { return a.core().LocalPlayerId() != 0; }) &&
               b.connectTo(server.address(), "Bravo");
    }
};

void TestEndToEnd::blipIsTwoChatLinesAndNothingElse() {
    CutPair s;
    QVERIFY(s.ready());
    QTRY_COMPARE(s.a.core().playerTable().rowCount(), 2);
    QTRY_COMPARE(s.b.core().playerTable().rowCount(), 2);
    const std::int32_t id = s.a.core().LocalPlayerId();

    s.proxy.cutAll();
    QTRY_VERIFY(
        s.a.chat().contains(QStringLiteral("*** Connection lost - reconnecting... ***\r\n")));
    // What is said meanwhile goes out once the session is back.
    QVERIFY(s.a.client->SendChat("Alpha:>during"));
    QTRY_VERIFY_WITH_TIMEOUT(s.a.chat().contains(QStringLiteral("*** Reconnected ***\r\n")), 10000);
    QTRY_VERIFY(s.b.chat().contains("Alpha:>during\r\n"));
    QTRY_VERIFY(s.a.chat().contains("Alpha:>during\r\n"));
    QVERIFY(s.b.client->SendChat("Bravo:>after"));
    QTRY_VERIFY(s.a.chat().contains("Bravo:>after\r\n"));

    // Nobody left or came: same player, same table, no lost line, each line once.
    QCOMPARE(s.a.core().LocalPlayerId(), id);
    QCOMPARE(s.server.core.ServerRoster().size(), std::size_t(2));
    QCOMPARE(tableOf(s.a.core()), tableOf(s.b.core()));
    QVERIFY(!s.b.chat().contains("has left"));
    QVERIFY(!s.a.chat().contains("Connection with server lost"));
    QCOMPARE(s.a.chat().count("Alpha:>during"), 1);
    QCOMPARE(s.a.chat().count("Reconnected"), 1);
}

void TestEndToEnd::resumeGivenUpIsTheLostLine() {
    CutPair s;
    s.server.port.session().setResumeHold(1);
    QVERIFY(s.ready());
    QTRY_COMPARE(s.server.core.ServerRoster().size(), std::size_t(2));

    // The way back stays shut past the hold: the server lets Alpha go, and
    // Alpha's next try is turned away.
    s.proxy.refuseFor(std::chrono::milliseconds(2500));
    s.proxy.cutAll();
    QTRY_VERIFY(s.a.chat().contains("reconnecting"));
    QTRY_VERIFY(s.b.chat().contains("Alpha has left\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(s.a.chat().contains("Connection with server lost"), 15000);
    QVERIFY(!s.a.chat().contains("Reconnected"));
    QVERIFY(!s.a.client->session().isConnected());
}

void TestEndToEnd::firstVersionClientPlaysAlongside() {
    CutPair s;
    transport::Timings first;
    first.clientVersion = transport::ProtocolVersion;
    s.a.client->session().setTimings(first);
    QVERIFY(s.ready());
    for (Player* p : {&s.a, &s.b})
        QTRY_COMPARE(p->core().playerTable().rowCount(), 2);
    QVERIFY(s.a.client->SendChat("Alpha:>old hello"));
    QVERIFY(s.b.client->SendChat("Bravo:>new hello"));
    QTRY_VERIFY(s.b.chat().contains("Alpha:>old hello\r\n"));
    QTRY_VERIFY(s.a.chat().contains("Bravo:>new hello\r\n"));

    // A fight between the two: both count down and start, and Bravo sees
    // Alpha's board as Alpha has it.
    s.a.client->RdyButton_Click();
    s.b.client->RdyButton_Click();
    for (Player* p : {&s.a, &s.b}) {
        QTRY_COMPARE(p->core().lblCountIn(), std::string("3"));
        p->clock->advance(3000);
        QVERIFY(p->client->matchFlow().FightRunning());
    }
    landPair(*s.a.client);
    s.a.clock->advance(200);
    const auto alpha = s.a.core().boardCells(0);
    QTRY_VERIFY(s.b.core().boardCells(0) == alpha);

    // The first version does not resume: a cut ends its session at once.
    s.proxy.cutAll();
    QTRY_VERIFY(s.a.chat().contains("Connection with server lost"));
    QVERIFY(!s.a.chat().contains("reconnecting"));
    QTRY_VERIFY(s.b.chat().contains("Alpha has left\r\n"));
    QCOMPARE(s.server.core.ServerRoster().size(), std::size_t(1));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
