#include "Bot/AttackPatternDesign.h"
#include "Bot/BoardEvaluator.h"
#include "Bot/BotOptions.h"
#include "Bot/PairSteering.h"
#include "Bot/PlacementSearch.h"
#include "Bot/SimulatedGame.h"
#include "support/BoardText.h"
#include "support/RecordingPorts.h"

#include <QtTest>

#include <set>

using namespace gemvolt;
using bot::Level;
using bot::LevelSettings;
using bot::Orientation;
using bot::PairSteering;
using bot::Placement;
using bot::PlacementSearch;
using bot::SimulatedGame;

namespace {

// A fight on board 1 with the given board below the pair that has just
// entered; the pair's two gems are replaced by the letters given (element 0
// is the lower one, at (3, 13)).
battle::GameCore fightWith(const std::string& board, char lower, char upper) {
    battle::GameCore game;
    game.setPlayerTable({{"5", "Bot", "0", "0"}, {"6", "Other", "0", "0"}});
    game.setLocalPlayerId(5);
    game.InitGame();
    std::string text = board;
    testing::loadBoard(game, 0, text);
    game.writeCell(0, 3, 13, testing::gemFromLetter(lower));
    game.writeCell(0, 3, 14, testing::gemFromLetter(upper));
    // A plain next pair, so that looking ahead finds no chain to wait for.
    game.setNextGem(0, common::ShapeNormal, common::GemYellow);
    game.setNextGem(1, common::ShapeNormal, common::GemGreen);
    return game;
}

std::array<int, 6> heights(const battle::GameCore::BoardStore& cells) {
    return bot::BoardEvaluator::features(cells).Heights;
}

const char* EmptyBoard = "......"
                         "......"
                         "......"
                         "......"
                         "......"
                         "......"
                         "......"
                         "......"
                         "......"
                         "......"
                         "......"
                         "......"
                         "......"
                         "......"
                         "......";

/** One row per level, for the searches every level must get right. */
void addLevelRows() {
    QTest::addColumn<int>("level");
    QTest::newRow("easy") << static_cast<int>(Level::Easy);
    QTest::newRow("normal") << static_cast<int>(Level::Normal);
    QTest::newRow("hard") << static_cast<int>(Level::Hard);
}

} // namespace

class TestBot : public QObject {
    Q_OBJECT
private slots:
    void steeringReachesEveryPlacementOnAnOpenBoard();
    void searchFindsTheObviousCrashGemDestruction_data();
    void searchFindsTheObviousCrashGemDestruction();
    void searchKeepsColumnThreeFree_data();
    void searchKeepsColumnThreeFree();
    void searchLeavesTheLiveGameUntouched();
    void simulationCountsCounterGemsFromThePattern();
    void evaluatorPrefersLowEvenBoards();
    void patternsAreEnteredByClicksAndDifferPerLevel();
    void optionsAreReadOrRefused();
};

void TestBot::steeringReachesEveryPlacementOnAnOpenBoard() {
    const battle::GameCore live = fightWith(EmptyBoard, 'r', 'y');
    for (const Level level : {Level::Easy, Level::Normal, Level::Hard}) {
        const LevelSettings settings = LevelSettings::forLevel(level);
        for (const Placement& target : PairSteering::allPlacements()) {
            SimulatedGame game(live);
            QVERIFY(PlacementSearch::playOut(game, target, settings));
            const auto& cells = game.lastLanding().Board;
            // Element 1 (yellow) in the target column; element 0 (red) on the target side.
            int c0 = target.Column, r0 = 0, c1 = target.Column, r1 = 0;
            switch (target.Side) {
            case Orientation::Below:
                r1 = 1;
                break;
            case Orientation::Above:
                r0 = 1;
                break;
            case Orientation::Left:
                c0 = target.Column - 1;
                break;
            case Orientation::Right:
                c0 = target.Column + 1;
                break;
            }
            const auto at = [&](int c, int r) {
                return cells[static_cast<std::size_t>(r * 6 + c)];
            };
            QVERIFY2(at(c0, r0).Occupied && at(c0, r0).Color == common::GemRed,
                     qPrintable(QStringLiteral("side %1 column %2")
                                    .arg(static_cast<int>(target.Side))
                                    .arg(target.Column)));
            QVERIFY(at(c1, r1).Occupied && at(c1, r1).Color == common::GemYellow);
            int gems = 0;
            for (const auto& cell : cells)
                gems += cell.Occupied ? 1 : 0;
            QCOMPARE(gems, 2);
        }
    }
}

void TestBot::searchFindsTheObviousCrashGemDestruction_data() {
    addLevelRows();
}

