// Resolution and attack through battle::GameCore's public interface, every port
// faked and recorded: destruction, the resolution cycle, counter gems, the
// figures, the end of a fight, the pattern editor, the board snapshot, copies,
// and one whole scripted fight. Boards are written as text, top row first:
// '.' empty, r y g b normal gems, R Y G B crash gems.
#include "Client/battle/GameCore.h"
#include "Client/board/RandomSource.h"
#include "tests/support/BoardText.h"
#include "tests/support/RecordingPorts.h"

#include <QtTest>

using namespace gemvolt;
using battle::AttackEditor;
using battle::GameCore;
using board::KeyCodeDown;
using board::KeyCodeLeft;
using board::KeyCodeUp;
using testing::boardText;
using testing::gemFromLetter;
using testing::loadBoard;
using testing::RecordingPorts;
using Lines = std::vector<std::string>;

namespace {

const std::string EmptyRow = "......\n";

std::string rows(int count, const std::string& row = EmptyRow) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += row;
    return text;
}

// A board text from its lowest rows only (bottom row last); the rows above are empty.
std::string bottom(const std::string& lowRows) {
    int lines = 0;
    for (char ch : lowRows)
        lines += ch == '\n';
    return rows(15 - lines) + lowRows;
}

// Six rows of pattern letters, top row (5) first, as the editor shows them.
common::AttackPattern pattern(const std::string& text) {
    std::string letters;
    for (char ch : text)
        if (ch != '\n' && ch != ' ')
            letters += ch;
    common::AttackPattern p{};
    std::size_t i = 0;
    for (int r = 5; r >= 0; --r)
        for (int c = 0; c < 6; ++c) {
            auto cell = gemFromLetter(letters[i++]);
            cell.CellIndex = static_cast<std::int16_t>(c + r * 6);
            p[static_cast<std::size_t>(c + r * 6)] = cell;
        }
    return p;
}

// Bob's pattern: each row tells itself apart; row 0 holds two crash gems.
const common::AttackPattern BobPattern = pattern("bbbbbb\n"
                                                 "gggggg\n"
                                                 "yyyyyy\n"
                                                 "rrrrrr\n"
                                                 "gbyrGB\n"
                                                 "rygbRY\n");

std::vector<int> recorded(const std::vector<std::int16_t>& list) {
    return std::vector<int>(list.begin(), list.end());
}

} // namespace

class TestBattle : public QObject {
    Q_OBJECT

    RecordingPorts rec;
    GameCore game;

    // Alice (5) on board 1 against Bob (9); Carol (12) waits. Bob's pattern is known.
    void seat(std::int32_t localId = 5) {
        game = GameCore{};
        rec = RecordingPorts{};
        game.setPorts(rec.ports());
        game.setPlayerTable(
            {{"5", "Alice", "0", "0"}, {"9", "Bob", "0", "0"}, {"12", "Carol", "1", "0"}});
        game.setLocalPlayerId(localId);
        game.setPatternTable({{"12", pattern(rows(6, "yyyyyy\n"))}, {"9", BobPattern}});
    }

    // The local board after a resolution of the given board, with pending counter gems.
    void resolve(const std::string& text, const std::string& pending = "00") {
        seat();
        loadBoard(game, 0, text);
        game.setIncoming(0, pending);
        rec.clear();
        game.HandleGameStatus();
    }

private slots:
    // --- destruction ---

    void aLoneCrashGemStaysAndScoresNothing() {
        resolve(bottom("..Ry..\n"
                       ".bGr..\n"));
        QCOMPARE(game.DestroyCount(), 0);
        QCOMPARE(boardText(game, 0), bottom("..Ry..\n"
                                            ".bGr..\n"));
        QCOMPARE(game.lblCCombo(0), std::string("0"));
        QCOMPARE(game.lblCScore(0), std::string("0"));
        QCOMPARE(rec.withoutDrawing(), (Lines{"send stats 1 0 0 0", "cleanup", "bgm 1"}));
    }

