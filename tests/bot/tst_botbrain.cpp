#include "Bot/BotBrain.h"
#include "Client/net/HeadlessClient.h"
#include "Client/net/ManualTicker.h"
#include "Common/MessageCodec.h"
#include "net/NetTestKit.h"
#include "support/FakeSessionDialogs.h"
#include "support/RecordingSender.h"

#include <QtTest>

using namespace gemvolt;

namespace {

// One client with the bot at its keys, on a clock moved by hand; the test
// plays the server.
struct Rig {
    testing::FakeSessionDialogs dialogs;
    net::ManualTicker* ticker = nullptr;
    std::unique_ptr<net::HeadlessClient> client;
    testing::RecordingSender upstream;
    std::unique_ptr<bot::BotBrain> brain;
    std::int64_t now = 0;

    explicit Rig(bot::Level level) {
        auto t = std::make_unique<net::ManualTicker>();
        ticker = t.get();
        client = std::make_unique<net::HeadlessClient>(dialogs, std::move(t));
        brain = std::make_unique<bot::BotBrain>(*client, upstream,
                                                bot::LevelSettings::forLevel(level), 1.0, 9);
        client->handlers().SessionStarting();
        client->handlers().SessionConnected(5);
    }
    template <class M> void receive(const M& message) {
        client->handlers().Receive(common::encode(message));
    }
    // Move time in 5 ms steps, the bot looking at every step.
    void run(std::int64_t ms, const std::function<void()>& each = {}) {
        for (std::int64_t t = 0; t < ms; t += 5) {
            now += 5;
            ticker->advance(5);
            brain->poll(now);
            if (each)
                each();
        }
    }
    int readies() const { return static_cast<int>(upstream.of<common::MsgReady>().size()); }
};

} // namespace

class TestBotBrain : public QObject {
    Q_OBJECT
private slots:
    void pressesReadyOnlyAsANextFighter();
    void playsWithKeysAtItsOwnPace();
};

void TestBotBrain::pressesReadyOnlyAsANextFighter() {
    Rig rig(bot::Level::Normal);
    // A watcher (row 2) never presses Ready.
    rig.receive(testing::roster({{7, "A"}, {8, "B"}}));
    rig.receive(testing::standings({{7}, {8}}));
    rig.receive(testing::roster({{7, "A"}, {8, "B"}, {5, "Bot"}}));
    rig.receive(testing::standings({{7}, {8}, {5}}));
    QVERIFY(rig.client->core().frmNxtMatch());
    rig.run(3000);
    QCOMPARE(rig.readies(), 0);

    // B lost: on board 2 of the next fight the bot presses once, after a moment's look.
    rig.receive(testing::standings({{7, 1, 0}, {5}, {8, 0, 1}}));
    rig.receive(common::MsgGameOver{});
    rig.run(500);
    QCOMPARE(rig.readies(), 0);
    rig.run(1000);
    QCOMPARE(rig.readies(), 1);
    // Once its mark has come back it waits for the other one.
    rig.receive(testing::ready(5));
    rig.run(6000);
    QCOMPARE(rig.readies(), 1);
}

void TestBotBrain::playsWithKeysAtItsOwnPace() {
    Rig rig(bot::Level::Hard);
    rig.receive(testing::roster({{5, "Bot"}, {6, "Other"}}));
    rig.receive(testing::standings({{5}, {6}}));
    rig.run(1000);
    QCOMPARE(rig.readies(), 1);
    rig.receive(testing::ready(5));
    rig.receive(testing::ready(6));
    rig.run(3000); // the count-down
    QVERIFY(rig.client->matchFlow().FightRunning());

    const auto settings = bot::LevelSettings::forLevel(bot::Level::Hard);
    int keys = rig.brain->keysPressed();
    std::int64_t lastKeyAt = -1;
    std::int64_t shortestGap = 1 << 30;
    // Whatever the bot does to the board it does by keys: between two looks,
    // the board changes only on a key or a fall tick.
    rig.run(60000, [&] {
        if (rig.brain->keysPressed() != keys) {
            QCOMPARE(rig.brain->keysPressed(), keys + 1);
            if (lastKeyAt >= 0)
                shortestGap = std::min(shortestGap, rig.now - lastKeyAt);
            lastKeyAt = rig.now;
            keys = rig.brain->keysPressed();
        }
    });
    // A pair falls a row a second unless its landing pays: a handful of pairs.
    QVERIFY(rig.brain->pairsPlanned() >= 4);
    QVERIFY(keys > 0);
    QVERIFY2(shortestGap >= settings.KeyDelayMs, qPrintable(QString::number(shortestGap)));

    // Sixty seconds of play on a board nobody attacks leave column 3 open.
    const auto& game = rig.client->core();
    QVERIFY(game.tmrFallGems());
    QVERIFY(!game.Grids(0, 3, 11).Occupied);
    QVERIFY(rig.upstream.of<common::MsgGameOver>().empty());
    QCOMPARE(rig.upstream.of<common::MsgNextPair>().size(),
             std::size_t(rig.brain->pairsPlanned() + 1));

    // The server ends the fight: the bot counts it and is ready again.
    rig.receive(testing::standings({{5, 1, 0}, {6, 0, 1}}));
    rig.receive(common::MsgGameOver{});
    const int before = rig.readies();
    rig.run(2000);
    QCOMPARE(rig.brain->fightsPlayed(), 1);
    QCOMPARE(rig.brain->fightsLost(), 0);
    QCOMPARE(rig.readies(), before + 1);
}

QTEST_GUILESS_MAIN(TestBotBrain)
#include "tst_botbrain.moc"
