#include "Server/ServerOptions.h"

#include <charconv>

namespace gemvolt::server {

namespace {

bool readNumber(const std::string& text, long long low, long long high, long long& out) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

ServerOptions invalid(std::string why) {
    ServerOptions options;
    options.mode = ServerOptions::Mode::Invalid;
    options.error = std::move(why);
    return options;
}

} // namespace

ServerOptions ServerOptions::parse(const std::vector<std::string>& arguments) {
    ServerOptions options;
    if (arguments.empty()) {
        return options;
    }
    bool headless = false;
    bool playersGiven = false;
    bool portGiven = false;
    bool floodGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            options.mode = Mode::Help;
            return options;
        }
        if (name == "--headless" && !hasValue) {
            if (headless) {
                return invalid("--headless is given twice");
            }
            headless = true;
            continue;
        }
        if (name != "--players" && name != "--port" && name != "--flood-limit") {
            return invalid("unknown argument '" + arguments[i] + "'");
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size()) {
                return invalid(name + " needs a value");
            }
            value = arguments[++i];
        }
        long long number = 0;
        if (name == "--players") {
            if (playersGiven) {
                return invalid("--players is given twice");
            }
            if (!readNumber(value, 2, 10000, number)) {
                return invalid("--players takes a whole number from 2 to 10000, not '" + value +
                               "'");
            }
            options.players = static_cast<int>(number);
            playersGiven = true;
        } else if (name == "--flood-limit") {
            if (floodGiven) {
                return invalid("--flood-limit is given twice");
            }
            if (!readNumber(value, 0, 1024 * 1024, number)) {
                return invalid("--flood-limit takes a number of KiB from 0 to 1048576, not '" +
                               value + "'");
            }
            options.floodLimitKib = static_cast<int>(number);
            floodGiven = true;
        } else {
            if (portGiven) {
                return invalid("--port is given twice");
            }
            if (!readNumber(value, 0, 65535, number)) {
                return invalid("--port takes a port number from 0 to 65535, not '" + value + "'");
            }
            options.port = static_cast<std::uint16_t>(number);
            portGiven = true;
        }
    }
    if (!headless) {
        return invalid(
            "--players, --port and --flood-limit need --headless; without arguments the window "
            "opens");
    }
    options.mode = Mode::Headless;
    return options;
}

std::string ServerOptions::usage(const std::string& program) {
    return "usage: " + program +
           "\n"
           "       " +
           program +
           " --headless [--players N] [--port P] [--flood-limit KIB]\n"
           "\n"
           "Without arguments the server opens its window and asks for the number of players.\n"
           "--headless    run without a window; print the port listened on, then one line\n"
           "              per join, departure and fight result; end on SIGINT or SIGTERM\n"
           "--players N   players the session holds, the server's own included (2 to 10000,\n"
           "              default 11)\n"
           "--port P      TCP port to listen on (default 4000; 0 picks a free port)\n"
           "--flood-limit KIB\n"
           "              message KiB one player may send within 4 seconds before the\n"
           "              server ends its session (default 1024; 0 turns the limit off,\n"
           "              for load measurements)\n";
}

} // namespace gemvolt::server
