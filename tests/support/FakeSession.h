#pragma once

#include "Client/shell/SessionLink.h"

#include <functional>
#include <string>
#include <vector>

namespace gemvolt::testing {

/**
 * A session that records what the windows ask of it, one line per call:
 * "init", "connect", "close", "left", "chat LINE", "ready", "countdown".
 * onCall runs after each line is recorded, to look at the windows mid-way.
 */
class FakeSession : public shell::SessionLink {
public:
    std::vector<std::string> calls;
    std::function<void(const std::string&)> onCall;
    bool initSucceeds = true;
    bool connectSucceeds = true;
    std::string name = "Bob";
    shell::SessionListener* listener = nullptr;

    int count(const std::string& call) const;

    void setListener(shell::SessionListener* l) override { listener = l; }
    bool DirectPlayInit() override {
        record("init");
        return initSucceeds;
    }
    bool ConnectToServer() override {
        record("connect");
        return connectSucceeds;
    }
    void CloseSession() override { record("close"); }
    void SendPlayerLeft() override { record("left"); }
    void SendChat(const std::string& line) override { record("chat " + line); }
    void RdyButton_Click() override { record("ready"); }
    void CountDownTick() override { record("countdown"); }
    std::string LocalPlayerName() const override { return name; }
    board::MessagePort* messagePort() override { return nullptr; }

private:
    void record(const std::string& call);
};

} // namespace gemvolt::testing
