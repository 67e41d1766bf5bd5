// Board and piece play through board::Board's public interface, with every
// port faked and recorded: the store and its primitives, pair generation, the
// controls and gravity. Boards are written as text, top row first.
#include "Client/board/Board.h"
#include "Client/board/RandomSource.h"
#include "tests/support/BoardText.h"
#include "tests/support/RecordingPorts.h"

#include <QtTest>

using namespace gemvolt;
using board::Board;
using board::KeyCodeDown;
using board::KeyCodeLeft;
using board::KeyCodeRight;
using board::KeyCodeUp;
using testing::boardText;
using testing::gemFromLetter;
using testing::loadBoard;
using testing::RecordingPorts;

namespace {

const std::string Empty = "......\n......\n......\n......\n......\n"
                          "......\n......\n......\n......\n......\n"
                          "......\n......\n......\n......\n......\n";

// Alice (id 5) and Bob (id 9) fight; the local player is chosen by id.
void seatPlayers(Board& game, std::int32_t localId) {
    game.setPlayerTable(
        {{"5", "Alice", "0", "0"}, {"9", "Bob", "0", "0"}, {"12", "Carol", "1", "0"}});
    game.setLocalPlayerId(localId);
}

struct Pos {
    int c0, r0, c1, r1;
    friend bool operator==(const Pos&, const Pos&) = default;
};

Pos pairPos(const Board& game) {
    return {game.PairC(0), game.PairR(0), game.PairC(1), game.PairR(1)};
}

char letterAt(const Board& game, int b, int c, int r) {
    return testing::gemLetter(game.Grids(b, c, r));
}

void press(Board& game, int key, int times = 1) {
    for (int i = 0; i < times; ++i)
        game.KeyDown(key);
}

} // namespace

namespace QTest {
template <> char* toString(const Pos& p) {
    return qstrdup(QByteArray("(") + QByteArray::number(p.c0) + "," + QByteArray::number(p.r0) +
                   ")/(" + QByteArray::number(p.c1) + "," + QByteArray::number(p.r1) + ")");
}
} // namespace QTest

class TestBoard : public QObject {
    Q_OBJECT

    RecordingPorts rec;
    Board game;

    // A fight on board 1, started on the given board text (InitGame does not clear).
    void startOn(const std::string& text, std::int32_t localId = 5) {
        game = Board{};
        rec = RecordingPorts{};
        game.setPorts(rec.ports());
        seatPlayers(game, localId);
        loadBoard(game, localId == 9 ? 1 : 0, text);
        game.InitGame();
        rec.clear();
    }

private slots:
    // --- the store and its primitives ---

    void clearGridsEmptiesBothBoardsAndHidesEveryCell() {
        startOn(Empty);
        loadBoard(game, 1, "GGGGGG" + Empty.substr(7));
        const auto nextBefore = game.NextGem(0);
        const Pos pairBefore = pairPos(game);
        rec.clear();
        game.ClearGrids();
        for (int b = 0; b < 2; ++b)
            for (int r = 0; r < 15; ++r)
                for (int c = 0; c < 6; ++c) {
                    const auto& cell = game.Grids(b, c, r);
                    QVERIFY(!cell.Occupied);
                    QCOMPARE(cell.Shape, std::int16_t(0));
                    QCOMPARE(cell.Color, 0);
                    QCOMPARE(cell.CellIndex, std::int16_t(r * 6 + c));
                }
        QCOMPARE(rec.count("draw"), 180);
        QCOMPARE(rec.count("draw 0 89 0 0 0"), 1);
        QCOMPARE(rec.count("draw 1 0 0 0 0"), 1);
        QCOMPARE(game.NextGem(0), nextBefore);
        QCOMPARE(pairPos(game), pairBefore);
        QVERIFY(game.PairActive());
    }

    void whatPlayerFindsTheLocalBoardInRowsZeroAndOne() {
        Board g;
        QCOMPARE(g.whatPlayer(), 0); // empty table, local id still 0
        seatPlayers(g, 5);
        QCOMPARE(g.whatPlayer(), 1);
        g.setLocalPlayerId(9);
        QCOMPARE(g.whatPlayer(), 2);
        g.setLocalPlayerId(12); // third in the queue: watching
        QCOMPARE(g.whatPlayer(), 0);
        g.setPlayerTable({{"5", "Alice", "0", "0"}});
        g.setLocalPlayerId(0); // before the roster: a missing row is no match
        QCOMPARE(g.whatPlayer(), 0);
        QCOMPARE(g.listID(1), std::string());
        QCOMPARE(g.listLosses(7), std::string());
        g.setPlayerTable({{"7", "A", "0", "0"}, {"7", "B", "0", "0"}});
        g.setLocalPlayerId(7);
        QCOMPARE(g.whatPlayer(), 1); // row 0 is tested first
    }