void TestBot::searchFindsTheObviousCrashGemDestruction() {
    QFETCH(int, level);
    // Three red gems wait in column 0; nothing else on the board matches a
    // red crash gem. The right place for the red crash gem is on top of them.
    const std::string board = "......"
                              "......"
                              "......"
                              "......"
                              "......"
                              "......"
                              "......"
                              "......"
                              "......"
                              "......"
                              "......"
                              "r....."
                              "rygbyg"
                              "rbgybg"
                              "ygbgby";
    const battle::GameCore live = fightWith(board, 'R', 'b');
    PlacementSearch search(LevelSettings::forLevel(static_cast<Level>(level)), 7);
    const bot::SearchResult choice = search.choose(live);
    QVERIFY(choice.Found);
    QVERIFY(choice.Simulations >= 22);

    SimulatedGame game(live);
    QVERIFY(PlacementSearch::playOut(game, choice.Best,
                                     LevelSettings::forLevel(static_cast<Level>(level))));
    QCOMPARE(game.lastLanding().Destroyed, 4); // the crash gem and three reds
    QCOMPARE(game.lastLanding().Attack, 3);
    QCOMPARE(game.Grids(0, 0, 0).Color, common::GemYellow); // column 0 came down
    QCOMPARE(game.lblCScore(0), std::string("30"));
}

void TestBot::searchKeepsColumnThreeFree_data() {
    addLevelRows();
}

void TestBot::searchKeepsColumnThreeFree() {
    QFETCH(int, level);
    // Column 3 stands eleven high; every other column is low. Nothing can be
    // destroyed. Any gem put on column 3 brings the loss two rows nearer.
    const std::string board = "......"
                              "......"
                              "......"
                              "......"
                              "...b.."
                              "...y.."
                              "...g.."
                              "...b.."
                              "...y.."
                              "...g.."
                              "...b.."
                              "...y.."
                              "...g.."
                              "gy.b.y"
                              "by.ggy";
    const battle::GameCore live = fightWith(board, 'r', 'r');
    const LevelSettings settings = LevelSettings::forLevel(static_cast<Level>(level));
    PlacementSearch search(settings, 11);
    for (int trial = 0; trial < 5; ++trial) {
        const bot::SearchResult choice = search.choose(live);
        QVERIFY(choice.Found);
        SimulatedGame game(live);
        QVERIFY(PlacementSearch::playOut(game, choice.Best, settings));
        QVERIFY(!game.lastLanding().Lost);
        QCOMPARE(heights(game.lastLanding().Board)[3], 11);
        QCOMPARE(game.lastLanding().Board[static_cast<std::size_t>(11 * 6 + 3)].Occupied, false);
    }
}

void TestBot::searchLeavesTheLiveGameUntouched() {
    battle::GameCore live = fightWith(EmptyBoard, 'G', 'g');
    testing::RecordingPorts ports;
    board::Ports p;
    p.draw = &ports;
    p.pause = &ports;
    p.sound = &ports;
    p.messages = &ports;
    p.timers = &ports;
    p.messageBox = &ports;
    live.setPorts(p);
    live.setIncoming(0, "04");
    ports.clear();

    const battle::GameCore::BoardStore boardBefore = live.boardCells(0);
    board::RandomSource randomBefore = live.randomSource();
    const std::array<int, 4> pairBefore{live.PairC(0), live.PairR(0), live.PairC(1), live.PairR(1)};

    PlacementSearch search(LevelSettings::forLevel(Level::Hard), 3);
    const bot::SearchResult choice = search.choose(live);
    QVERIFY(choice.Found);
    QVERIFY(choice.Simulations > 22); // hard looks at the next pair too

    QVERIFY(ports.events.empty()); // nothing drawn, sounded, sent or paused
    QVERIFY(live.boardCells(0) == boardBefore);
    const std::array<int, 4> pairAfter{live.PairC(0), live.PairR(0), live.PairC(1), live.PairR(1)};
    QVERIFY(pairAfter == pairBefore);
    QCOMPARE(live.lblIncoming(0), std::string("04"));
    QCOMPARE(live.lblCScore(0), std::string("0"));
    board::RandomSource randomAfter = live.randomSource();
    for (int i = 0; i < 16; ++i)
        QCOMPARE(randomAfter.nextRaw(), randomBefore.nextRaw());
}

void TestBot::simulationCountsCounterGemsFromThePattern() {
    // Four counter gems pending from player 6, whose pattern is all blue
    // crash gems in row 0: the landing lays them from that pattern.
    battle::GameCore live = fightWith(EmptyBoard, 'r', 'y');
    common::PatternEntry entry;
    entry.PlayerId = "6";
    for (auto& cell : entry.Cells) {
        cell.Occupied = true;
        cell.Shape = common::ShapeNormal;
        cell.Color = common::GemGreen;
    }
    for (int c = 0; c < 6; ++c)
        entry.Cells[static_cast<std::size_t>(c)].Color = common::GemBlue;
    live.setPatternTable({entry});
    live.setIncoming(0, "04");

    SimulatedGame game(live);
    QVERIFY(PlacementSearch::playOut(game, {Orientation::Below, 5},
                                     LevelSettings::forLevel(Level::Normal)));
    const bot::LandingRecord& landing = game.lastLanding();
    QCOMPARE(landing.PendingAfter, 0);
    for (int c = 0; c < 4; ++c)
        QCOMPARE(landing.Board[static_cast<std::size_t>(c)].Color, common::GemBlue);
    QCOMPARE(live.lblIncoming(0), std::string("04")); // the live game still waits for them
}

