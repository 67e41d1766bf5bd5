// gemvolt-bot: a computer player that joins a Gemvolt server and fights.

#include "Bot/BotOptions.h"
#include "Bot/BotPlayer.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalFd[2] = {-1, -1};

extern "C" void onStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalFd[1], &byte, 1);
}

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
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalFd) != 0) {
        printLine(stderr, QStringLiteral("gemvolt-bot: cannot set up signal handling"));
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    gemvolt::bot::BotPlayer bot(*options);
    QSocketNotifier notifier(g_signalFd[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &bot, [&] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(g_signalFd[0], &byte, 1);
        bot.leave(0);
    });
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
    const int code = app.exec();
    ::close(g_signalFd[0]);
    ::close(g_signalFd[1]);
    return code;
}
