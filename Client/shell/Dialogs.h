#pragma once

#include "Client/board/MessageBoxPort.h"
#include "Client/net/SessionDialogs.h"

namespace gemvolt::shell {

/**
 * Every box and prompt the client shows: the game's OK-only boxes (which
 * never block) and the session's prompts and error boxes. Production shows
 * real Qt boxes (QtDialogs); tests script the answers.
 */
class Dialogs : public board::MessageBoxPort, public net::SessionDialogs {
public:
    /**
     * The program has begun to end: from now on nothing opens a new box or
     * prompt, and a prompt still open answers as cancelled.
     */
    virtual void programEnding() {}
};

} // namespace gemvolt::shell