    void adjustGemsLeavesTheStaleGemBehindAndSetGemDrawsIt() {
        startOn(Empty);
        game.writeCell(0, 0, 0, gemFromLetter('B'));
        rec.clear();
        game.AdjustGems(0, 0, 2, 0);
        QCOMPARE(letterAt(game, 0, 2, 0), 'B');
        const auto& old = game.Grids(0, 0, 0);
        QVERIFY(!old.Occupied);
        QCOMPARE(old.Shape, std::int16_t(common::ShapeCrash));
        QCOMPARE(old.Color, common::GemBlue);
        QCOMPARE(old.CellIndex, std::int16_t(0));
        QCOMPARE(game.Grids(0, 2, 0).CellIndex, std::int16_t(2));
        QCOMPARE(rec.events,
                 (std::vector<std::string>{"draw 0 2 3 16744576 1", "draw 0 0 3 16744576 0"}));
        rec.clear();
        game.SetGem(1, 0, 0); // hidden, with the stale shape and colour
        game.SetGem(1, 2, 0);
        game.SetGem(2, 5, 14);
        QCOMPARE(rec.events,
                 (std::vector<std::string>{"draw 0 0 3 16744576 0", "draw 0 2 3 16744576 1",
                                           "draw 1 89 0 0 0"}));
    }

    // --- pair generation ---

    void aFightStartsWithTwoAnnouncedPairsAndTheFirstOneEntered() {
        game = Board{};
        rec = RecordingPorts{};
        game.setPorts(rec.ports());
        seatPlayers(game, 5);
        game.InitGame();
        // The fixed sequence: a green crash gem under a red normal gem, then a
        // blue crash gem under a blue normal gem.
        QCOMPARE(rec.with("send"),
                 (std::vector<std::string>{"send nextpair 1 3 49152 4 255",
                                           "send nextpair 1 3 16744576 4 16744576"}));
        QCOMPARE(rec.with("timer"),
                 (std::vector<std::string>{"timer tmrFallGems on", "timer tmrUpdate on"}));
        QCOMPARE(pairPos(game), (Pos{3, 13, 3, 14}));
        QCOMPARE(letterAt(game, 0, 3, 13), 'G');
        QCOMPARE(letterAt(game, 0, 3, 14), 'r');
        QCOMPARE(game.NextGem(0), (board::NextGemCell{common::ShapeCrash, common::GemBlue}));
        QCOMPARE(game.NextGem(1), (board::NextGemCell{common::ShapeNormal, common::GemBlue}));
        QCOMPARE(game.NextGem(2), board::NextGemCell{});
        QVERIFY(game.PairActive());
        QCOMPARE(game.lblPlyName(0), std::string("Alice"));
        QCOMPARE(game.lblPlyName(1), std::string("Bob"));
        QCOMPARE(rec.count("draw 0 87 4 255 1"), 1); // (3, 14) shown
        QCOMPARE(rec.count("draw 0 81 3 49152 1"), 1);
    }

    void boardTwoUsesItsOwnNextCellsAndWidgets() {
        game = Board{};
        rec = RecordingPorts{};
        game.setPorts(rec.ports());
        seatPlayers(game, 9);
        game.InitGame();
        QCOMPARE(game.whatPlayer(), 2);
        QCOMPARE(letterAt(game, 1, 3, 13), 'G');
        QVERIFY(!game.Grids(0, 3, 13).Occupied);
        QCOMPARE(game.NextGem(2), (board::NextGemCell{common::ShapeCrash, common::GemBlue}));
        QCOMPARE(game.NextGem(0), board::NextGemCell{});
        QCOMPARE(rec.count("next 0"), 0);
        QCOMPARE(rec.count("next 2"), 2);
        QCOMPARE(rec.count("send nextpair 2"), 2);
        QCOMPARE(rec.count("draw 1 87"), 1);
    }

