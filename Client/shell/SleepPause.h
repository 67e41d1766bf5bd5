#pragma once

#include "Client/board/PausePort.h"

#include <functional>

namespace gemvolt::shell {

/**
 * The animation pause: block the user-interface thread for the time asked
 * (no event is handled meanwhile, on purpose), then repaint at once.
 */
class SleepPause : public board::PausePort {
public:
    explicit SleepPause(std::function<void()> repaint) : m_repaint(std::move(repaint)) {}
    void pause(int milliseconds) override;

private:
    std::function<void()> m_repaint;
};

} // namespace gemvolt::shell
