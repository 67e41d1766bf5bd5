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
    // The bot readies itself, then the other fighter, then the count-down:
    // the moment the fight began.
    std::int64_t startFight() {
        receive(testing::roster({{5, "Bot"}, {6, "Other"}}));
        receive(testing::standings({{5}, {6}}));
        run(1000);
        receive(testing::ready(5));
        receive(testing::ready(6));
        std::int64_t startedAt = -1;
        run(3000, [&] {
            if (startedAt < 0 && client->matchFlow().FightRunning())
                startedAt = now;
        });
        return startedAt;
    }
};

std::int64_t median(std::vector<std::int64_t> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

class TestBotBrain : public QObject {
    Q_OBJECT
private slots:
    void pressesReadyOnlyAsANextFighter();
    void playsWithKeysAtItsOwnPace();
    void dropsEachPairOnceInPlaceAtItsLevelsPace();
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
    QVERIFY(rig.startFight() > 0);
    QCOMPARE(rig.readies(), 1);
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
    // Each pair is pressed down once it is in place: dozens of pairs, where
    // the fall timer alone (a row a second) would bring a handful.
    QVERIFY(rig.brain->pairsPlanned() >= 20);
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

void TestBotBrain::dropsEachPairOnceInPlaceAtItsLevelsPace() {
    // Against an opponent who never attacks: how soon the first pair lands
    // and the median time per pair, easy, normal, hard.
    const std::array<std::array<std::int64_t, 2>, 3> limits{
        {{9000, 8000}, {6000, 4000}, {5000, 3000}}};
    std::vector<std::int64_t> medians;
    for (const bot::Level level : {bot::Level::Easy, bot::Level::Normal, bot::Level::Hard}) {
        Rig rig(level);
        std::vector<std::int64_t> landings;
        rig.brain->setSendObserver([&](common::ByteView message) {
            if (message[0] == static_cast<std::uint8_t>(common::MsgType::NextPair))
                landings.push_back(rig.now);
        });
        const std::int64_t start = rig.startFight();
        QVERIFY(start > 0);
        landings.clear(); // the fight's first pair and the next one, announced at its start

        // Once the bot presses its pair down below the entry row it steers it no more.
        const auto& game = rig.client->core();
        std::size_t pairsSeen = landings.size();
        bool dropping = false;
        int steeredWhileDropping = 0;
        std::array<int, 4> before{game.PairC(0), game.PairR(0), game.PairC(1), game.PairR(1)};
        int keys = rig.brain->keysPressed();
        int ticks = rig.ticker->ticks(net::ClientTimer::FallGems);
        rig.run(60000, [&] {
            const std::array<int, 4> now{game.PairC(0), game.PairR(0), game.PairC(1),
                                         game.PairR(1)};
            const bool keyOnly = rig.brain->keysPressed() != keys &&
                                 rig.ticker->ticks(net::ClientTimer::FallGems) == ticks;
            if (landings.size() != pairsSeen) {
                pairsSeen = landings.size();
                dropping = false;
            } else if (dropping) {
                // Only down: same columns, and an upright pair keeps its way up.
                if (now[0] != before[0] || now[2] != before[2] ||
                    (now[0] == now[2] && (now[1] < now[3]) != (before[1] < before[3])))
                    ++steeredWhileDropping;
            } else if (keyOnly && now[3] < before[3] && before[3] < board::EntryRow) {
                dropping = true;
            }
            before = now;
            keys = rig.brain->keysPressed();
            ticks = rig.ticker->ticks(net::ClientTimer::FallGems);
        });
        QCOMPARE(steeredWhileDropping, 0);
        QVERIFY(rig.upstream.of<common::MsgGameOver>().empty());
        QVERIFY(landings.size() >= 8);

        std::vector<std::int64_t> perPair;
        for (std::size_t i = 0; i < landings.size(); ++i)
            perPair.push_back(landings[i] - (i == 0 ? start : landings[i - 1]));
        const auto& [firstLimit, medianLimit] = limits[static_cast<std::size_t>(level)];
        const QString figures = QStringLiteral("level %1: first %2 ms, median %3 ms")
                                    .arg(static_cast<int>(level))
                                    .arg(perPair.front())
                                    .arg(median(perPair));
        QVERIFY2(perPair.front() <= firstLimit && median(perPair) <= medianLimit,
                 qPrintable(figures));
        medians.push_back(median(perPair));
    }
    // The levels stay apart: easy is the slowest, hard the quickest.
    QVERIFY(medians[0] > medians[1] && medians[1] > medians[2]);
}

QTEST_GUILESS_MAIN(TestBotBrain)
#include "tst_botbrain.moc"