    void theGroupIsFoundBelowLeftAboveRightAndRemovedInThatOrder() {
        seat();
        loadBoard(game, 0,
                  bottom("..Bb..\n"
                         "..b...\n"));
        game.setDestroyCount(0);
        game.DestroyerGems(2, 1);
        QCOMPARE(game.DestroyCount(), 2);
        QCOMPARE(recorded(game.DestroyC()), (std::vector<int>{2, 2, 3}));
        QCOMPARE(recorded(game.DestroyR()), (std::vector<int>{1, 0, 1}));
        rec.clear();
        game.GetRideofGems();
        QCOMPARE(rec.events,
                 (Lines{"pause 75", "draw 0 8 3 16744576 0", "sound PahTush.wav 2", "repaint",
                        "pause 75", "draw 0 2 4 16744576 0", "sound PahTush.wav 2", "repaint",
                        "pause 75", "draw 0 9 4 16744576 0", "sound PahTush.wav 3", "repaint"}));
        QCOMPARE(boardText(game, 0), rows(15));
        // the cells read empty but keep the gems' shape and colour
        QCOMPARE(game.Grids(0, 2, 1).Shape, std::int16_t(common::ShapeCrash));
        QCOMPARE(game.Grids(0, 2, 1).Color, common::GemBlue);
    }

    void aRingIsRecordedOncePerCell() {
        seat();
        loadBoard(game, 0,
                  bottom("ggg...\n"
                         "g.g...\n"
                         "Ggg...\n"));
        game.setDestroyCount(0);
        game.DestroyerGems(0, 0);
        QCOMPARE(game.DestroyCount(), 7);
        QCOMPARE(recorded(game.DestroyC()), (std::vector<int>{0, 0, 0, 1, 2, 2, 2, 1}));
        QCOMPARE(recorded(game.DestroyR()), (std::vector<int>{0, 1, 2, 2, 2, 1, 0, 0}));
        // a later, smaller search cuts the old record off
        loadBoard(game, 0, bottom(".....Y\n"));
        game.setDestroyCount(0);
        game.DestroyerGems(5, 0);
        QCOMPARE(game.DestroyCount(), 0);
        QCOMPARE(game.DestroyC().size(), std::size_t(1));
    }

    void edgeGemsLookOnlyOnTheBoardAndTouchingCrashGemsGoTogether() {
        resolve(rows(1, "Rr...G\n") + rows(12) +
                "....gY\n"
                "....BB\n");
        // the red pair in the top-left corner goes first (column 0 is scanned
        // first), then the two blue crash gems; the green crash gem in the
        // top-right corner falls onto the yellow one and matches nothing
        QCOMPARE(boardText(game, 0), rows(13) + ".....G\n"
                                                "....gY\n");
        QCOMPARE(game.lblCCombo(0), std::string("2"));
        QCOMPARE(game.lblCChain(0), std::string("1"));
        QCOMPARE(game.lblCScore(0), std::string("30")); // 1×1×10 + 1×2×10
        QCOMPARE(rec.with("send"), (Lines{"send counter 3", "send stats 1 30 1 2"}));
    }

    // --- the resolution cycle ---

    void twoDestructionsMakeACombo() {
        // yellow crash gem with three yellows; then the blue crash gem falls onto two blues
        const std::string board = bottom("..b...\n"
                                         "yBb...\n"
                                         "Yyy...\n");
        resolve(board);
        QCOMPARE(boardText(game, 0), rows(15));
        QCOMPARE(game.lblCCombo(0), std::string("2"));
        QCOMPARE(game.lblCChain(0), std::string("2"));
        QCOMPARE(game.lblCScore(0), std::string("70"));
        QCOMPARE(game.lblBCombo(0), std::string("2"));
        QCOMPARE(game.lblBChain(0), std::string("3"));
        QCOMPARE(rec.with("send"), (Lines{"send counter 7", "send stats 1 70 3 2"}));
        // four removals, the fall of the blues, three removals
        QCOMPARE(rec.count("sound PahTush.wav"), 7);
        QCOMPARE(rec.count("sound Dink.wav"), 3);
        QCOMPARE(rec.count("pause 75"), 10);
        // seven against five pending: two go out, nothing stays
        resolve(board, "05");
        QCOMPARE(rec.with("send"), (Lines{"send counter 2", "send stats 1 70 3 2"}));
        QCOMPARE(game.lblIncoming(0), std::string("00"));
    }

