#pragma once

#include "Client/shell/SoundDialogs.h"

namespace gemvolt::shell {

/** The sound window's dialogs as real Qt dialogs. */
class QtSoundDialogs : public SoundDialogs {
public:
    QString openFile(QWidget* parent, const QString& title, const QString& filter,
                     const QString& startPath) override;
    void showMessage(QWidget* parent, const QString& text) override;
};

} // namespace gemvolt::shell