void TestBot::evaluatorPrefersLowEvenBoards() {
    const auto w = LevelSettings::forLevel(Level::Normal).Weights;
    battle::GameCore flat = fightWith(EmptyBoard, 'r', 'y');
    testing::loadBoard(flat, 0, std::string(12 * 6, '.') + "......" + "......" + "rygbry");
    battle::GameCore tower = fightWith(EmptyBoard, 'r', 'y');
    testing::loadBoard(tower, 0,
                       std::string(6 * 6, '.') + "...r.." + "...y.." + "...g.." + "...b.." +
                           "...r.." + "...y.." + "...g.." + "...b.." + "...r..");
    QVERIFY(bot::BoardEvaluator::boardValue(flat.boardCells(0), w) >
            bot::BoardEvaluator::boardValue(tower.boardCells(0), w));
    bot::LandingRecord lost;
    lost.Lost = true;
    lost.Attack = 50;
    QCOMPARE(bot::BoardEvaluator::value(lost, w), bot::BoardEvaluator::LostValue);
}

void TestBot::patternsAreEnteredByClicksAndDifferPerLevel() {
    std::vector<bot::AttackPatternDesign::Grid> grids;
    for (const Level level : {Level::Easy, Level::Normal, Level::Hard}) {
        const auto grid = bot::AttackPatternDesign::forLevel(level);
        battle::GameCore game;
        bot::AttackPatternDesign::enterIntoEditor(game, grid);
        std::set<std::int32_t> colours;
        for (int k = 0; k < common::PatternCells; ++k) {
            QVERIFY(game.attackEditor().Shape1(k) == grid[static_cast<std::size_t>(k)]);
            colours.insert(grid[static_cast<std::size_t>(k)].Color);
        }
        QCOMPARE(colours.size(), std::size_t(4)); // all four colours, not all red
        game.cmdApply_Click();
        QCOMPARE(game.OwnPattern()[7].Color, grid[7].Color);
        if (level != Level::Easy) {
            // Nothing the victim can use: no crash gems, no neighbours alike.
            for (int r = 0; r < 6; ++r) {
                for (int c = 0; c < 6; ++c) {
                    const auto& cell = grid[static_cast<std::size_t>(c + r * 6)];
                    QCOMPARE(cell.Shape, common::ShapeNormal);
                    if (c > 0)
                        QVERIFY(grid[static_cast<std::size_t>(c - 1 + r * 6)].Color != cell.Color);
                    if (r > 0)
                        QVERIFY(grid[static_cast<std::size_t>(c + (r - 1) * 6)].Color !=
                                cell.Color);
                }
            }
        }
        for (const auto& other : grids)
            QVERIFY(other != grid);
        grids.push_back(grid);
    }
}

void TestBot::optionsAreReadOrRefused() {
    QString error;
    const auto defaults = bot::BotOptions::parse({}, &error);
    QVERIFY(defaults);
    QCOMPARE(defaults->Host, QStringLiteral("127.0.0.1"));
    QCOMPARE(defaults->Port, quint16(4000));
    QCOMPARE(defaults->Name, QStringLiteral("Computer"));
    QVERIFY(defaults->Which == Level::Normal);
    QCOMPARE(defaults->Games, 0);
    QVERIFY(!defaults->Fast);

    const auto set = bot::BotOptions::parse({"--host", "10.0.0.2", "--port=4100", "--name", "Robo",
                                             "--level", "hard", "--games", "3", "--fast"},
                                            &error);
    QVERIFY(set);
    QCOMPARE(set->Host, QStringLiteral("10.0.0.2"));
    QCOMPARE(set->Port, quint16(4100));
    QCOMPARE(set->Name, QStringLiteral("Robo"));
    QVERIFY(set->Which == Level::Hard);
    QCOMPARE(set->Games, 3);
    QVERIFY(set->Fast);

    const QList<QStringList> bad{
        {"--level", "expert"}, {"--port", "0"},  {"--port", "70000"}, {"--port"},
        {"--games", "0"},      {"--games", "x"}, {"--colour", "red"}, {"extra"},
        {"--fast=1"},          {"--host", " "}};
    for (const QStringList& args : bad) {
        error.clear();
        QVERIFY2(!bot::BotOptions::parse(args, &error), qPrintable(args.join(' ')));
        QVERIFY(!error.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestBot)
#include "tst_bot.moc"
