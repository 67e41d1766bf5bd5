// gemvolt-bot: a computer player that joins a Gemvolt server and fights.

#include "Bot/BotOptions.h"
#include "Bot/BotPlayer.h"
#include "Common/program/SignalWatcher.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

void printLine(std::FILE* to, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fputc('\n', to);
    std::fflush(to);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();

    QString error;
    const std::optional<gemvolt::bot::BotOptions> options =
        gemvolt::bot::BotOptions::parse(arguments, &error);
    if (!options) {
        printLine(stderr, QStringLiteral("gemvolt-bot: %1").arg(error));
        std::fputs(gemvolt::bot::BotOptions::usage().toLocal8Bit().constData(), stderr);
        return 2;
    }
    if (options->Help) {
        std::fputs(gemvolt::bot::BotOptions::usage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (options->Version) {
        std::fputs("gemvolt-bot " GEMVOLT_VERSION "\n", stdout);
        return 0;
    }

    // Ctrl-C and SIGTERM leave the server politely: the handler only wakes the
    // event loop, which sends MsgPlayerLeft and ends the program.
    gemvolt::program::SignalWatcher watcher({SIGINT, SIGTERM});
    if (!watcher.isValid()) {
        printLine(stderr, QStringLiteral("gemvolt-bot: cannot set up signal handling"));
        return 1;
    }

    gemvolt::bot::BotPlayer bot(*options);
    QObject::connect(&watcher, &gemvolt::program::SignalWatcher::signalled, &bot,
                     [&bot] { bot.leave(0); });
    QObject::connect(&bot, &gemvolt::bot::BotPlayer::problem, &bot,
                     [](const QString& text) { printLine(stderr, text); });
    QObject::connect(&bot, &gemvolt::bot::BotPlayer::finished, &app, [&](int code) {
        if (options->Stats) {
            const gemvolt::bot::BotStats s = bot.stats();
            printLine(stdout,
                      QStringLiteral("stats received=%1 undecodable=%2 fights=%3 wins=%4 "
                                     "losses=%5 pairs=%6 keys=%7 interrupted=%8 resumed=%9 "
                                     "lossboards=%10")
                          .arg(s.MessagesReceived)
                          .arg(s.MessagesUndecodable)
                          .arg(s.Fights)
                          .arg(s.Wins)
                          .arg(s.Losses)
                          .arg(s.Pairs)
                          .arg(s.Keys)
                          .arg(s.Interruptions)
                          .arg(s.Resumes)
                          .arg(s.BoardsAtLoss.isEmpty() ? QStringLiteral("-")
                                                        : s.BoardsAtLoss.join(QLatin1Char(','))));
        }
        QCoreApplication::exit(code);
    });
    QMetaObject::invokeMethod(
        &bot, [&] { bot.start(); }, Qt::QueuedConnection);
    return app.exec();
}
