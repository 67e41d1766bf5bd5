#pragma once

#include <QString>

class QWidget;

namespace gemvolt::shell {

/**
 * The dialogs the sound window shows, behind an interface so tests can answer
 * them without a person at the keyboard.
 */
class SoundDialogs {
public:
    virtual ~SoundDialogs() = default;

    /**
     * Asks for a file to open; returns its full path, or an empty text when the
     * user cancelled. `filter` is a Qt name filter such as "Sounds (*.wav)".
     */
    virtual QString openFile(QWidget* parent, const QString& title, const QString& filter,
                             const QString& startPath) = 0;

    /** Shows a message with only an OK button, without waiting for it. */
    virtual void showMessage(QWidget* parent, const QString& text) = 0;
};

} // namespace gemvolt::shell
