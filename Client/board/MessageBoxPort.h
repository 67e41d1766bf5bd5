#pragma once

#include <string>

namespace gemvolt::board {

/** Message boxes with only an OK button. They do not block: the game goes on at once. */
class MessageBoxPort {
public:
    virtual ~MessageBoxPort() = default;
    /** Show text in an OK-only box with no title of its own. */
    virtual void showMessage(const std::string& text) = 0;
};

} // namespace gemvolt::board
