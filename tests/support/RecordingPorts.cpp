#include "tests/support/RecordingPorts.h"

namespace gemvolt::testing {

namespace {

std::string join(std::initializer_list<std::string> parts) {
    std::string line;
    for (const std::string& part : parts) {
        if (!line.empty())
            line += ' ';
        line += part;
    }
    return line;
}

std::string n(std::int64_t value) {
    return std::to_string(value);
}

} // namespace

board::Ports RecordingPorts::ports() {
    board::Ports p;
    p.draw = this;
    p.pause = this;
    p.sound = this;
    p.messages = this;
    p.timers = this;
    p.messageBox = this;
    return p;
}

std::vector<std::string> RecordingPorts::with(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& e : events)
        if (e.rfind(prefix, 0) == 0)
            out.push_back(e);
    return out;
}

std::vector<std::string> RecordingPorts::withoutDrawing() const {
    std::vector<std::string> out;
    for (const std::string& e : events)
        if (e.rfind("draw", 0) != 0 && e.rfind("next", 0) != 0 && e != "repaint")
            out.push_back(e);
    return out;
}

void RecordingPorts::drawCell(int boardIndex, int cellIndex, std::int16_t shape, std::int32_t color,
                              bool visible) {
    events.push_back(join({"draw", n(boardIndex), n(cellIndex), n(shape), n(color), n(visible)}));
}

void RecordingPorts::drawNextGem(int index, std::int16_t shape, std::int32_t color) {
    events.push_back(join({"next", n(index), n(shape), n(color)}));
}

void RecordingPorts::repaint() {
    events.push_back("repaint");
}

void RecordingPorts::pause(int milliseconds) {
    events.push_back(join({"pause", n(milliseconds)}));
    if (onPause)
        onPause();
}

void RecordingPorts::PlaySound(const std::string& file, int position) {
    events.push_back(join({"sound", file, n(position)}));
}

void RecordingPorts::CleanUpSndBuffer() {
    events.push_back("cleanup");
}

void RecordingPorts::SetBGMSpeed(int row) {
    events.push_back(join({"bgm", n(row)}));
}

void RecordingPorts::SendNextPair(int board, std::int16_t lowerShape, std::int32_t lowerColor,
                                  std::int16_t upperShape, std::int32_t upperColor) {
    events.push_back(join(
        {"send nextpair", n(board), n(lowerShape), n(lowerColor), n(upperShape), n(upperColor)}));
}

void RecordingPorts::SendCounterAttack(int count) {
    events.push_back(join({"send counter", n(count)}));
}

void RecordingPorts::SendStats(int board, std::int64_t score, std::int64_t bestChain,
                               std::int64_t bestCombo) {
    events.push_back(join({"send stats", n(board), n(score), n(bestChain), n(bestCombo)}));
}

void RecordingPorts::SendGameOver() {
    events.push_back("send gameover");
}

void RecordingPorts::SendBoardState(int board,
                                    const std::array<common::GemCell, common::BoardCells>& cells,
                                    const std::string& pending) {
    boardStates.push_back(cells);
    events.push_back(join({"send board", n(board), pending}));
}

void RecordingPorts::SendAttackPattern(const common::AttackPattern& pattern) {
    patterns.push_back(pattern);
    events.push_back("send pattern");
}

void RecordingPorts::timerChanged(board::Timer timer, bool enabled) {
    const char* name = timer == board::Timer::FallGems ? "tmrFallGems"
                       : timer == board::Timer::Update ? "tmrUpdate"
                                                       : "tmrCountDown";
    events.push_back(join({"timer", name, enabled ? "on" : "off"}));
}

void RecordingPorts::showMessage(const std::string& text) {
    events.push_back(join({"box", text}));
}

} // namespace gemvolt::testing
