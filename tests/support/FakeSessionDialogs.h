#pragma once

#include "Client/net/SessionDialogs.h"

#include <QString>
#include <QStringList>

namespace gemvolt::testing {

/**
 * Answers the session's prompts from a script and records every prompt, box,
 * end-of-program request and chat-window request. An exhausted script answers
 * the prompt's default.
 */
class FakeSessionDialogs : public net::SessionDialogs, public net::ChatWindowPort {
public:
    QStringList answers; ///< taken from the front, one per prompt
    QStringList prompts; ///< "title|message|default" per prompt shown
    QStringList errors;  ///< "title|text" per critical box
    int endProgramCalls = 0;
    int chatWindowShown = 0;

    QString promptText(const QString& message, const QString& title,
                       const QString& defaultAnswer) override;
    void showCriticalError(const QString& title, const QString& text) override;
    void endProgram() override { ++endProgramCalls; }
    void showChatWindow() override { ++chatWindowShown; }
};

} // namespace gemvolt::testing