    void aWatchingClientOnlyShowsTheNames() {
        game = Board{};
        rec = RecordingPorts{};
        game.setPorts(rec.ports());
        seatPlayers(game, 12);
        game.InitGame();
        QCOMPARE(game.lblPlyName(0), std::string("Alice"));
        QCOMPARE(game.lblPlyName(1), std::string("Bob"));
        QVERIFY(rec.events.empty());
        QVERIFY(!game.tmrFallGems());
        QVERIFY(!game.PairActive());
        QCOMPARE(boardText(game, 0), Empty);
        QCOMPARE(boardText(game, 1), Empty);
        // and its keys do nothing
        press(game, KeyCodeDown);
        press(game, KeyCodeLeft);
        QVERIFY(rec.events.empty());
    }

    void pairsFollowTheFixedSequenceWithFairOdds() {
        Board g;
        seatPlayers(g, 5);
        board::RandomSource reference;
        int crash = 0;
        std::array<int, 4> lowerColours{}, upperColours{};
        const auto slot = [](std::int32_t c) {
            return c == common::GemRed      ? 0
                   : c == common::GemYellow ? 1
                   : c == common::GemGreen  ? 2
                                            : 3;
        };
        const int pairs = 8000;
        for (int i = 0; i < pairs; ++i) {
            g.MakeNewGems();
            const auto lower = g.NextGem(0), upper = g.NextGem(1);
            // the lower gem is drawn first: eight kinds, then four normal colours
            const int d = reference.nextBelow(8), u = reference.nextBelow(4);
            QCOMPARE(lower.Shape, std::int16_t(d >= 4 ? 3 : 4));
            QCOMPARE(slot(lower.Color), d % 4);
            QCOMPARE(slot(upper.Color), u);
            QCOMPARE(upper.Shape, std::int16_t(common::ShapeNormal));
            crash += lower.Shape == common::ShapeCrash;
            ++lowerColours[static_cast<std::size_t>(slot(lower.Color))];
            ++upperColours[static_cast<std::size_t>(slot(upper.Color))];
        }
        QVERIFY(crash > pairs * 45 / 100 && crash < pairs * 55 / 100);
        for (int k = 0; k < 4; ++k) {
            QVERIFY(lowerColours[static_cast<std::size_t>(k)] > pairs / 5);
            QVERIFY(upperColours[static_cast<std::size_t>(k)] > pairs / 5);
        }
    }

    void useNextGemsOverwritesTheEntryCells() {
        startOn("......\n"
                "...yy.\n" +
                Empty.substr(14));
        // InitGame already wrote the first pair over (3, 13) and (3, 14)
        QCOMPARE(letterAt(game, 0, 3, 14), 'r');
        QCOMPARE(letterAt(game, 0, 3, 13), 'G');
        QCOMPARE(letterAt(game, 0, 4, 13), 'y');
    }

    // --- controls ---

    void upTurnsElementZeroCounterClockwiseAroundElementOne() {
        startOn(Empty);
        press(game, KeyCodeDown, 3); // (3,10)/(3,11)
        QCOMPARE(pairPos(game), (Pos{3, 10, 3, 11}));
        press(game, KeyCodeUp);
        QCOMPARE(pairPos(game), (Pos{4, 11, 3, 11})); // right
        press(game, KeyCodeUp);
        QCOMPARE(pairPos(game), (Pos{3, 12, 3, 11})); // above
        press(game, KeyCodeUp);
        QCOMPARE(pairPos(game), (Pos{2, 11, 3, 11})); // left
        press(game, KeyCodeUp);
        QCOMPARE(pairPos(game), (Pos{3, 10, 3, 11})); // below again
        QCOMPARE(letterAt(game, 0, 3, 10), 'G');
        QCOMPARE(letterAt(game, 0, 3, 11), 'r');
        QVERIFY(!game.Grids(0, 2, 11).Occupied);
        QVERIFY(!game.Grids(0, 4, 11).Occupied);
        QVERIFY(!game.Grids(0, 3, 12).Occupied);
        QVERIFY(rec.with("sound").empty()); // keys play nothing and send nothing
        QVERIFY(rec.with("send").empty());
    }

    void upOnAFreshPairAtTheTopGoesRightThenFlipsLeft() {
        startOn(Empty);
        press(game, KeyCodeUp);
        QCOMPARE(pairPos(game), (Pos{4, 14, 3, 14}));
        press(game, KeyCodeUp); // above is off the board: flips to the left
        QCOMPARE(pairPos(game), (Pos{2, 14, 3, 14}));
    }