    void anAttackBelowThePendingCountLaysTheRest() {
        Lines labels;
        seat();
        rec.onPause = [&] { labels.push_back(game.lblIncoming(0)); };
        loadBoard(game, 0, bottom("Rrrrr.\n"));
        game.setIncoming(0, "09");
        game.HandleGameStatus();
        QCOMPARE(rec.with("send"), (Lines{"send stats 1 40 4 1"}));
        // five removals, then five counter gems laid from 05 down, then their falls
        QCOMPARE(Lines(labels.begin() + 5, labels.begin() + 10),
                 (Lines{"04", "03", "02", "01", "00"}));
        QCOMPARE(boardText(game, 0), bottom("rygbR.\n"));
        QCOMPARE(game.lblIncoming(0), std::string("00"));
    }

    void withNoAttackTwelvePendingGemsAreLaid() {
        resolve(rows(15), "12");
        QCOMPARE(boardText(game, 0), bottom("gbyrGB\n"
                                            "rygbRY\n"));
        QCOMPARE(game.lblIncoming(0), std::string("00"));
        QCOMPARE(rec.with("send"), (Lines{"send stats 1 0 0 0"}));
        QCOMPARE(rec.with("bgm"), (Lines{"bgm 1"}));
    }

    void nothingPendingAndNothingDestroyedStillReportsTheFigures() {
        resolve(bottom("r.....\n"), "0");
        QCOMPARE(game.lblIncoming(0), std::string("00"));
        QCOMPARE(rec.withoutDrawing(), (Lines{"send stats 1 0 0 0", "cleanup", "bgm 0"}));
    }

    void counterGemsOnTheEntryCellLoseTheFight() {
        std::string text;
        for (int r = 14; r >= 0; --r)
            text += r == 14 ? "yyy...\n" : "yyyr..\n";
        seat();
        game.InitGame(); // the fall timer runs
        game.ClearGrids();
        loadBoard(game, 0, text);
        game.HandleGameStatus(); // full up to (3, 13): still fighting
        QCOMPARE(rec.count("send gameover"), 0);
        QVERIFY(game.tmrFallGems());
        game.setIncoming(0, "01");
        rec.clear();
        game.HandleGameStatus();
        QCOMPARE(game.Grids(0, 3, 14).Color, common::GemBlue); // pattern cell (3, 0)
        QCOMPARE(rec.withoutDrawing(),
                 (Lines{"pause 75", "send stats 1 0 0 0", "timer tmrFallGems off", "send gameover",
                        "cleanup", "bgm 14"}));
        QVERIFY(!game.tmrFallGems());
        QVERIFY(game.tmrUpdate());
    }

    void theMusicFollowsTheStackUnlessSwitchedOff() {
        seat();
        rec.bgmDisabled = true;
        loadBoard(game, 0,
                  bottom("....r.\n"
                         "......\n"
                         "y.....\n"));
        game.HandleGameStatus();
        QCOMPARE(rec.count("cleanup"), 1);
        QCOMPARE(rec.count("bgm"), 0);
        rec.bgmDisabled = false;
        game.HandleGameStatus();
        QCOMPARE(rec.with("bgm"), (Lines{"bgm 2"}));
        game.ClearGrids();
        rec.clear();
        game.HandleGameStatus();
        QCOMPARE(rec.withoutDrawing(), (Lines{"send stats 1 0 0 0", "cleanup"}));
    }

    void aWatchingClientResolvesNothing() {
        seat(12);
        loadBoard(game, 0, bottom("Rr....\n"));
        rec.clear();
        game.HandleGameStatus();
        game.Incoming();
        QVERIFY(rec.events.empty());
        QCOMPARE(boardText(game, 0), bottom("Rr....\n"));
    }

