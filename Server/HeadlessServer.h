#pragma once

#include "Server/ServerCore.h"
#include "Server/ServerObserver.h"
#include "Server/SessionPort.h"

#include <QObject>

#include <cstdio>
#include <set>
#include <string>

namespace gemvolt::server {

/**
 * The session server without a window, for scripts, tests and load runs.
 * It prints the port it listens on as its first line, then one line per
 * join ("joined <id> <name>"), departure ("left <id> <name>") and fight
 * result ("result <winner id> beat <loser id>: <winner name> beat <loser
 * name>"), each handed to the system at once. A player whose connection broke
 * and who is held for a resume gets "interrupted <id> <name>", then "resumed
 * <id> <name>" when it is back, or "expired <id> <name>" before its "left"
 * line when its hold ran out. Names are printed with control
 * characters and line separators replaced, so that one event is always one line.
 *
 * The lines never hold up the session: when whoever reads them stalls (a full
 * pipe nobody reads), lines are dropped rather than waited for, and the next
 * line that goes out is preceded by "dropped <n> lines".
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
    void playerInterrupted(std::int32_t id);
    void playerResumed(std::int32_t id);
    void printLine(const std::string& line);
    /** Writes what the system takes now; true when all of text went (it keeps the rest). */
    bool writeNow(std::string& text);

    std::FILE* m_out;
    // The part of a line the system took only partly, sent before anything else.
    std::string m_unfinished;
    long long m_dropped = 0;
    // Players held for a resume: their departure means the hold ran out.
    std::set<std::int32_t> m_held;
    SessionPort m_port;
    ServerCore m_core{m_port};
};

} // namespace gemvolt::server
