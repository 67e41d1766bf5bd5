#pragma once

#include "Client/shell/SessionLink.h"

#include <string>

namespace gemvolt::battle {
class GameCore;
}

namespace gemvolt::shell {

class Dialogs;

/**
 * The session the windows use while no network layer is linked in: it asks
 * the connection prompts, keeps the name and runs the match-flow rules that
 * need no server (the Ready rule, the count-down tick); nothing is sent.
 */
class OfflineSession : public SessionLink {
public:
    OfflineSession(battle::GameCore& core, Dialogs& dialogs) : m_core(core), m_dialogs(dialogs) {}

    void setListener(SessionListener* listener) override { m_listener = listener; }
    bool DirectPlayInit() override { return true; }
    bool ConnectToServer() override;
    void CloseSession() override {}
    void SendPlayerLeft() override {}
    void SendChat(const std::string& line) override { m_lastChat = line; }
    void RdyButton_Click() override;
    void CountDownTick() override;
    std::string LocalPlayerName() const override { return m_name; }
    board::MessagePort* messagePort() override { return nullptr; }

    /** The host typed at the last connect. */
    const std::string& hostName() const { return m_host; }

private:
    battle::GameCore& m_core;
    Dialogs& m_dialogs;
    SessionListener* m_listener = nullptr;
    std::string m_host;
    std::string m_name;
    std::string m_lastChat;
};

} // namespace gemvolt::shell
