#include "Server/ServerOptions.h"

#include "Common/program/CommandLine.h"

#include <QCommandLineParser>

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
    QStringList texts{QStringLiteral("gemvolt-server")};
    for (const std::string& argument : arguments) {
        texts << QString::fromStdString(argument);
    }
    QCommandLineParser parser;
    // "-players" is one unknown word, not seven letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption headless(QStringLiteral("headless"));
    const QCommandLineOption players(QStringLiteral("players"), QString(), QStringLiteral("N"));
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("P"));
    const QCommandLineOption flood(QStringLiteral("flood-limit"), QString(), QStringLiteral("KIB"));
    const QCommandLineOption hold(QStringLiteral("resume-hold"), QString(),
                                  QStringLiteral("SECONDS"));
    parser.addOptions({help, version, headless, players, port, flood, hold});
    if (!parser.parse(texts)) {
        if (!parser.unknownOptionNames().isEmpty()) {
            return invalid(
                "unknown argument '" +
                program::optionAsTyped(texts, parser.unknownOptionNames().first()).toStdString() +
                "'");
        }
        return invalid(parser.errorText().toStdString());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return invalid("unknown argument '" + parser.positionalArguments().first().toStdString() +
                       "'");
    }
    if (parser.isSet(help)) {
        options.mode = Mode::Help;
        return options;
    }
    if (parser.isSet(version)) {
        options.mode = Mode::Version;
        return options;
    }
    for (const QString& name :
         {QStringLiteral("headless"), QStringLiteral("players"), QStringLiteral("port"),
          QStringLiteral("flood-limit"), QStringLiteral("resume-hold")}) {
        if (parser.optionNames().count(name) > 1) {
            return invalid("--" + name.toStdString() + " is given twice");
        }
    }
    long long number = 0;
    if (parser.isSet(players)) {
        const std::string value = parser.value(players).toStdString();
        if (!readNumber(value, 2, 10000, number)) {
            return invalid("--players takes a whole number from 2 to 10000, not '" + value + "'");
        }
        options.players = static_cast<int>(number);
    }
    if (parser.isSet(port)) {
        const std::string value = parser.value(port).toStdString();
        if (!readNumber(value, 0, 65535, number)) {
            return invalid("--port takes a port number from 0 to 65535, not '" + value + "'");
        }
        options.port = static_cast<std::uint16_t>(number);
    }
    if (parser.isSet(flood)) {
        const std::string value = parser.value(flood).toStdString();
        if (!readNumber(value, 0, 1024 * 1024, number)) {
            return invalid("--flood-limit takes a number of KiB from 0 to 1048576, not '" + value +
                           "'");
        }
        options.floodLimitKib = static_cast<int>(number);
    }
    if (parser.isSet(hold)) {
        const std::string value = parser.value(hold).toStdString();
        // A day is far beyond any blip worth waiting for.
        if (!readNumber(value, 0, 86400, number)) {
            return invalid("--resume-hold takes a number of seconds from 0 to 86400, not '" +
                           value + "'");
        }
        options.resumeHoldSeconds = static_cast<int>(number);
    }
    if (!parser.isSet(headless)) {
        return invalid("--players, --port, --flood-limit and --resume-hold need --headless; "
                       "without arguments the window opens");
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
           "         [--resume-hold SECONDS]\n"
           "       " +
           program +
           " --help | --version\n"
           "\n"
           "Without arguments the server opens its window and asks for the number of players.\n"
           "--headless    run without a window; print the port listened on, then one line\n"
           "              per join, departure, fight result, interrupted connection and\n"
           "              resume or end of its hold; end on SIGINT or SIGTERM\n"
           "--players N   players the session holds, the server's own included (2 to 10000,\n"
           "              default 11)\n"
           "--port P      TCP port to listen on (default 4000; 0 picks a free port)\n"
           "--flood-limit KIB\n"
           "              message KiB one player may send within 4 seconds before the\n"
           "              server ends its session (default 1024; 0 turns the limit off,\n"
           "              for load measurements)\n"
           "--resume-hold SECONDS\n"
           "              how long a player whose connection broke keeps its place and its\n"
           "              fight while it reconnects (default 30; 0 turns resuming off)\n"
           "-h, --help    print this text and exit\n"
           "-v, --version print the name and version and exit\n";
}

} // namespace gemvolt::server
