#pragma once

#include "Server/ServerDialogs.h"

#include <QStringList>
#include <QWidget>

namespace gemvolt::testing {

/**
 * Scripted server dialogs: the prompt returns a set answer (or a cancel),
 * and every prompt and box is recorded, together with the caption of a
 * watched window at that moment.
 */
class FakeServerDialogs : public server::ServerDialogs {
public:
    std::optional<QString> askText(const QString& title, const QString& prompt,
                                   const QString& defaultText) override {
        asked << title + "|" + prompt + "|" + defaultText;
        captionsWhenAsked << (watched ? watched->windowTitle() : QString());
        return answer;
    }
    void showCritical(const QString& title, const QString& text) override {
        errors << title + "|" + text;
    }

    std::optional<QString> answer = QStringLiteral("11");
    QWidget* watched = nullptr;
    QStringList asked;
    QStringList captionsWhenAsked;
    QStringList errors;
};

} // namespace gemvolt::testing