    // --- counter gems ---

    void fourCounterGemsComeFromTheFirstPatternRow() {
        Lines labels;
        seat();
        rec.onPause = [&] { labels.push_back(game.lblIncoming(0)); };
        game.setIncoming(0, "04");
        game.Incoming();
        QCOMPARE(labels, (Lines{"03", "02", "01", "00", "00", "00", "00", "00"}));
        QCOMPARE(boardText(game, 0), bottom("rygb..\n"));
        // each laid gem is drawn in the top row before its pause
        QCOMPARE(rec.events[0], std::string("draw 0 84 4 255 1"));
        QCOMPARE(rec.events[1], std::string("pause 75"));
        QCOMPARE(rec.events[2], std::string("repaint"));
    }

    void eightCounterGemsStartTheSecondRow() {
        seat();
        game.setIncoming(0, "08");
        game.Incoming();
        QCOMPARE(boardText(game, 0), bottom("gb....\n"
                                            "rygbRY\n"));
        QCOMPARE(game.lblIncoming(0), std::string("00"));
    }

    void aFullColumnIsSkippedInEveryPass() {
        seat();
        loadBoard(game, 0, rows(15, "..y...\n"));
        game.setIncoming(0, "12");
        game.Incoming();
        QCOMPARE(boardText(game, 0), rows(12, "..y...\n") + "rry...\n"
                                                            "gbyrGB\n"
                                                            "ryybRY\n");
        QCOMPARE(game.lblIncoming(0), std::string("00"));
    }

    void aFullRightColumnStopsTheLayingAtOnce() {
        seat();
        const std::string text = "y....y\n" + rows(14, "y....y\n");
        loadBoard(game, 0, text);
        game.setIncoming(0, "05");
        rec.clear();
        game.Incoming();
        QVERIFY(rec.events.empty());
        QCOMPARE(game.lblIncoming(0), std::string("05"));
        QCOMPARE(boardText(game, 0), text);
        // the laying stops at the first full column once column 5 is full: the
        // gems laid so far stay in the top row, unfallen
        seat();
        loadBoard(game, 0, rows(15, "..y..y\n"));
        game.setIncoming(0, "05");
        game.Incoming();
        QCOMPARE(game.lblIncoming(0), std::string("03"));
        QCOMPARE(boardText(game, 0), "ryy..y\n" + rows(14, "..y..y\n"));
    }

    void anOpponentWithoutAPatternLaysNothing() {
        seat(9); // Bob on board 2: his opponent Alice has sent no pattern
        game.setIncoming(1, "06");
        game.Incoming();
        QCOMPARE(game.lblIncoming(1), std::string("06"));
        QCOMPARE(boardText(game, 1), rows(15));
        QVERIFY(rec.events.empty());
    }

    // --- figures ---

    void highestFiguresTakeOnlyStrictlyGreaterValuesBoardOneFirst() {
        seat(12); // an onlooker keeps the highest figures the same way
        game.InitGame();
        game.setStatsLabels(0, "95", "4", "2");
        game.setStatsLabels(1, "95", "4", "3");
        game.HandleStats();
        QCOMPARE(game.lblHScore(), std::string("95 - Alice"));
        QCOMPARE(game.lblHChain(), std::string("4 - Alice"));
        QCOMPARE(game.lblHCombo(), std::string("3 - Bob"));
        for (int b = 0; b < 2; ++b) {
            QCOMPARE(game.lblCScore(b), std::string("0"));
            QCOMPARE(game.lblBChain(b), std::string("0"));
            QCOMPARE(game.lblBCombo(b), std::string("0"));
        }
        game.setStatsLabels(1, "95", "4", "3");
        game.HandleStats();
        QCOMPARE(game.lblHScore(), std::string("95 - Alice"));
        QCOMPARE(game.lblHCombo(), std::string("3 - Bob"));
        game.setStatsLabels(1, "100", "5", "3");
        game.HandleStats();
        QCOMPARE(game.lblHScore(), std::string("100 - Bob"));
        QCOMPARE(game.lblHChain(), std::string("5 - Bob"));
    }

