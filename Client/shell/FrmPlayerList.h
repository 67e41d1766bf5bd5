#pragma once

#include "Client/board/PlayerTable.h"

#include <QWidget>

#include <vector>

class QListWidget;
class QPushButton;

namespace gemvolt::shell {

/**
 * The players window: the player table in queue order, four lists side by
 * side under their headers. The game keeps the table itself; this window shows
 * it, so hiding or closing the window (which only hides it) never loses it.
 */
class FrmPlayerList : public QWidget {
    Q_OBJECT
public:
    explicit FrmPlayerList(QWidget* parent = nullptr);

    /** Show these rows; lists are rewritten only when the table changed. */
    void showTable(const std::vector<board::PlayerRow>& rows);
    /** Destroy the window for good (the exit sequence). */
    void GoodBye();

    QListWidget* listID() const { return m_lists[0]; }
    QListWidget* listPlayerName() const { return m_lists[1]; }
    QListWidget* listWins() const { return m_lists[2]; }
    QListWidget* listLosses() const { return m_lists[3]; }
    QPushButton* hideButton() const { return m_hide; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutWidgets();

    QListWidget* m_lists[4];
    QPushButton* m_hide;
    std::vector<board::PlayerRow> m_shown;
};

} // namespace gemvolt::shell
