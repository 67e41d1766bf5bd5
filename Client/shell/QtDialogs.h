#pragma once

#include "Client/shell/Dialogs.h"

#include <QPointer>

class QWidget;

namespace gemvolt::shell {

/**
 * The real boxes: QInputDialog prompts, a non-modal QMessageBox for OK-only
 * messages (deleted when closed, so the game and the network go on while it
 * shows) and a modal critical box.
 */
class QtDialogs : public Dialogs {
public:
    /** Boxes are parented to parent (may be null). */
    explicit QtDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

    std::optional<std::string> askText(const std::string& title, const std::string& prompt,
                                       const std::string& defaultText) override;
    void showMessage(const std::string& text) override;
    void showCritical(const std::string& title, const std::string& text) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace gemvolt::shell
