#pragma once

#include "Client/shell/FrmBrowser.h"
#include "Client/shell/HelpAddresses.h"

#include <QObject>
#include <QPointer>

namespace gemvolt::shell {

/**
 * Owns the help browser for the main window. The window does not exist until the first Help
 * item opens an address; its close button destroys it with its history, and the next Help
 * item creates it again. The browser ends with its host.
 */
class HelpBrowserHost : public QObject {
    Q_OBJECT
public:
    /** A host for the help installed beside the running program. */
    explicit HelpBrowserHost(QObject* parent = nullptr);
    /** A host for the help installed with addresses' program folder. */
    explicit HelpBrowserHost(HelpAddresses addresses, QObject* parent = nullptr);
    ~HelpBrowserHost() override;

    /** Opens address in the browser, creating the window first if there is none. */
    frmBrowser* open(const QString& address);
    /** Opens the page of a Help menu item. */
    frmBrowser* openItem(HelpItem item);

    /** The browser window, or nullptr while there is none. */
    frmBrowser* browser() const { return m_browser.data(); }
    const HelpAddresses& addresses() const { return m_addresses; }

private:
    HelpAddresses m_addresses;
    QPointer<frmBrowser> m_browser;
};

} // namespace gemvolt::shell
