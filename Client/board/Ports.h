#pragma once

#include "Client/board/DrawPort.h"
#include "Client/board/MessageBoxPort.h"
#include "Client/board/MessagePort.h"
#include "Client/board/PausePort.h"
#include "Client/board/SoundPort.h"
#include "Client/board/TimerPort.h"

namespace gemvolt::board {

/**
 * The game's ways out, all non-owning and optional: a null port does nothing
 * (no drawing, no pause, silence, nothing sent, no timer notice, no box). The
 * owner of a core keeps every port alive for as long as the core uses it.
 */
struct Ports {
    DrawPort* draw = nullptr;
    PausePort* pause = nullptr;
    SoundPort* sound = nullptr;
    MessagePort* messages = nullptr;
    TimerPort* timers = nullptr;
    MessageBoxPort* messageBox = nullptr;
};

} // namespace gemvolt::board
