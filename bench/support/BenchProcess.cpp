#include "bench/support/BenchProcess.h"

#include "bench/support/BenchSupport.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace gemvolt::bench {

BenchProcess::~BenchProcess() {
    stop();
}

void BenchProcess::start(const std::vector<std::string>& args, bool captureOutput) {
    int pipeFds[2] = {-1, -1};
    // Close-on-exec, so that only this child's standard output holds the write
    // end (and the read end stays here): the pipe ends when the child does.
    if (captureOutput && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        fail("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (captureOutput) {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    if (posix_spawn(&m_pid, args[0].c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        fail("cannot start " + args[0]);
    }
    posix_spawn_file_actions_destroy(&actions);
    if (captureOutput) {
        ::close(pipeFds[1]);
        m_out = pipeFds[0];
    }
}

int BenchProcess::startServer(const std::string& path, int players,
                              const std::vector<std::string>& extra) {
    std::vector<std::string> args = {path, "--headless", "--port",
                                     "0",  "--players",  std::to_string(players)};
    args.insert(args.end(), extra.begin(), extra.end());
    start(args, true);
    const int port = std::atoi(readLine().c_str());
    if (port <= 0) {
        fail("the server did not print its port");
    }
    return port;
}

std::string BenchProcess::readLine() {
    std::string line;
    char ch = 0;
    while (m_out >= 0 && ::read(m_out, &ch, 1) == 1 && ch != '\n') {
        line += ch;
    }
    return line;
}

std::string BenchProcess::readAvailable() {
    std::string text;
    char buffer[4096];
    pollfd ready = {m_out, POLLIN, 0};
    while (m_out >= 0 && ::poll(&ready, 1, 0) > 0) {
        const ssize_t n = ::read(m_out, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        text.append(buffer, std::size_t(n));
    }
    return text;
}

double BenchProcess::cpuSeconds() const {
    std::FILE* f = std::fopen(("/proc/" + std::to_string(m_pid) + "/stat").c_str(), "r");
    if (!f) {
        return 0;
    }
    char buffer[1024] = {};
    const std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    buffer[got] = 0;
    // The fields after the command name, which is in parentheses.
    const char* p = std::strrchr(buffer, ')');
    if (!p) {
        return 0;
    }
    unsigned long utime = 0, stime = 0;
    // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime
    std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime);
    return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

long BenchProcess::residentKb() const {
    std::FILE* f = std::fopen(("/proc/" + std::to_string(m_pid) + "/status").c_str(), "r");
    if (!f) {
        return 0;
    }
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, f)) {
        if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1) {
            break;
        }
    }
    std::fclose(f);
    return kb;
}

void BenchProcess::stop() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        bool ended = false;
        for (int i = 0; i < 500 && !ended; ++i) {
            ended = ::waitpid(m_pid, &status, WNOHANG) == m_pid;
            if (!ended) {
                ::usleep(10000);
            }
        }
        if (!ended) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &status, 0);
        }
        m_pid = -1;
    }
    if (m_out >= 0) {
        ::close(m_out);
        m_out = -1;
    }
}

} // namespace gemvolt::bench