    void leftStopsAtTheWallWhicheverElementLeads() {
        startOn(Empty);
        press(game, KeyCodeLeft, 5);
        QCOMPARE(pairPos(game), (Pos{0, 13, 0, 14}));
        startOn(Empty);
        press(game, KeyCodeUp); // (4,14) right of (3,14)
        press(game, KeyCodeUp); // (2,14) left of (3,14)
        press(game, KeyCodeLeft, 4);
        QCOMPARE(pairPos(game), (Pos{0, 14, 1, 14})); // element 0 leads, stops at column 0
        startOn(Empty);
        press(game, KeyCodeUp); // element 0 right: element 1 leads to the left
        press(game, KeyCodeLeft, 5);
        QCOMPARE(pairPos(game), (Pos{1, 14, 0, 14}));
        QCOMPARE(letterAt(game, 0, 0, 14), 'r');
        QCOMPARE(letterAt(game, 0, 1, 14), 'G');
    }

    void aSideMoveTestsOnlyTheCellInFrontOfTheLeader() {
        // Element 1 on the left: the cell left of element 0 is element 1's own
        // and is not tested; only the cell left of element 1 decides.
        startOn(Empty);
        press(game, KeyCodeUp); // (4,14)/(3,14)
        press(game, KeyCodeLeft);
        QCOMPARE(pairPos(game), (Pos{3, 14, 2, 14}));
        game.writeCell(0, 1, 14, gemFromLetter('y'));
        press(game, KeyCodeLeft);
        QCOMPARE(pairPos(game), (Pos{3, 14, 2, 14}));
        // a vertical pair needs both cells beside it
        startOn("......\n"
                "......\n"
                "......\n"
                "..y...\n" +
                Empty.substr(28));
        press(game, KeyCodeDown); // (3,12)/(3,13)
        press(game, KeyCodeLeft); // (2,12) and (2,13) free; the gem at (2,11) is below
        QCOMPARE(pairPos(game), (Pos{2, 12, 2, 13}));
        game.writeCell(0, 3, 13, gemFromLetter('b')); // beside element 1 only
        press(game, KeyCodeRight);
        QCOMPARE(pairPos(game), (Pos{2, 12, 2, 13}));
        game.writeCell(0, 3, 13, common::GemCell{});
        press(game, KeyCodeRight, 3);
        QCOMPARE(pairPos(game), (Pos{5, 12, 5, 13}));
        game.writeCell(0, 4, 13, gemFromLetter('b')); // beside element 1 only
        press(game, KeyCodeLeft);
        QCOMPARE(pairPos(game), (Pos{5, 12, 5, 13}));
    }

    void rotationOnTheFloorFlipsOrClimbs() {
        // element 0 left of element 1 on the bottom row: below is off the board,
        // so element 0 jumps to the right of element 1
        startOn(Empty);
        press(game, KeyCodeUp, 2); // (2,14) left of (3,14)
        press(game, KeyCodeDown, 14);
        QCOMPARE(pairPos(game), (Pos{2, 0, 3, 0}));
        press(game, KeyCodeUp);
        QCOMPARE(pairPos(game), (Pos{4, 0, 3, 0}));
        QCOMPARE(letterAt(game, 0, 4, 0), 'G');
        QVERIFY(!game.Grids(0, 2, 0).Occupied);
        // element 1 in column 5: it cannot flip, so element 0 climbs above
        startOn(Empty);
        press(game, KeyCodeUp, 2);
        press(game, KeyCodeRight, 2);
        QCOMPARE(pairPos(game), (Pos{4, 14, 5, 14}));
        press(game, KeyCodeDown, 14);
        press(game, KeyCodeUp);
        QCOMPARE(pairPos(game), (Pos{5, 1, 5, 0}));
        // and with that cell taken too, nothing moves
        startOn(Empty);
        press(game, KeyCodeUp, 2);
        press(game, KeyCodeRight, 2);
        press(game, KeyCodeDown, 14);
        game.writeCell(0, 5, 1, gemFromLetter('b'));
        press(game, KeyCodeUp);
        QCOMPARE(pairPos(game), (Pos{4, 0, 5, 0}));
    }

    void rotationAgainstTheLeftWallPrefersBelowToRight() {
        startOn(Empty);
        press(game, KeyCodeLeft, 3);
        press(game, KeyCodeDown, 3); // (0,10)/(0,11)
        press(game, KeyCodeUp, 2);   // right, then above
        QCOMPARE(pairPos(game), (Pos{0, 12, 0, 11}));
        press(game, KeyCodeUp); // left of element 1 is off the board: below, not right
        QCOMPARE(pairPos(game), (Pos{0, 10, 0, 11}));
    }

