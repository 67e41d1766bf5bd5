#pragma once

#include "Client/shell/SoundDialogs.h"

#include <QStringList>

namespace gemvolt::testing {

/** Answers the sound window's dialogs from a script and records what they showed. */
class FakeSoundDialogs : public shell::SoundDialogs {
public:
    QString openFile(QWidget*, const QString& title, const QString& filter,
                     const QString& startPath) override {
        titles.append(title);
        filters.append(filter);
        startPaths.append(startPath);
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    void showMessage(QWidget*, const QString& text) override { messages.append(text); }

    /** Paths the open-file dialog returns, one per call; empty text cancels. */
    QStringList answers;
    QStringList titles;
    QStringList filters;
    QStringList startPaths;
    QStringList messages;
};

} // namespace gemvolt::testing
