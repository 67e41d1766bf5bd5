#include "Client/battle/GameCore.h"
#include "Client/shell/FrmMain.h"
#include "Client/shell/OfflineSession.h"
#include "Client/shell/QtDialogs.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Gemvolt");
    QApplication::setApplicationDisplayName("Gemvolt");
    // The program ends through the exit timer only, never because a window closed.
    QApplication::setQuitOnLastWindowClosed(false);

    gemvolt::battle::GameCore core;
    gemvolt::shell::QtDialogs dialogs;
    gemvolt::shell::OfflineSession session(core, dialogs);
    gemvolt::shell::FrmMain frmMain(core, session, dialogs);
    dialogs.setParent(&frmMain);
    QObject::connect(&frmMain, &gemvolt::shell::FrmMain::programEnded, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    if (!frmMain.startUp())
        return 1;
    return QApplication::exec();
}
