#include "Client/shell/FrmAttack.h"

#include "Client/battle/AttackEditor.h"
#include "Client/battle/GameCore.h"
#include "Client/shell/GemPainter.h"
#include "Client/shell/Twips.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

namespace gemvolt::shell {

using battle::AttackEditor;

FrmAttack::FrmAttack(battle::GameCore& core, QWidget* parent)
    : QWidget(parent, Qt::Window), m_core(core), m_cmdApply(new QPushButton("cmdApply", this)),
      m_command1(new QPushButton("_ Hide", this)) {
    setObjectName("frmAttack");
    setWindowTitle("GMVLT - Attack Patern");
    m_cmdApply->setObjectName("cmdApply");
    m_cmdApply->setGeometry(Twips::rect(this, 4080, 2280, 1575, 615));
    m_command1->setObjectName("Command1");
    m_command1->setGeometry(Twips::rect(this, 5160, 0, 1095, 495));
    connect(m_cmdApply, &QPushButton::clicked, this, [this] {
        m_core.cmdApply_Click();
        emit changed();
    });
    connect(m_command1, &QPushButton::clicked, this, &QWidget::hide);
    setFixedSize(Twips::toPixels(this, 6375), Twips::toPixels(this, 4215));
}

QRect FrmAttack::shape1Rect(int k) const {
    return Twips::rect(this, AttackEditor::cellLeft(k), AttackEditor::cellTop(k),
                       AttackEditor::CellSize, AttackEditor::CellSize);
}

int FrmAttack::buttonCode(Qt::MouseButton button) {
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}

void FrmAttack::mouseReleaseEvent(QMouseEvent* event) {
    int shift = 0;
    if (event->modifiers() & Qt::ShiftModifier)
        shift |= 1;
    if (event->modifiers() & Qt::ControlModifier)
        shift |= 2;
    if (event->modifiers() & Qt::AltModifier)
        shift |= 4;
    const QPointF pos = event->position();
    m_core.EditorMouseUp(buttonCode(event->button()), shift, Twips::fromPixels(this, pos.x()),
                         Twips::fromPixels(this, pos.y()));
    update();
    emit changed();
}

void FrmAttack::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(18, 20, 40));
    const QRect grid = Twips::rect(this, 480 - 60, 840 - 60, 2895 + 120, 2895 + 120);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(120, 140, 220, 140), 1));
    p.setBrush(QColor(6, 7, 16));
    p.drawRoundedRect(grid, 8, 8);
    for (int k = 0; k < 36; ++k) {
        const AttackEditor::Cell& cell = m_core.attackEditor().Shape1(k);
        const QRect r = shape1Rect(k);
        p.drawPixmap(r.topLeft(),
                     m_gems.gem(cell.Shape, cell.Color, r.width(), devicePixelRatioF()));
    }
}

} // namespace gemvolt::shell
