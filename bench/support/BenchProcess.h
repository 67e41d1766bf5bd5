#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace gemvolt::bench {

/**
 * A program a load driver starts beside itself (the headless server, a bot):
 * its process, optionally its standard output through a pipe, the CPU time and
 * memory it uses, and a clean stop.
 */
class BenchProcess {
public:
    BenchProcess() = default;
    /** Stops the process if it still runs. */
    ~BenchProcess();
    BenchProcess(const BenchProcess&) = delete;
    BenchProcess& operator=(const BenchProcess&) = delete;

    /** Starts args[0] with args; with captureOutput its standard output comes to
     * readLine and readAvailable, otherwise it shares this program's. Fails the
     * program when it cannot start. */
    void start(const std::vector<std::string>& args, bool captureOutput);

    /** Starts gemvolt-server at path headless on a free port with room for players
     * (and any further arguments) and returns the port it prints first. Fails the
     * program when it prints none. */
    int startServer(const std::string& path, int players,
                    const std::vector<std::string>& extra = {});

    /** The next line of its output without the line end; waits for it. */
    std::string readLine();

    /** Whatever of its output has come so far; does not wait. */
    std::string readAvailable();

    /** User plus system CPU time of the process so far, in seconds (0 once it is gone). */
    double cpuSeconds() const;

    /** Its resident memory in kB (0 once it is gone). */
    long residentKb() const;

    /** Asks it to end (SIGTERM) and waits until it has; one that has not ended
     * within five seconds (stuck, say, writing to a pipe nobody reads) is killed. */
    void stop();

    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

} // namespace gemvolt::bench
