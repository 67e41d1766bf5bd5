#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gemvolt::server {

/** How the server program was asked to run, read from its command line. */
struct ServerOptions {
    enum class Mode {
        Window,   ///< no arguments: the window, with its prompt
        Headless, ///< --headless: no window, no prompt, lines on standard output
        Help,     ///< --help: the usage on standard output
        Version,  ///< --version: the name and version on standard output
        Invalid,  ///< anything else: the usage on standard error, exit status 2
    };

    Mode mode = Mode::Window;
    int players = 11;
    std::uint16_t port = 4000;
    /** Message KiB one client may send within 4 s before its session ends; 0 for no limit. */
    int floodLimitKib = 1024;
    /** Seconds a player whose connection broke keeps its place waiting to resume; 0: none. */
    int resumeHoldSeconds = 30;
    /** What was wrong, for Invalid. */
    std::string error;

    /** Reads the arguments after the program name. */
    static ServerOptions parse(const std::vector<std::string>& arguments);

    /** The usage text, several lines, ending with a line break. */
    static std::string usage(const std::string& program);
};

} // namespace gemvolt::server
