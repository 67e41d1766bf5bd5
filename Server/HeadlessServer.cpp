#include "Server/HeadlessServer.h"

#include "Common/transport/ControlMessages.h"
#include "Common/transport/SessionServer.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace gemvolt::server {

HeadlessServer::HeadlessServer(std::FILE* out, QObject* parent) : QObject(parent), m_out(out) {
    m_port.attach(&m_core);
    m_core.setObserver(this);
    // The core never hears of a held player: a resume is no departure and no join.
    transport::SessionServer& session = m_port.session();
    connect(&session, &transport::SessionServer::playerInterrupted, this,
            &HeadlessServer::playerInterrupted);
    connect(&session, &transport::SessionServer::playerResumed, this,
            &HeadlessServer::playerResumed);
}

HeadlessServer::~HeadlessServer() {
    m_core.setObserver(nullptr);
    stop();
}

bool HeadlessServer::start(int players, quint16 port, std::string& error) {
    const InitResult result = m_core.InitServer(std::to_string(players), port);
    if (!result.Hosted) {
        error = "Error #" + std::to_string(result.ErrorNumber) + ": " + result.Description;
        return false;
    }
    printLine(std::to_string(m_port.port()));
    return true;
}

void HeadlessServer::stop() {
    m_core.CloseSession();
}

void HeadlessServer::playerJoined(std::int32_t id, const std::string& name) {
    printLine("joined " + std::to_string(id) + " " + transport::registeredPlayerName(name));
}

void HeadlessServer::playerLeft(std::int32_t id, const std::string& name) {
    if (m_held.erase(id) > 0) {
        printLine("expired " + std::to_string(id) + " " + transport::registeredPlayerName(name));
    }
    printLine("left " + std::to_string(id) + " " + transport::registeredPlayerName(name));
}

void HeadlessServer::playerInterrupted(std::int32_t id) {
    m_held.insert(id);
    printLine("interrupted " + std::to_string(id) + " " +
              transport::registeredPlayerName(m_port.playerName(id)));
}

void HeadlessServer::playerResumed(std::int32_t id) {
    m_held.erase(id);
    printLine("resumed " + std::to_string(id) + " " +
              transport::registeredPlayerName(m_port.playerName(id)));
}

void HeadlessServer::fightResult(std::int32_t winnerId, const std::string& winnerName,
                                 std::int32_t loserId, const std::string& loserName) {
    printLine("result " + std::to_string(winnerId) + " beat " + std::to_string(loserId) + ": " +
              transport::registeredPlayerName(winnerName) + " beat " +
              transport::registeredPlayerName(loserName));
}

void HeadlessServer::printLine(const std::string& line) {
    // What an earlier line left goes first; while it cannot, this line is dropped.
    if (!m_unfinished.empty() && !writeNow(m_unfinished)) {
        ++m_dropped;
        return;
    }
    std::string text;
    if (m_dropped > 0) {
        text = "dropped " + std::to_string(m_dropped) + " lines\n";
    }
    text += line;
    text += '\n';
    const std::size_t size = text.size();
    m_unfinished = std::move(text);
    if (!writeNow(m_unfinished) && m_unfinished.size() == size) {
        // Not a byte of it went out: the line is lost, and counted.
        m_unfinished.clear();
        ++m_dropped;
        return;
    }
    m_dropped = 0;
}

bool HeadlessServer::writeNow(std::string& text) {
    // Straight to the descriptor, so that no stream buffer holds a line back from
    // whoever reads them (a script, a test) and waits for each one. A write is
    // made only when the system says it has room, so the server never waits on
    // its reader: a pipe that reports room takes a short line whole.
    const int fd = ::fileno(m_out);
    while (!text.empty()) {
        pollfd ready = {fd, POLLOUT, 0};
        if (::poll(&ready, 1, 0) != 1 || (ready.revents & POLLOUT) == 0 ||
            (ready.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return false;
        }
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        text.erase(0, std::size_t(n));
    }
    return true;
}

} // namespace gemvolt::server
