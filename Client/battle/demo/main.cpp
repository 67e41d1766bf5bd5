// gemvolt-demo: one scripted fight on the game core, without windows or
// network. Alice plays board 1 with a fixed list of moves; every fourth
// landing Bob's counter gems arrive. After each landing the board is printed
// as text ('.' empty, r y g b normal gems, R Y G B crash gems, top row first)
// with the figures and the messages the client would have sent.
#include "Client/battle/GameCore.h"
#include "Common/NumberText.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace board = gemvolt::board;
namespace common = gemvolt::common;
using gemvolt::battle::GameCore;

namespace {

char letter(const common::GemCell& cell) {
    if (!cell.Occupied)
        return '.';
    char c = '?';
    switch (cell.Color) {
    case common::GemRed:
        c = 'r';
        break;
    case common::GemYellow:
        c = 'y';
        break;
    case common::GemGreen:
        c = 'g';
        break;
    case common::GemBlue:
        c = 'b';
        break;
    default:
        break;
    }
    return cell.Shape == common::ShapeCrash ? static_cast<char>(std::toupper(c)) : c;
}

// Writes down what the client would send, for the report after each landing.
class MessageLog : public board::MessagePort, public board::SoundPort {
public:
    std::vector<std::string> lines;
    int landings = 0;
    int sounds = 0;

    void SendNextPair(int b, std::int16_t ls, std::int32_t lc, std::int16_t us,
                      std::int32_t uc) override {
        lines.push_back("next pair for board " + std::to_string(b) + ": " +
                        letter({true, ls, 0, lc}) + " under " + letter({true, us, 0, uc}));
    }
    void SendCounterAttack(int count) override {
        lines.push_back("counter attack: " + std::to_string(count) + " gems at Bob");
    }
    void SendStats(int, std::int64_t score, std::int64_t chain, std::int64_t combo) override {
        ++landings;
        lines.push_back("stats: score " + std::to_string(score) + ", best chain " +
                        std::to_string(chain) + ", best combo " + std::to_string(combo));
    }
    void SendGameOver() override { lines.push_back("game over: the entry cell is taken"); }
    void SendBoardState(int, const std::array<common::GemCell, common::BoardCells>&,
                        const std::string&) override {}
    void SendAttackPattern(const common::AttackPattern&) override {}
    void PlaySound(const std::string&, int) override { ++sounds; }
    void CleanUpSndBuffer() override {}
    void SetBGMSpeed(int) override {}
    std::string txtGC() const override { return board::DefaultCollisionSound; }
    std::string txtGD() const override { return board::DefaultDestructionSound; }
    bool checkBGM() const override { return false; }
};

common::AttackPattern bobsPattern() {
    // Stripes of colour with a crash gem at each end of every row.
    static constexpr std::int32_t colors[] = {common::GemRed, common::GemYellow, common::GemGreen,
                                              common::GemBlue};
    common::AttackPattern p{};
    for (int k = 0; k < common::PatternCells; ++k) {
        const int c = k % 6, r = k / 6;
        p[static_cast<std::size_t>(k)] =
            common::GemCell{true, (c == 0 || c == 5) ? common::ShapeCrash : common::ShapeNormal,
                            static_cast<std::int16_t>(k), colors[(r + c / 2) % 4]};
    }
    return p;
}

void printBoard(const GameCore& game, int landing) {
    std::printf("\nLanding %d\n", landing);
    const std::array<std::string, 5> figures{
        "score   " + game.lblCScore(0), "combo   " + game.lblCCombo(0),
        "chain   " + game.lblCChain(0),
        "best    " + game.lblBChain(0) + " chain, " + game.lblBCombo(0) + " combo",
        "pending " + game.lblIncoming(0)};
    for (int r = common::BoardRows - 1; r >= 0; --r) {
        std::string row;
        for (int c = 0; c < common::BoardColumns; ++c)
            row += letter(game.Grids(0, c, r));
        const int line = common::BoardRows - 1 - r;
        std::printf("  %2d %s   %s\n", r, row.c_str(),
                    line < static_cast<int>(figures.size())
                        ? figures[static_cast<std::size_t>(line)].c_str()
                        : "");
    }
    std::printf("     012345\n");
}

} // namespace

int main() {
    MessageLog log;
    GameCore game;
    board::Ports ports;
    ports.messages = &log;
    ports.sound = &log;
    game.setPorts(ports);
    game.setPlayerTable({{"1", "Alice", "0", "0"}, {"2", "Bob", "0", "0"}});
    game.setLocalPlayerId(1);
    game.setPatternTable({{"2", bobsPattern()}});

    std::printf("Gemvolt demo: Alice fights on board 1; Bob's counter gems fall every fourth "
                "landing.\n"
                "Each board is shown after its landing has been resolved and the next pair has "
                "entered at the top of column 3.\n");
    game.InitGame();

    // Quarter turns and column shifts, one entry per pair, repeated.
    struct Move {
        int turns, shift;
    };
    static constexpr Move script[] = {{0, -3}, {1, 2},  {0, 0}, {2, -1}, {3, 1}, {0, 2},
                                      {1, -2}, {0, -1}, {2, 1}, {1, 0},  {0, 1}, {3, -2}};
    const int maxPairs = 200;
    for (int pair = 0; pair < maxPairs && game.tmrFallGems(); ++pair) {
        const Move& move = script[pair % std::size(script)];
        for (int i = 0; i < move.turns; ++i)
            game.KeyDown(board::KeyCodeUp);
        for (int i = 0; i < (move.shift < 0 ? -move.shift : move.shift); ++i)
            game.KeyDown(move.shift < 0 ? board::KeyCodeLeft : board::KeyCodeRight);
        const int before = log.landings;
        while (log.landings == before)
            game.KeyDown(board::KeyCodeDown);
        printBoard(game, log.landings);
        for (const std::string& line : log.lines)
            std::printf("     sent %s\n", line.c_str());
        log.lines.clear();
        if (log.landings % 4 == 0 && game.tmrFallGems()) {
            const auto pending = common::numberValue(game.lblIncoming(0)) + 3;
            game.setIncoming(0, common::toTwoDigitText(pending));
            std::printf("     Bob attacks: %s counter gems pending\n", game.lblIncoming(0).c_str());
        }
    }
    std::printf("\nThe fight is over after %d landings (%d sounds played); score %s.\n",
                log.landings, log.sounds, game.lblCScore(0).c_str());
    return 0;
}
