#pragma once

#include "Client/board/MessageBoxPort.h"
#include "Client/net/SessionDialogs.h"

namespace gemvolt::shell {

/**
 * Every box and prompt the client shows: the game's OK-only boxes (which
 * never block) and the session's prompts and error boxes. Production shows
 * real Qt boxes (QtDialogs); tests script the answers.
 */
class Dialogs : public board::MessageBoxPort, public net::SessionDialogs {};

} // namespace gemvolt::shell
