#include "Common/program/SignalWatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace gemvolt::program {

namespace {

// The pipe's two ends; the write end is all the handler touches.
int g_pipe[2] = {-1, -1};

extern "C" void onSignal(int signalNumber) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe already holds a wake-up; losing this byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

SignalWatcher::SignalWatcher(std::initializer_list<int> numbers, QObject* parent)
    : QObject(parent), m_numbers(numbers) {
    // A plain pipe, not a socket pair: the service sandbox allows IP sockets only.
    if (g_pipe[0] >= 0 || ::pipe(g_pipe) != 0) {
        return;
    }
    for (int fd : g_pipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::readPipe);
    m_valid = true;
    for (int number : m_numbers) {
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        if (::sigaction(number, &action, nullptr) != 0) {
            m_valid = false;
        }
    }
}

SignalWatcher::~SignalWatcher() {
    if (!m_notifier) {
        return;
    }
    // The default action returns before the pipe goes away.
    for (int number : m_numbers) {
        std::signal(number, SIG_DFL);
    }
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void SignalWatcher::readPipe() {
    unsigned char bytes[16];
    ssize_t got = 0;
    while ((got = ::read(g_pipe[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < got; ++i) {
            emit signalled(bytes[i]);
        }
    }
}

} // namespace gemvolt::program
