#pragma once

#include "Client/shell/Dialogs.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

namespace gemvolt::testing {

/**
 * The client's boxes with scripted answers: every prompt takes the next
 * answer (an exhausted script answers the default), every box is recorded
 * instead of shown. onPrompt runs as a prompt opens, to look at the windows
 * at that moment.
 */
class ScriptedDialogs : public shell::Dialogs {
public:
    QStringList answers;               ///< taken from the front, one per prompt
    QStringList prompts;               ///< "title|message|default" per prompt shown
    QStringList errors;                ///< "title|text" per critical box
    std::vector<std::string> messages; ///< OK-only boxes
    int endProgramCalls = 0;
    std::function<void(const QString& title)> onPrompt;

    void showMessage(const std::string& text) override { messages.push_back(text); }
    QString promptText(const QString& message, const QString& title,
                       const QString& defaultAnswer) override;
    void showCriticalError(const QString& title, const QString& text) override {
        errors << title + "|" + text;
    }
    void endProgram() override { ++endProgramCalls; }
};

} // namespace gemvolt::testing