    void rotationAgainstTheRightWallTriesAboveThenLeft() {
        startOn(Empty);
        press(game, KeyCodeRight, 2);
        press(game, KeyCodeDown, 6); // (5,7)/(5,8)
        QCOMPARE(pairPos(game), (Pos{5, 7, 5, 8}));
        press(game, KeyCodeUp); // right of element 1 is off the board: above, two rows up
        QCOMPARE(pairPos(game), (Pos{5, 9, 5, 8}));
        press(game, KeyCodeUp, 2); // above → left → below
        QCOMPARE(pairPos(game), (Pos{5, 7, 5, 8}));
        game.writeCell(0, 5, 9, gemFromLetter('y')); // blocks "above"
        press(game, KeyCodeUp);
        QCOMPARE(pairPos(game), (Pos{4, 8, 5, 8})); // left of element 1
        press(game, KeyCodeUp);                     // left → below: (5,7) free
        QCOMPARE(pairPos(game), (Pos{5, 7, 5, 8}));
        game.writeCell(0, 4, 8, gemFromLetter('y'));
        press(game, KeyCodeUp); // every candidate blocked
        QCOMPARE(pairPos(game), (Pos{5, 7, 5, 8}));
        QCOMPARE(letterAt(game, 0, 5, 7), 'G');
        QCOMPARE(letterAt(game, 0, 5, 8), 'r');
    }

    void aSplitPairTakesOnlyTheDownKey() {
        // right gem over a hole, left gem lands on a gem at (3, 0)
        startOn("......\n......\n......\n......\n......\n"
                "......\n......\n......\n......\n......\n"
                "......\n......\n......\n......\n"
                "...y..\n");
        press(game, KeyCodeUp); // (4,14)/(3,14)
        press(game, KeyCodeDown, 13);
        QCOMPARE(pairPos(game), (Pos{4, 1, 3, 1}));
        QVERIFY(game.PairActive());
        rec.clear();
        press(game, KeyCodeDown); // element 1 rests, element 0 drops
        QCOMPARE(pairPos(game), (Pos{4, 0, 3, 1}));
        QVERIFY(!game.PairActive());
        QCOMPARE(rec.with("sound"), (std::vector<std::string>{"sound Dink.wav 3"}));
        press(game, KeyCodeLeft);
        press(game, KeyCodeRight);
        press(game, KeyCodeUp);
        QCOMPARE(pairPos(game), (Pos{4, 0, 3, 1}));
        rec.clear();
        press(game, KeyCodeDown); // both rest: one more sound at the leftmost column
        QCOMPARE(rec.with("sound"), (std::vector<std::string>{"sound Dink.wav 3"}));
        QCOMPARE(rec.count("send nextpair"), 1);
        QCOMPARE(pairPos(game), (Pos{3, 13, 3, 14}));
        QVERIFY(game.PairActive());
        QCOMPARE(letterAt(game, 0, 4, 0), 'G');
        QCOMPARE(letterAt(game, 0, 3, 1), 'r');
    }

    // --- gravity ---

    void aVerticalPairLandsWholeWithThreeSounds() {
        startOn(Empty);
        press(game, KeyCodeLeft, 2); // column 1
        press(game, KeyCodeDown, 13);
        QCOMPARE(pairPos(game), (Pos{1, 0, 1, 1}));
        rec.clear();
        game.FallTick();
        QCOMPARE(
            rec.with("sound"),
            (std::vector<std::string>{"sound Dink.wav 1", "sound Dink.wav 1", "sound Dink.wav 1"}));
        QCOMPARE(rec.with("send"),
                 (std::vector<std::string>{"send nextpair 1 4 65535 4 16744576"}));
        QCOMPARE(pairPos(game), (Pos{3, 13, 3, 14}));
        QCOMPARE(letterAt(game, 0, 1, 0), 'G');
        QCOMPARE(letterAt(game, 0, 1, 1), 'r');
        QCOMPARE(letterAt(game, 0, 3, 13), 'B'); // the second pair entered
        QCOMPARE(letterAt(game, 0, 3, 14), 'b');
    }

