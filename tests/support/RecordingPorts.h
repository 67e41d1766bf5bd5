#pragma once

#include "Client/board/Ports.h"

#include <functional>
#include <string>
#include <vector>

namespace gemvolt::testing {

/**
 * Fakes every port of the game and records each call, in order, as one line of
 * text in events (pauses are recorded, never slept). Lines:
 *   "draw B K SHAPE COLOR 0|1", "next I SHAPE COLOR", "repaint", "pause MS",
 *   "sound FILE POS", "cleanup", "bgm ROW",
 *   "send nextpair B LS LC US UC", "send counter N", "send stats B SCORE CHAIN COMBO",
 *   "send gameover", "send board B PENDING", "send pattern",
 *   "timer NAME on|off", "box TEXT".
 */
class RecordingPorts : public board::DrawPort,
                       public board::PausePort,
                       public board::SoundPort,
                       public board::MessagePort,
                       public board::TimerPort,
                       public board::MessageBoxPort {
public:
    /** All six ports pointing at this recorder. */
    board::Ports ports();

    std::vector<std::string> events;
    std::string collisionFile = board::DefaultCollisionSound;
    std::string destructionFile = board::DefaultDestructionSound;
    bool bgmDisabled = false;
    /** Run at every pause after it is recorded, to look at the game mid-animation. */
    std::function<void()> onPause;
    std::vector<std::array<common::GemCell, common::BoardCells>> boardStates;
    std::vector<common::AttackPattern> patterns;

    /** The recorded lines that start with prefix, in order. */
    std::vector<std::string> with(const std::string& prefix) const;
    int count(const std::string& prefix) const { return static_cast<int>(with(prefix).size()); }
    /** The recorded lines without the draw/repaint/next noise, for reading a fight's course. */
    std::vector<std::string> withoutDrawing() const;
    void clear() { events.clear(); }

    void drawCell(int boardIndex, int cellIndex, std::int16_t shape, std::int32_t color,
                  bool visible) override;
    void drawNextGem(int index, std::int16_t shape, std::int32_t color) override;
    void repaint() override;
    void pause(int milliseconds) override;
    void PlaySound(const std::string& file, int position) override;
    void CleanUpSndBuffer() override;
    void SetBGMSpeed(int row) override;
    std::string txtGC() const override { return collisionFile; }
    std::string txtGD() const override { return destructionFile; }
    bool checkBGM() const override { return bgmDisabled; }
    void SendNextPair(int board, std::int16_t lowerShape, std::int32_t lowerColor,
                      std::int16_t upperShape, std::int32_t upperColor) override;
    void SendCounterAttack(int count) override;
    void SendStats(int board, std::int64_t score, std::int64_t bestChain,
                   std::int64_t bestCombo) override;
    void SendGameOver() override;
    void SendBoardState(int board, const std::array<common::GemCell, common::BoardCells>& cells,
                        const std::string& pending) override;
    void SendAttackPattern(const common::AttackPattern& pattern) override;
    void timerChanged(board::Timer timer, bool enabled) override;
    void showMessage(const std::string& text) override;
};

} // namespace gemvolt::testing
