#include "Client/shell/OfflineSession.h"

#include "Client/battle/GameCore.h"
#include "Client/shell/Dialogs.h"
#include "Common/NumberText.h"

namespace gemvolt::shell {

bool OfflineSession::ConnectToServer() {
    // The host prompt repeats until it has an answer; cancelling counts as empty.
    std::string host;
    while (host.empty())
        host = m_dialogs
                   .askText("Hostname required", "Please enter a hostname/IP address", "127.0.0.1")
                   .value_or(std::string());
    m_host = host;
    m_name = m_dialogs.askText("Playername", "Playername?", "Myself").value_or(std::string());
    return true;
}

void OfflineSession::RdyButton_Click() {
    if (m_core.whatPlayer() == 0)
        return;
    if (m_core.listID(1).empty())
        m_dialogs.showMessage("Please, wait for more Players.");
}

void OfflineSession::CountDownTick() {
    // A count that is no number (a fight ended mid count-down) reads as 0 and
    // counts on from there without failing.
    const auto count = common::numberValue(m_core.lblCountIn()) - 1;
    m_core.setLblCountIn(std::to_string(static_cast<long long>(count)));
    if (count == 0) {
        m_core.InitGame();
        m_core.setPanelVisible(false);
        m_core.setTmrCountDown(false);
    }
    if (m_listener)
        m_listener->coreChanged();
}

} // namespace gemvolt::shell
