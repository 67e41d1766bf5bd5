#include "support/ScriptedDialogs.h"

namespace gemvolt::testing {

QString ScriptedDialogs::promptText(const QString& message, const QString& title,
                                    const QString& defaultAnswer) {
    prompts << title + "|" + message + "|" + defaultAnswer;
    if (onPrompt)
        onPrompt(title);
    return answers.isEmpty() ? defaultAnswer : answers.takeFirst();
}

} // namespace gemvolt::testing