    void gameOverClosesTheFightOnEveryClient() {
        seat();
        game.InitGame();
        game.KeyDown(KeyCodeDown);
        game.setStatsLabels(0, "120", "3", "2");
        game.setIncoming(0, "04");
        game.setIncoming(1, "07");
        const auto nextGems = std::array{game.NextGem(0), game.NextGem(1)};
        // the standings put the winner first; names are joined as they stand
        game.setPlayerTable({{"9", "Bob ", "1", "0"}, {"5", "Alice", "0", "1"}});
        rec.clear();
        game.HandleGameOver();
        QCOMPARE(game.lblWinner(), std::string("Bob  Wins!"));
        QCOMPARE(game.lblNxtMatch(), std::string("The Next Fight Will Be: Bob  Vs Alice"));
        QCOMPARE(game.lblP1Ready(), std::string("Bob  - Ready = No"));
        QCOMPARE(game.lblP2Ready(), std::string("Alice - Ready = No"));
        QCOMPARE(game.lblCountIn(), std::string("N/A"));
        QVERIFY(game.frmNxtMatch());
        QCOMPARE(rec.with("timer"), (Lines{"timer tmrFallGems off", "timer tmrUpdate off"}));
        QCOMPARE(rec.count("draw"), 180);
        QCOMPARE(boardText(game, 0), rows(15));
        QCOMPARE(game.lblHScore(), std::string("120 - Alice"));
        QCOMPARE(game.lblCScore(0), std::string("0"));
        // left alone: pending counters, the next pair, the patterns
        QCOMPARE(game.lblIncoming(0), std::string("04"));
        QCOMPARE(game.lblIncoming(1), std::string("07"));
        QCOMPARE(game.NextGem(0), nextGems[0]);
        QCOMPARE(game.NextGem(1), nextGems[1]);
        QCOMPARE(game.PatternTable().size(), std::size_t(2));
        // a repeated game over changes no highest figure
        game.HandleGameOver();
        QCOMPARE(game.lblHScore(), std::string("120 - Alice"));
        QCOMPARE(game.lblHCombo(), std::string("2 - Alice"));
    }

    void everyFightStartsWithNothingPendingOnAnyClient() {
        // The fighter: what was pending when the last fight ended is not laid in the next.
        seat();
        game.InitGame();
        game.setIncoming(0, "34");
        game.setIncoming(1, "12");
        game.HandleGameOver();
        game.InitGame();
        QCOMPARE(game.lblIncoming(0), std::string("00"));
        QCOMPARE(game.lblIncoming(1), std::string("00"));
        const std::string before = boardText(game, 0);
        rec.clear();
        game.HandleGameStatus();
        QCOMPARE(boardText(game, 0), before);
        QCOMPARE(rec.count("send counter"), 0);
        // The first snapshot of the new fight tells the others so.
        rec.clear();
        game.BoardUpdateTick();
        QCOMPARE(rec.with("send board"), (Lines{"send board 1 00"}));

        // A watcher's counters, mirrored from the last fight's snapshots, start over too.
        seat(12);
        game.setIncoming(0, "07");
        game.setIncoming(1, "21");
        game.InitGame();
        QCOMPARE(game.lblIncoming(0), std::string("00"));
        QCOMPARE(game.lblIncoming(1), std::string("00"));
        // Within a fight the counters still rise and fall as before.
        game.setIncoming(1, "05");
        QCOMPARE(game.lblIncoming(1), std::string("05"));
    }

