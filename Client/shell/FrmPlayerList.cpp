#include "Client/shell/FrmPlayerList.h"

#include "Client/shell/Twips.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace gemvolt::shell {

namespace {
// Designed geometry in twips: the lists' left edges and widths, the common top.
constexpr int ListLeft[4] = {120, 1080, 3720, 4680};
constexpr int ListWidth[4] = {960, 2640, 960, 960};
constexpr int ListTop = 720;
constexpr int HeaderTop = 420;
constexpr int DesignWidth = 5880;
constexpr int DesignHeight = 4800;
constexpr const char* Headers[4] = {"ID", "Player Name", "Wins", "Losses"};
constexpr const char* Names[4] = {"listID", "listPlayerName", "listWins", "listLosses"};
} // namespace

FrmPlayerList::FrmPlayerList(QWidget* parent)
    : QWidget(parent, Qt::Window), m_hide(new QPushButton("_Hide", this)) {
    setObjectName("frmPlayerList");
    setWindowTitle("GMVLT - Players");
    for (int i = 0; i < 4; ++i) {
        auto* header = new QLabel(Headers[i], this);
        header->setObjectName(QString("lblHeader") + Names[i]);
        header->setGeometry(Twips::rect(this, ListLeft[i], HeaderTop, ListWidth[i], 285));
        m_lists[i] = new QListWidget(this);
        m_lists[i]->setObjectName(Names[i]);
        m_lists[i]->setSelectionMode(QAbstractItemView::NoSelection);
        m_lists[i]->setGeometry(Twips::rect(this, ListLeft[i], ListTop, ListWidth[i], 3000));
    }
    m_hide->setObjectName("cmdHide");
    m_hide->setGeometry(Twips::rect(this, DesignWidth - 1215, 60, 1095, 315));
    connect(m_hide, &QPushButton::clicked, this, &QWidget::hide);
    resize(Twips::toPixels(this, DesignWidth), Twips::toPixels(this, DesignHeight));
}

void FrmPlayerList::showTable(const std::vector<board::PlayerRow>& rows) {
    const bool same = rows.size() == m_shown.size() &&
                      std::equal(rows.begin(), rows.end(), m_shown.begin(),
                                 [](const board::PlayerRow& a, const board::PlayerRow& b) {
                                     return a.ID == b.ID && a.Name == b.Name && a.Wins == b.Wins &&
                                            a.Losses == b.Losses;
                                 });
    if (same)
        return;
    m_shown = rows;
    for (QListWidget* list : m_lists)
        list->clear();
    for (const board::PlayerRow& row : rows) {
        m_lists[0]->addItem(QString::fromStdString(row.ID));
        m_lists[1]->addItem(QString::fromStdString(row.Name));
        m_lists[2]->addItem(QString::fromStdString(row.Wins));
        m_lists[3]->addItem(QString::fromStdString(row.Losses));
    }
}

void FrmPlayerList::GoodBye() {
    hide();
    deleteLater();
}

void FrmPlayerList::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutWidgets();
}

void FrmPlayerList::layoutWidgets() {
    // The lists reach down to 500 twips above the bottom of the window's outer height (its
    // frame included); widths stay as designed.
    const double height = Twips::fromPixels(this, frameGeometry().height()) - ListTop - 500;
    if (height <= 0)
        return;
    for (int i = 0; i < 4; ++i)
        m_lists[i]->setGeometry(Twips::rect(this, ListLeft[i], ListTop, ListWidth[i], height));
}

} // namespace gemvolt::shell
