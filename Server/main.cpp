// gemvolt-server: the session server, with its window or, with --headless,
// without one.
#include "Common/program/EpollEventDispatcher.h"
#include "Common/program/SignalWatcher.h"
#include "Common/transport/SessionServer.h"
#include "Server/HeadlessServer.h"
#include "Server/QtServerDialogs.h"
#include "Server/ServerOptions.h"
#include "Server/ServerWindow.h"

#include <QApplication>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

using namespace gemvolt::server;
using gemvolt::program::EpollEventDispatcher;
using gemvolt::program::SignalWatcher;

namespace {

int runHeadless(int argc, char** argv, const ServerOptions& options) {
    // Without a window nothing needs the GLib main loop, and a loop on epoll costs
    // each relayed message less than Qt's own: it is woken for every one of them.
    auto* loop = new EpollEventDispatcher;
    if (loop->isValid()) {
        QCoreApplication::setEventDispatcher(loop);
    } else {
        delete loop;
        if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) {
            qputenv("QT_NO_GLIB", "1");
        }
    }
    QCoreApplication app(argc, argv);
    SignalWatcher watcher({SIGINT, SIGTERM});
    HeadlessServer server;
    server.sessionPort().session().setFloodLimit(qint64(options.floodLimitKib) * 1024);
    server.sessionPort().session().setResumeHold(options.resumeHoldSeconds);
    std::string error;
    if (!server.start(options.players, options.port, error)) {
        std::fprintf(stderr, "gemvolt-server: %s\n", error.c_str());
        return 1;
    }
    QObject::connect(&watcher, &SignalWatcher::signalled, &app, [&server] {
        server.stop();
        QCoreApplication::quit();
    });
    return QCoreApplication::exec();
}

int runWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(GEMVOLT_VERSION);
    QApplication::setDesktopFileName("org.gemvolt.Gemvolt.Server");
    QtServerDialogs dialogs;
    ServerWindow window(dialogs, ServerWindow::Options{});
    dialogs.setParent(&window);
    window.start();
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    const std::string program = argc > 0 ? argv[0] : "gemvolt-server";
    const ServerOptions options =
        ServerOptions::parse(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
    switch (options.mode) {
    case ServerOptions::Mode::Window:
        return runWindow(argc, argv);
    case ServerOptions::Mode::Headless:
        return runHeadless(argc, argv, options);
    case ServerOptions::Mode::Help:
        std::fputs(ServerOptions::usage(program).c_str(), stdout);
        return 0;
    case ServerOptions::Mode::Version:
        std::fputs("gemvolt-server " GEMVOLT_VERSION "\n", stdout);
        return 0;
    case ServerOptions::Mode::Invalid:
        break;
    }
    std::fprintf(stderr, "gemvolt-server: %s\n%s", options.error.c_str(),
                 ServerOptions::usage(program).c_str());
    return 2;
}