    void theStartPanelShowsItsPlaceholders() {
        const GameCore fresh;
        QVERIFY(!fresh.frmNxtMatch());
        QCOMPARE(fresh.lblWinner(), std::string("<Player Name> Wins!"));
        QCOMPARE(fresh.lblP1Ready(), std::string("<Player1> Ready = <Y/N>"));
        QCOMPARE(fresh.lblCountIn(), std::string("0"));
        QCOMPARE(fresh.lblIncoming(1), std::string("00"));
        QCOMPARE(fresh.lblPlyName(1), std::string("Player 2"));
        QCOMPARE(fresh.lblHScore(), std::string("0"));
    }

    // --- the pattern editor ---

    void clicksCycleColoursAndToggleKinds() {
        seat();
        const double x = 700, y = 3500; // inside cell 0 only
        for (int i = 0; i < 4; ++i) {
            const std::int32_t expected[] = {common::GemYellow, common::GemGreen, common::GemBlue,
                                             common::GemRed};
            game.EditorMouseUp(AttackEditor::ButtonLeft, 0, x, y);
            QCOMPARE(game.attackEditor().Shape1(0).Color, expected[i]);
        }
        game.EditorMouseUp(AttackEditor::ButtonLeft, 0, x, y); // yellow
        game.EditorMouseUp(AttackEditor::ButtonRight, 0, x, y);
        QCOMPARE(game.attackEditor().Shape1(0).Shape, std::int16_t(common::ShapeCrash));
        game.EditorMouseUp(AttackEditor::ButtonRight, 1, x, y); // shift is ignored
        QCOMPARE(game.attackEditor().Shape1(0).Shape, std::int16_t(common::ShapeNormal));
        QCOMPARE(game.attackEditor().Shape1(0).Color, common::GemYellow);
        game.EditorMouseUp(4, 0, x, y); // middle button: nothing
        QCOMPARE(game.attackEditor().Shape1(0).Color, common::GemYellow);
        QVERIFY(rec.events.empty()); // nothing is sent before Apply
    }

    void sharedEdgesBelongToTheLowerNumberedCell() {
        seat();
        game.EditorMouseUp(AttackEditor::ButtonLeft, 0, 960, 3500); // columns 0 and 1 overlap
        QCOMPARE(game.attackEditor().Shape1(0).Color, common::GemYellow);
        QCOMPARE(game.attackEditor().Shape1(1).Color, common::GemRed);
        game.EditorMouseUp(AttackEditor::ButtonLeft, 0, 1500, 3250); // rows 0 and 1 overlap
        QCOMPARE(game.attackEditor().Shape1(2).Color, common::GemYellow);
        QCOMPARE(game.attackEditor().Shape1(8).Color, common::GemRed);
        game.EditorMouseUp(AttackEditor::ButtonLeft, 0, 3375, 840); // top-right corner: cell 35
        QCOMPARE(game.attackEditor().Shape1(35).Color, common::GemYellow);
        const auto before = game.attackEditor().Shape1(5);
        for (auto [px, py] :
             {std::pair{479.0, 3500.0}, {3376.0, 3500.0}, {700.0, 839.0}, {700.0, 3736.0}})
            game.EditorMouseUp(AttackEditor::ButtonLeft, 0, px, py);
        QCOMPARE(game.attackEditor().Shape1(5), before);
        for (int k : {1, 3, 4, 6, 29, 30, 34})
            QCOMPARE(game.attackEditor().Shape1(k).Color, common::GemRed);
        QVERIFY(rec.with("box").empty());
    }

    void applyMakesTheGridTheOwnPatternAndSendsIt() {
        seat();
        game.EditorMouseUp(AttackEditor::ButtonRight, 0, 3200, 1000); // cell 35: (5, 5)
        game.EditorMouseUp(AttackEditor::ButtonLeft, 0, 1000, 3600);  // cell 1: (1, 0)
        game.cmdApply_Click();
        const auto& own = game.OwnPattern();
        for (int k = 0; k < 36; ++k) {
            QVERIFY(own[static_cast<std::size_t>(k)].Occupied);
            QCOMPARE(own[static_cast<std::size_t>(k)].CellIndex, std::int16_t(k));
        }
        QCOMPARE(own[35].Shape, std::int16_t(common::ShapeCrash));
        QCOMPARE(own[1].Color, common::GemYellow);
        QCOMPARE(own[0], (common::GemCell{true, common::ShapeNormal, 0, common::GemRed}));
        QCOMPARE(rec.with("send"), (Lines{"send pattern"}));
        QCOMPARE(rec.patterns.back(), own);
        // later clicks change nothing sent until the next Apply
        game.EditorMouseUp(AttackEditor::ButtonLeft, 0, 1000, 3600);
        QCOMPARE(game.OwnPattern()[1].Color, common::GemYellow);
        game.cmdApply_Click();
        QCOMPARE(rec.patterns.back()[1].Color, common::GemGreen);
    }

