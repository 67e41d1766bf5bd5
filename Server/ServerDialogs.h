#pragma once

#include <QString>

#include <optional>

namespace gemvolt::server {

/**
 * The message boxes and prompts of the server window. The program shows Qt
 * dialogs; tests answer the prompt themselves and see every box.
 */
class ServerDialogs {
public:
    virtual ~ServerDialogs() = default;

    /** Asks for a line of text; nothing when the user cancels. */
    virtual std::optional<QString> askText(const QString& title, const QString& prompt,
                                           const QString& defaultText) = 0;

    /** Shows an error with the critical icon; returns at once, the server keeps running. */
    virtual void showCritical(const QString& title, const QString& text) = 0;
};

} // namespace gemvolt::server
