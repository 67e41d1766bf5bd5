#include "Client/net/MatchFlow.h"

#include "Common/NumberText.h"

#include <cctype>

namespace gemvolt::net {

namespace {

constexpr const char* ReadyYes = " - Ready = Yes";
constexpr const char* ReadyNo = " - Ready = No";

std::int64_t rowId(const battle::GameCore& core, int row) {
    if (core.playerTable().rowCount() <= row)
        return -1;
    return common::numberValue(core.listID(row));
}

// Whether a label holds a number as the count reads it: blanks, a sign, a digit.
bool holdsNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        ++i;
    return i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]));
}

} // namespace

MatchFlow::Pairing MatchFlow::currentPairing() const {
    return {rowId(m_core, 0), rowId(m_core, 1)};
}

void MatchFlow::showMessage(const std::string& text) {
    if (board::MessageBoxPort* box = m_core.ports().messageBox)
        box->showMessage(text);
}

void MatchFlow::RdyButton_Click() {
    if (m_core.whatPlayer() == 0)
        return;
    if (m_core.listID(1).empty()) {
        showMessage(WaitForPlayersMessage);
        return;
    }
    if (m_sendReady)
        m_sendReady();
}

void MatchFlow::MarkReady(std::int64_t sender) {
    if (m_fightRunning)
        return; // a late mark must not start a hidden count-down mid-fight
    const Pairing pairing = currentPairing();
    if (pairing != m_readyPairing) {
        m_ready = {false, false};
        m_readyPairing = pairing;
    }
    if (sender == pairing.first) {
        m_core.setLblP1Ready(m_core.listPlayerName(0) + ReadyYes);
        m_ready[0] = true;
    } else if (sender == pairing.second) {
        m_core.setLblP2Ready(m_core.listPlayerName(1) + ReadyYes);
        m_ready[1] = true;
    } else {
        return;
    }
    if (m_ready[0] && m_ready[1]) {
        m_core.setLblCountIn("3");
        m_core.setTimerEnabled(board::Timer::CountDown, true);
    }
}

void MatchFlow::writeReadyLabels(const Pairing& pairing) {
    m_core.setLblNxtMatch("The Next Fight Will Be: " + m_core.listPlayerName(0) + " Vs " +
                          m_core.listPlayerName(1));
    m_core.setLblP1Ready(m_core.listPlayerName(0) + (m_ready[0] ? ReadyYes : ReadyNo));
    m_core.setLblP2Ready(m_core.listPlayerName(1) + (m_ready[1] ? ReadyYes : ReadyNo));
    m_shownPairing = pairing;
}

void MatchFlow::AfterStandings() {
    const Pairing pairing = currentPairing();
    if (pairing != m_readyPairing) {
        m_ready = {false, false};
        m_readyPairing = pairing;
        // A count-down for a pairing that no longer exists would start a fight
        // nobody declared ready for.
        if (m_core.tmrCountDown() && !m_fightRunning) {
            m_core.setTimerEnabled(board::Timer::CountDown, false);
            m_core.setLblCountIn("N/A");
        }
    }

    const int rows = m_core.playerTable().rowCount();
    if (rows < 2)
        m_core.setPanelVisible(true);
    else if (rows == 2 && m_core.listLosses(0) == "0" && m_core.listLosses(1) == "0")
        m_core.setPanelVisible(true);

    // A player of the next fight always gets the panel and sees whom it fights.
    // Without an opponent there is no fight to name: the panel keeps its texts,
    // so a player alone on a fresh server sees the texts it started with.
    if (!m_fightRunning && m_core.whatPlayer() != 0) {
        m_core.setPanelVisible(true);
        if (rows >= 2 && m_shownPairing != pairing)
            writeReadyLabels(pairing);
    }
}

void MatchFlow::GameOver() {
    m_core.HandleGameOver();
    m_fightRunning = false;
    m_strangeShown = false;
    m_ready = {false, false};
    m_readyPairing = currentPairing();
    m_shownPairing = m_readyPairing;
}

void MatchFlow::CountDownTick() {
    const std::string& text = m_core.lblCountIn();
    if (!holdsNumber(text)) {
        m_core.setTimerEnabled(board::Timer::CountDown, false);
        return;
    }
    const std::int64_t count = common::numberValue(text) - 1;
    m_core.setLblCountIn(common::toIdText(count));
    if (count == 0) {
        m_core.InitGame();
        m_fightRunning = true;
        m_strangeShown = false;
        m_core.setPanelVisible(false);
        m_core.setTimerEnabled(board::Timer::CountDown, false);
    } else if (count < 0) {
        m_core.setTimerEnabled(board::Timer::CountDown,
                               false); // a count below 0 never reaches the fight
    }
}

void MatchFlow::Reset() {
    m_fightRunning = false;
    m_strangeShown = false;
    m_ready = {false, false};
    m_readyPairing = {-1, -1};
}

bool MatchFlow::takeStrangeNotice() {
    if (m_strangeShown)
        return false;
    m_strangeShown = true;
    return true;
}

} // namespace gemvolt::net