    void aPairStandingOnAGemLandsAndAnUpperElementZeroFollowsItsPivot() {
        // element 0 above element 1: the cell under element 1 decides for both
        startOn("......\n......\n......\n......\n......\n"
                "......\n......\n......\n......\n......\n"
                "......\n......\n......\n"
                "......\n"
                "...b..\n");
        press(game, KeyCodeDown, 2); // (3,11)/(3,12)
        press(game, KeyCodeUp, 2);   // element 0 above: (3,13)/(3,12)
        QCOMPARE(pairPos(game), (Pos{3, 13, 3, 12}));
        press(game, KeyCodeDown, 11);
        QCOMPARE(pairPos(game), (Pos{3, 2, 3, 1}));
        QVERIFY(game.PairActive());
        rec.clear();
        press(game, KeyCodeDown);
        QCOMPARE(rec.count("sound"), 3);
        QCOMPARE(letterAt(game, 0, 3, 1), 'r');
        QCOMPARE(letterAt(game, 0, 3, 2), 'G');
        QCOMPARE(letterAt(game, 0, 3, 0), 'b');
    }

    void aPairEnteringOverAFullColumnIsBlockedOnItsFirstTick() {
        startOn("......\n......\n"
                "...y..\n"
                "...y..\n" +
                Empty.substr(28));
        // the entering pair sits on (3, 12): blocked at once
        rec.clear();
        game.FallTick();
        QCOMPARE(rec.count("sound"), 3);
        QCOMPARE(rec.count("send nextpair"), 1);
        QCOMPARE(pairPos(game), (Pos{3, 13, 3, 14}));
    }

    void fallGemsPacksEachColumnWithOnePauseAndSoundPerMovedGem() {
        startOn(Empty);
        // column 0: gems at rows 0, 2, 5; column 4 has no hole
        game.writeCell(0, 0, 0, gemFromLetter('r'));
        game.writeCell(0, 0, 2, gemFromLetter('Y'));
        game.writeCell(0, 0, 5, gemFromLetter('b'));
        game.writeCell(0, 4, 0, gemFromLetter('g'));
        game.writeCell(0, 4, 1, gemFromLetter('g'));
        rec.clear();
        game.FallGems();
        QCOMPARE(rec.withoutDrawing(),
                 (std::vector<std::string>{"pause 75", "sound Dink.wav 0", "pause 75",
                                           "sound Dink.wav 0", "pause 75", "sound Dink.wav 3",
                                           "pause 75", "sound Dink.wav 3"}));
        QCOMPARE(rec.count("repaint"), 4);
        QCOMPARE(letterAt(game, 0, 0, 0), 'r');
        QCOMPARE(letterAt(game, 0, 0, 1), 'Y');
        QCOMPARE(letterAt(game, 0, 0, 2), 'b');
        QVERIFY(!game.Grids(0, 0, 5).Occupied);
        QCOMPARE(letterAt(game, 0, 4, 1), 'g');
        // the falling pair in column 3 is part of the store and falls like any gem
        QCOMPARE(letterAt(game, 0, 3, 0), 'G');
        QCOMPARE(letterAt(game, 0, 3, 1), 'r');
    }

    // --- guards ---

    void keysAndTicksStopWhenTheLocalBoardChangesMidFight() {
        startOn(Empty);
        press(game, KeyCodeDown, 2);
        const std::string before = boardText(game, 0);
        // the table now puts the local player on board 2
        game.setPlayerTable({{"9", "Bob", "1", "0"}, {"5", "Alice", "0", "1"}});
        rec.clear();
        press(game, KeyCodeLeft);
        press(game, KeyCodeUp);
        press(game, KeyCodeDown);
        game.FallTick();
        QVERIFY(rec.events.empty());
        QCOMPARE(boardText(game, 0), before);
        QCOMPARE(boardText(game, 1), Empty);
        QCOMPARE(pairPos(game), (Pos{3, 11, 3, 12}));
        // back on board 1, play goes on
        seatPlayers(game, 5);
        press(game, KeyCodeLeft);
        QCOMPARE(pairPos(game), (Pos{2, 11, 2, 12}));
    }

    void aStoppedFallTimerFreezesThePair() {
        // the shell's disconnect stops the fall timer mid-fight
        startOn(Empty);
        game.setTimerEnabled(board::Timer::FallGems, false);
        game.setTimerEnabled(board::Timer::FallGems, false);
        game.setTimerEnabled(board::Timer::CountDown, true);
        QCOMPARE(rec.events,
                 (std::vector<std::string>{"timer tmrFallGems off", "timer tmrCountDown on"}));
        QVERIFY(game.tmrCountDown());
        rec.clear();
        for (int key : {KeyCodeDown, KeyCodeLeft, KeyCodeUp, KeyCodeRight})
            press(game, key);
        game.FallTick();
        QVERIFY(rec.events.empty());
        QCOMPARE(pairPos(game), (Pos{3, 13, 3, 14}));
    }
};

QTEST_GUILESS_MAIN(TestBoard)
#include "tst_board.moc"
