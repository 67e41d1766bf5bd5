#pragma once

#include "Bot/LevelSettings.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace gemvolt::bot {

/** The command line of gemvolt-bot. */
struct BotOptions {
    QString Host = QStringLiteral("127.0.0.1");
    quint16 Port = 4000;
    QString Name = QStringLiteral("Computer");
    Level Which = Level::Normal;
    int Games = 0;        ///< leave after this many fights; 0: stay until stopped
    bool Fast = false;    ///< the bot's own timers and pauses run FastFactor times faster
    bool Stats = false;   ///< print what was received and played when leaving
    bool Help = false;    ///< --help: print the usage and leave before anything else
    bool Version = false; ///< --version: print the name and version and leave

    /** How much faster --fast runs the fall timer, the keys and the pauses. */
    static constexpr double FastFactor = 100.0;

    /** The usage text: on standard output for --help, on standard error for a mistake. */
    static QString usage();

    /**
     * Reads the arguments (without the program name). Nothing, with the reason
     * in `error`, for an unknown option, a missing or bad value.
     */
    static std::optional<BotOptions> parse(const QStringList& arguments, QString* error);
};

} // namespace gemvolt::bot
