#pragma once

#include "Client/board/PausePort.h"

namespace gemvolt::net {

/**
 * The real animation pause: blocks the calling thread for the time asked.
 * The core asks for the repaint through its draw port right after, so the
 * step shows while the game waits. The transport's own thread keeps the
 * connection alive meanwhile.
 */
class SleepPause : public board::PausePort {
public:
    void pause(int milliseconds) override;
};

} // namespace gemvolt::net
