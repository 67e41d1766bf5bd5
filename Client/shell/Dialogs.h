#pragma once

#include "Client/board/MessageBoxPort.h"

#include <optional>
#include <string>

namespace gemvolt::shell {

/**
 * Every box and prompt the client shows. Production shows real Qt boxes
 * (QtDialogs); tests script the answers. OK-only messages never block.
 */
class Dialogs : public board::MessageBoxPort {
public:
    /** A modal text prompt; nullopt when the user cancels. */
    virtual std::optional<std::string> askText(const std::string& title, const std::string& prompt,
                                               const std::string& defaultText) = 0;
    /** A blocking error box with the critical-error icon (session set-up failures). */
    virtual void showCritical(const std::string& title, const std::string& text) = 0;
};

} // namespace gemvolt::shell
