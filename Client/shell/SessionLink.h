#pragma once

#include "Client/board/MessagePort.h"

#include <string>

namespace gemvolt::shell {

/** What the session tells the windows: chat lines, notices and changed game state. */
class SessionListener {
public:
    virtual ~SessionListener() = default;
    /** AppendChatLine: one line for the chat log. */
    virtual void appendChatLine(const std::string& line) = 0;
    /** A player left: the chat window shows itself. */
    virtual void showChat() = 0;
    /** The core changed from the network (table, boards, labels, panel): redraw what changed. */
    virtual void coreChanged() = 0;
};

/**
 * The client session as the windows use it: set up, connect, close, and the
 * few messages the windows send themselves. The game's own messages go
 * through messagePort().
 */
class SessionLink {
public:
    virtual ~SessionLink() = default;
    virtual void setListener(SessionListener* listener) = 0;
    /** Set up the session objects; false after an error was shown (the program must end). */
    virtual bool DirectPlayInit() = 0;
    /** Ask for host and name and start the connect; false after an error was shown. */
    virtual bool ConnectToServer() = 0;
    /** End the session and release it (the way out of the program). */
    virtual void CloseSession() = 0;
    /** MsgPlayerLeft with the local identifier; a failure is ignored. */
    virtual void SendPlayerLeft() = 0;
    /** MsgChat with a composed chat line. */
    virtual void SendChat(const std::string& line) = 0;
    /** The Ready button: the ready rule (spectator, too few players, MsgReady). */
    virtual void RdyButton_Click() = 0;
    /** One tick of tmrCountDown. */
    virtual void CountDownTick() = 0;
    /** The name given at the name prompt. */
    virtual std::string LocalPlayerName() const = 0;
    /** The game's outgoing messages. */
    virtual board::MessagePort* messagePort() = 0;
};

} // namespace gemvolt::shell