    // --- the board snapshot and the end of control ---

    void theSnapshotIsSentOnlyWhileFightingOnTheStartBoard() {
        seat();
        game.BoardUpdateTick(); // no fight yet
        QVERIFY(rec.events.empty());
        game.InitGame();
        game.setIncoming(0, "03");
        rec.clear();
        game.BoardUpdateTick();
        QCOMPARE(rec.events, (Lines{"send board 1 03"}));
        QCOMPARE(rec.boardStates.back(), game.boardCells(0));
        QVERIFY(rec.boardStates.back()[87].Occupied); // (3, 14): the entered pair
        // the table moves the local player to board 2 mid-fight: silence
        game.setPlayerTable({{"9", "Bob", "1", "0"}, {"5", "Alice", "0", "1"}});
        rec.clear();
        game.BoardUpdateTick();
        QVERIFY(rec.events.empty());
        // back on board 1, then the fight ends
        game.setPlayerTable({{"5", "Alice", "1", "0"}, {"9", "Bob", "0", "1"}});
        game.BoardUpdateTick();
        QCOMPARE(rec.count("send board"), 1);
        game.HandleGameOver();
        rec.clear();
        game.BoardUpdateTick();
        QVERIFY(rec.events.empty());
    }

    void afterTheFightNoKeyMovesTheLastPair() {
        seat();
        game.InitGame();
        game.KeyDown(KeyCodeDown, 0);
        game.HandleGameOver();
        rec.clear();
        for (int key : {KeyCodeLeft, KeyCodeUp, board::KeyCodeRight, KeyCodeDown})
            game.KeyDown(key);
        game.FallTick();
        QVERIFY(rec.events.empty());
        QCOMPARE(boardText(game, 0), rows(15));
        QCOMPARE(game.PairC(0), 3);
        QCOMPARE(game.PairR(0), 12);
    }

    // --- copies ---

    void aDetachedCopyPlaysOnWithoutTouchingTheLiveGame() {
        seat();
        game.InitGame();
        rec.clear();
        GameCore sim = game;
        sim.detachPorts();
        for (int i = 0; i < 200; ++i)
            sim.KeyDown(i % 7 == 0 ? KeyCodeLeft : KeyCodeDown);
        QVERIFY(sim.lblCScore(0) != std::string("0") || boardText(sim, 0) != boardText(game, 0));
        QVERIFY(rec.events.empty());
        QCOMPARE(game.PairR(0), 13);
        QCOMPARE(boardText(game, 0), rows(1, "...r..\n") + rows(1, "...G..\n") + rows(13));
        // the live random source did not move: its next pair is the third of the run
        board::RandomSource reference;
        for (int i = 0; i < 4; ++i)
            reference.nextRaw();
        game.MakeNewGems();
        QCOMPARE(game.NextGem(0).Shape, std::int16_t(reference.nextBelow(8) >= 4 ? 3 : 4));
        QCOMPARE(rec.with("send"), (Lines{"send nextpair 1 4 65535 4 16744576"}));
    }

    // --- a whole fight ---

