#pragma once

#include "Client/shell/GemPainter.h"

#include <QWidget>

#include <functional>

class QPushButton;

namespace gemvolt::battle {
class GameCore;
}

namespace gemvolt::shell {

/**
 * The attack pattern editor: the 36 Shape1 cells drawn from the game's editor
 * grid at their designed twips positions. A mouse release anywhere on the
 * window goes, in twips, to the game's click rule; cmdApply makes the grid the
 * own pattern and sends it; Command1 hides the window.
 */
class FrmAttack : public QWidget {
    Q_OBJECT
public:
    explicit FrmAttack(battle::GameCore& core, QWidget* parent = nullptr);

    /** Pixel rectangle of Shape1 element k. */
    QRect shape1Rect(int k) const;
    /** Button code of the click rule (1 left, 2 right, 4 middle) for a Qt button. */
    static int buttonCode(Qt::MouseButton button);

    QPushButton* cmdApply() const { return m_cmdApply; }
    QPushButton* Command1() const { return m_command1; }

signals:
    /** The grid or the own pattern changed. */
    void changed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    battle::GameCore& m_core;
    GemPainter m_gems;
    QPushButton* m_cmdApply;
    QPushButton* m_command1;
};

} // namespace gemvolt::shell
