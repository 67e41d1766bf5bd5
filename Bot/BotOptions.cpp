#include "Bot/BotOptions.h"

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
        "  --stats       print messages received and fights played when leaving\n"
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
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString arg = arguments[i];
        QString value;
        bool hasInline = false;
        if (arg.startsWith(QLatin1String("--")) && arg.contains(QLatin1Char('='))) {
            value = arg.section(QLatin1Char('='), 1);
            arg = arg.section(QLatin1Char('='), 0, 0);
            hasInline = true;
        }
        const auto takeValue = [&]() -> std::optional<QString> {
            if (hasInline)
                return value;
            if (i + 1 >= arguments.size())
                return std::nullopt;
            return arguments[++i];
        };
        if (!hasInline && (arg == QLatin1String("--help") || arg == QLatin1String("-h"))) {
            o.Help = true;
            return o;
        }
        if (!hasInline && (arg == QLatin1String("--version") || arg == QLatin1String("-v"))) {
            o.Version = true;
            return o;
        }
        if (arg == QLatin1String("--fast") || arg == QLatin1String("--stats")) {
            if (hasInline)
                return fail(QStringLiteral("%1 takes no value").arg(arg));
            (arg == QLatin1String("--fast") ? o.Fast : o.Stats) = true;
            continue;
        }
        if (arg != QLatin1String("--host") && arg != QLatin1String("--port") &&
            arg != QLatin1String("--name") && arg != QLatin1String("--level") &&
            arg != QLatin1String("--games"))
            return fail(QStringLiteral("unknown argument \"%1\"").arg(arguments[i]));
        const std::optional<QString> v = takeValue();
        if (!v)
            return fail(QStringLiteral("%1 needs a value").arg(arg));
        if (arg == QLatin1String("--host")) {
            if (v->trimmed().isEmpty())
                return fail(QStringLiteral("--host needs a host name"));
            o.Host = v->trimmed();
        } else if (arg == QLatin1String("--port")) {
            bool ok = false;
            const uint port = v->toUInt(&ok);
            if (!ok || port < 1 || port > 65535)
                return fail(QStringLiteral("--port needs a number from 1 to 65535"));
            o.Port = static_cast<quint16>(port);
        } else if (arg == QLatin1String("--name")) {
            if (v->toUtf8().size() > 255)
                return fail(QStringLiteral("--name is longer than 255 bytes"));
            o.Name = *v;
        } else if (arg == QLatin1String("--level")) {
            const std::optional<Level> level = parseLevel(v->toStdString());
            if (!level)
                return fail(QStringLiteral("--level must be easy, normal or hard"));
            o.Which = *level;
        } else {
            bool ok = false;
            const int games = v->toInt(&ok);
            if (!ok || games < 1)
                return fail(QStringLiteral("--games needs a whole number of at least 1"));
            o.Games = games;
        }
    }
    return o;
}

} // namespace gemvolt::bot
