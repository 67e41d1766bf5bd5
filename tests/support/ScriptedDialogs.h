#pragma once

#include "Client/shell/Dialogs.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace gemvolt::testing {

/**
 * Dialogs with scripted answers: every prompt takes the next queued answer
 * (nullopt = cancel; an empty queue answers with the default), every box is
 * recorded instead of shown.
 */
class ScriptedDialogs : public shell::Dialogs {
public:
    struct Prompt {
        std::string title;
        std::string prompt;
        std::string defaultText;
    };

    std::deque<std::optional<std::string>> answers;
    std::vector<Prompt> prompts;
    std::vector<std::string> messages;
    std::vector<std::string> criticals;

    std::optional<std::string> askText(const std::string& title, const std::string& prompt,
                                       const std::string& defaultText) override;
    void showMessage(const std::string& text) override { messages.push_back(text); }
    void showCritical(const std::string& title, const std::string& text) override {
        criticals.push_back(title + ": " + text);
    }
};

} // namespace gemvolt::testing
