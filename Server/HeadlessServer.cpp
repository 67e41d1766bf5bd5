#include "Server/HeadlessServer.h"

namespace gemvolt::server {

namespace {

std::string printable(const std::string& name) {
    std::string out = name;
    for (char& ch : out) {
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) {
            ch = '?';
        }
    }
    return out;
}

} // namespace

HeadlessServer::HeadlessServer(std::FILE* out, QObject* parent) : QObject(parent), m_out(out) {
    m_port.attach(&m_core);
    m_core.setObserver(this);
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
    printLine("joined " + std::to_string(id) + " " + printable(name));
}

void HeadlessServer::playerLeft(std::int32_t id, const std::string& name) {
    printLine("left " + std::to_string(id) + " " + printable(name));
}

void HeadlessServer::fightResult(std::int32_t winnerId, const std::string& winnerName,
                                 std::int32_t loserId, const std::string& loserName) {
    printLine("result " + std::to_string(winnerId) + " beat " + std::to_string(loserId) + ": " +
              printable(winnerName) + " beat " + printable(loserName));
}

void HeadlessServer::printLine(const std::string& line) {
    std::fputs(line.c_str(), m_out);
    std::fputc('\n', m_out);
    // Whoever reads the lines (a script, a test) waits for each one.
    std::fflush(m_out);
}

} // namespace gemvolt::server
