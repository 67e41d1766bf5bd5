#include "tests/support/FakeSessionDialogs.h"

namespace gemvolt::testing {

QString FakeSessionDialogs::promptText(const QString& message, const QString& title,
                                       const QString& defaultAnswer) {
    prompts << title + QLatin1Char('|') + message + QLatin1Char('|') + defaultAnswer;
    // A runaway re-prompt loop must end the test, not hang it.
    if (prompts.size() > 100)
        return defaultAnswer;
    return answers.isEmpty() ? defaultAnswer : answers.takeFirst();
}

void FakeSessionDialogs::showCriticalError(const QString& title, const QString& text) {
    errors << title + QLatin1Char('|') + text;
}

} // namespace gemvolt::testing
