#pragma once

#include "Server/ServerCore.h"
#include "Server/ServerObserver.h"
#include "Server/SessionPort.h"

#include <QObject>

#include <cstdio>
#include <string>

namespace gemvolt::server {

/**
 * The session server without a window, for scripts, tests and load runs.
 * It prints the port it listens on as its first line, then one line per
 * join ("joined <id> <name>"), departure ("left <id> <name>") and fight
 * result ("result <winner id> beat <loser id>: <winner name> beat <loser
 * name>"), each flushed at once. Names are printed with control characters
 * replaced, so that one event is always one line.
 */
class HeadlessServer : public QObject, private ServerObserver {
    Q_OBJECT
public:
    explicit HeadlessServer(std::FILE* out = stdout, QObject* parent = nullptr);
    ~HeadlessServer() override;

    /**
     * Hosts the session and prints the port. On failure returns the error as
     * "Error #<n>: <description>" in `error` and prints nothing.
     */
    bool start(int players, quint16 port, std::string& error);

    /** Ends the session: BYE to every client. */
    void stop();

    ServerCore& core() { return m_core; }
    SessionPort& sessionPort() { return m_port; }

private:
    void playerJoined(std::int32_t id, const std::string& name) override;
    void playerLeft(std::int32_t id, const std::string& name) override;
    void fightResult(std::int32_t winnerId, const std::string& winnerName, std::int32_t loserId,
                     const std::string& loserName) override;
    void printLine(const std::string& line);

    std::FILE* m_out;
    SessionPort m_port;
    ServerCore m_core{m_port};
};

} // namespace gemvolt::server
