#pragma once

#include <QString>

namespace gemvolt::net {

/**
 * The prompts and boxes of setting up a session. The shell shows modal
 * dialogs; tests answer from a script. Nothing here may call back into the
 * session.
 */
class SessionDialogs {
public:
    virtual ~SessionDialogs() = default;
    /**
     * A text prompt with its message, title and default answer. Returns the
     * answer as typed; a cancelled prompt answers the empty text.
     */
    virtual QString promptText(const QString& message, const QString& title,
                               const QString& defaultAnswer) = 0;
    /** A box with the critical-error icon and only an OK button; returns when it is closed. */
    virtual void showCriticalError(const QString& title, const QString& text) = 0;
    /**
     * The program must end now (after a setup error has been shown). The shell
     * quits its event loop; the library never exits by itself.
     */
    virtual void endProgram() = 0;
};

/** The secondary windows the network side asks for. */
class ChatWindowPort {
public:
    virtual ~ChatWindowPort() = default;
    /** Show the chat window (a departure, a failed connect, the exit line). */
    virtual void showChatWindow() = 0;
};

} // namespace gemvolt::net
