#include "support/ScriptedDialogs.h"

namespace gemvolt::testing {

std::optional<std::string> ScriptedDialogs::askText(const std::string& title,
                                                    const std::string& prompt,
                                                    const std::string& defaultText) {
    prompts.push_back({title, prompt, defaultText});
    if (answers.empty())
        return defaultText;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
}

} // namespace gemvolt::testing
