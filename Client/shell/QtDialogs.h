#pragma once

#include "Client/shell/Dialogs.h"

#include <QPointer>

#include <functional>

class QWidget;

namespace gemvolt::shell {

/**
 * The real boxes: QInputDialog prompts, a non-modal QMessageBox for OK-only
 * messages (deleted when closed, so the game and the network go on while it
 * shows) and a modal box with the critical-error icon.
 */
class QtDialogs : public Dialogs {
public:
    /** onEnd runs when the program must end after a session error (it quits the event loop). */
    explicit QtDialogs(std::function<void()> onEnd = {}) : m_onEnd(std::move(onEnd)) {}
    /** Boxes are parented to this window (may be null). */
    void setParent(QWidget* parent) { m_parent = parent; }
    void setOnEnd(std::function<void()> onEnd) { m_onEnd = std::move(onEnd); }

    void showMessage(const std::string& text) override;
    QString promptText(const QString& message, const QString& title,
                       const QString& defaultAnswer) override;
    void showCriticalError(const QString& title, const QString& text) override;
    void endProgram() override;
    void programEnding() override { m_ending = true; }

private:
    bool m_ending = false;
    QPointer<QWidget> m_parent;
    std::function<void()> m_onEnd;
};

} // namespace gemvolt::shell
