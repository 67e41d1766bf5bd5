#pragma once

#include "Client/shell/HelpAddresses.h"
#include "Client/shell/HelpView.h"

#include <QWidget>

#include <functional>

class QAction;
class QComboBox;
class QLabel;
class QTimer;
class QToolBar;

namespace gemvolt::shell {

/**
 * The help browser window: a toolbar, an address box and the page view.
 *
 * The Help menu hands it an address with openAddress(); from then on it works as a plain
 * browser. The caption is empty when the window is created, "Working..." while a page loads
 * and the page's title once it has loaded. Closing the window destroys it and its history
 * (HelpBrowserHost makes a new one on the next Help item).
 */
class frmBrowser : public QWidget {
    Q_OBJECT
public:
    /** The toolbar buttons' keys (also their tooltips and texts), in their order. */
    static const QStringList ToolbarKeys;
    /** The caption while a page loads. */
    static const QString WorkingCaption;

    /** Creates the window and shows it at once, laid out and with an empty caption. */
    explicit frmBrowser(HelpAddresses addresses, QWidget* parent = nullptr);

    /** Opens address as the Help items do: starts the busy poll, puts the address into the
     *  address box, navigates there and shows the window. */
    void openAddress(const QString& address);

    /** The toolbar's action for key ("Back", "Forward", "Stop", "Refresh", "Home", "Search"). */
    QAction* toolbarAction(const QString& key) const;

    /** Acts on a toolbar button's key, as a click on that button does. */
    void toolbarClick(const QString& key);

    /** Replaces the view's busy flag as the poll's source (for pages that take time to load). */
    void setBusyProbe(std::function<bool()> probe);

    /** The addresses this window builds its Home and Search pages from. */
    const HelpAddresses& addresses() const { return m_addresses; }

    // The window's widgets, by the names the rest of the client knows them by.
    QToolBar* tbToolBar = nullptr;
    QWidget* picAddress = nullptr;
    QLabel* lblAddress = nullptr;
    QComboBox* cboAddress = nullptr;
    HelpView* brwWebBrowser = nullptr;
    QTimer* timTimer = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void keepEmptyCaptionEmpty();
    void navigate(const QString& address);
    void busyPollTick();
    void downloadComplete();
    void applyLayout();

    HelpAddresses m_addresses;
    std::function<bool()> m_busyProbe;
};

} // namespace gemvolt::shell
