#include "Client/shell/HelpBrowserHost.h"

#include <utility>

namespace gemvolt::shell {

HelpBrowserHost::HelpBrowserHost(QObject* parent) : HelpBrowserHost(HelpAddresses(), parent) {}

HelpBrowserHost::HelpBrowserHost(HelpAddresses addresses, QObject* parent)
    : QObject(parent), m_addresses(std::move(addresses)) {}

HelpBrowserHost::~HelpBrowserHost() {
    delete m_browser.data();
}

frmBrowser* HelpBrowserHost::open(const QString& address) {
    if (!m_browser) {
        m_browser = new frmBrowser(m_addresses);
        // The close button destroys the window and its history; QPointer then reads null.
        m_browser->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_browser->openAddress(address);
    return m_browser.data();
}

frmBrowser* HelpBrowserHost::openItem(HelpItem item) {
    return open(m_addresses.forItem(item));
}

} // namespace gemvolt::shell
