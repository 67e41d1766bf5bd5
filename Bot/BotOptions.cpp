#include "Bot/BotOptions.h"

#include "Common/program/CommandLine.h"

#include <QCommandLineParser>

namespace gemvolt::bot {

QString BotOptions::usage() {
    return QStringLiteral(
        "usage: gemvolt-bot [--host HOST] [--port PORT] [--name NAME]\n"
        "                   [--level easy|normal|hard] [--games N] [--fast] [--stats]\n"
        "       gemvolt-bot --help | --version\n"
        "  --host HOST   server to join (default 127.0.0.1)\n"
        "  --port PORT   server port, 1-65535 (default 4000)\n"
        "  --name NAME   player name (default \"Computer\")\n"
        "  --level L     easy, normal or hard (default normal)\n"
        "  --games N     leave after N fights (default: stay)\n"
        "  --fast        play many times faster (tests and bot-only sessions)\n"
        "  --stats       print messages received, fights played and connection\n"
        "                breaks resumed when leaving\n"
        "  -h, --help    print this text and exit\n"
        "  -v, --version print the name and version and exit\n");
}

std::optional<BotOptions> BotOptions::parse(const QStringList& arguments, QString* error) {
    BotOptions o;
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return std::optional<BotOptions>{};
    };
    QCommandLineParser parser;
    // "-host" is one unknown word, not four letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption host(QStringLiteral("host"), QString(), QStringLiteral("HOST"));
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("PORT"));
    const QCommandLineOption name(QStringLiteral("name"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption level(QStringLiteral("level"), QString(), QStringLiteral("L"));
    const QCommandLineOption games(QStringLiteral("games"), QString(), QStringLiteral("N"));
    const QCommandLineOption fast(QStringLiteral("fast"));
    const QCommandLineOption stats(QStringLiteral("stats"));
    parser.addOptions({help, version, host, port, name, level, games, fast, stats});
    if (!parser.parse(QStringList{QStringLiteral("gemvolt-bot")} + arguments)) {
        if (!parser.unknownOptionNames().isEmpty())
            return fail(
                QStringLiteral("unknown argument \"%1\"")
                    .arg(program::optionAsTyped(arguments, parser.unknownOptionNames().first())));
        return fail(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(
            QStringLiteral("unknown argument \"%1\"").arg(parser.positionalArguments().first()));
    o.Help = parser.isSet(help);
    o.Version = parser.isSet(version);
    if (o.Help || o.Version)
        return o;
    o.Fast = parser.isSet(fast);
    o.Stats = parser.isSet(stats);
    // A value given twice: the last one counts.
    if (parser.isSet(host)) {
        const QString v = parser.value(host).trimmed();
        if (v.isEmpty())
            return fail(QStringLiteral("--host needs a host name"));
        o.Host = v;
    }
    if (parser.isSet(port)) {
        bool ok = false;
        const uint v = parser.value(port).toUInt(&ok);
        if (!ok || v < 1 || v > 65535)
            return fail(QStringLiteral("--port needs a number from 1 to 65535"));
        o.Port = static_cast<quint16>(v);
    }
    if (parser.isSet(name)) {
        const QString v = parser.value(name);
        if (v.toUtf8().size() > 255)
            return fail(QStringLiteral("--name is longer than 255 bytes"));
        o.Name = v;
    }
    if (parser.isSet(level)) {
        const std::optional<Level> v = parseLevel(parser.value(level).toStdString());
        if (!v)
            return fail(QStringLiteral("--level must be easy, normal or hard"));
        o.Which = *v;
    }
    if (parser.isSet(games)) {
        bool ok = false;
        const int v = parser.value(games).toInt(&ok);
        if (!ok || v < 1)
            return fail(QStringLiteral("--games needs a whole number of at least 1"));
        o.Games = v;
    }
    return o;
}

} // namespace gemvolt::bot