    void aScriptedFightEndsInALoss() {
        // Only the Down key, from a fresh start: every pair stacks up in column 3.
        // The 15th pair lands on the 13 gems left in the column and fills (3, 14).
        seat();
        game.InitGame();
        const int downsPerPair[] = {14, 12, 12, 10, 10, 10, 8, 6, 6, 7, 7, 5, 5, 3, 1};
        int pair = 0;
        for (int downs : downsPerPair) {
            ++pair;
            if (pair == 1) // a full turn of the fresh pair first: right, left, below again
                for (int i = 0; i < 3; ++i)
                    game.KeyDown(KeyCodeUp);
            for (int i = 0; i < downs; ++i) {
                QVERIFY2(rec.count("send gameover") == 0, "lost too early");
                game.KeyDown(KeyCodeDown);
            }
            QCOMPARE(rec.count("send stats"), pair);
        }
        QCOMPARE(rec.count("send gameover"), 1);
        // the lost board keeps the last pair drawn at the entry cells
        QCOMPARE(boardText(game, 0), "...r..\n...y..\n...b..\n...b..\n...r..\n"
                                     "...B..\n...g..\n...y..\n...g..\n...g..\n"
                                     "...r..\n...r..\n...y..\n...r..\n...G..\n");
        QCOMPARE(rec.with("send counter"),
                 (Lines{"send counter 1", "send counter 1", "send counter 1", "send counter 1",
                        "send counter 2", "send counter 1", "send counter 1"}));
        QCOMPARE(rec.with("send stats"),
                 (Lines{"send stats 1 0 0 0", "send stats 1 10 1 1", "send stats 1 10 1 1",
                        "send stats 1 20 1 1", "send stats 1 30 1 1", "send stats 1 30 1 1",
                        "send stats 1 30 1 1", "send stats 1 40 1 1", "send stats 1 60 2 1",
                        "send stats 1 70 2 1", "send stats 1 70 2 1", "send stats 1 80 2 1",
                        "send stats 1 80 2 1", "send stats 1 80 2 1", "send stats 1 80 2 1"}));
        QCOMPARE(rec.count("send nextpair"), 17);
        QCOMPARE(rec.with("send").back(), std::string("send nextpair 1 4 16744576 4 255"));
        QCOMPARE(rec.with("bgm"),
                 (Lines{"bgm 1", "bgm 1", "bgm 3", "bgm 3", "bgm 3", "bgm 5", "bgm 7", "bgm 7",
                        "bgm 6", "bgm 6", "bgm 8", "bgm 8", "bgm 10", "bgm 12", "bgm 14"}));
        QCOMPARE(rec.count("sound Dink.wav 3"), 15 * 3 + 2);
        QCOMPARE(rec.count("sound PahTush.wav 3"), 15);
        QCOMPARE(rec.count("sound"), 15 * 3 + 2 + 15);
        QCOMPARE(rec.count("cleanup"), 15);
        QCOMPARE(rec.count("pause 75"), 17);
        QCOMPARE(game.lblCScore(0), std::string("80"));
        QCOMPARE(game.lblBChain(0), std::string("2"));
        QCOMPARE(game.lblBCombo(0), std::string("1"));
        QCOMPARE(game.lblCCombo(0), std::string("0"));
        QCOMPARE(game.lblIncoming(0), std::string("00"));
        QVERIFY(!game.tmrFallGems());
        // the lost client's keys no longer move anything
        const std::string lost = boardText(game, 0);
        const auto sent = rec.count("send");
        for (int i = 0; i < 5; ++i)
            game.KeyDown(i % 2 ? KeyCodeLeft : KeyCodeDown);
        QCOMPARE(boardText(game, 0), lost);
        QCOMPARE(rec.count("send"), sent);
        // the server's game over: Bob won, the figures close
        game.setPlayerTable({{"9", "Bob", "1", "0"}, {"5", "Alice", "0", "1"}});
        game.HandleGameOver();
        QCOMPARE(game.lblHScore(), std::string("80 - Alice"));
        QCOMPARE(game.lblHChain(), std::string("2 - Alice"));
        QCOMPARE(game.lblWinner(), std::string("Bob Wins!"));
    }
};

QTEST_GUILESS_MAIN(TestBattle)
#include "tst_battle.moc"
