#include "Client/shell/AssetFolder.h"
#include "Client/shell/FrmMain.h"
#include "Client/shell/QtDialogs.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <memory>

namespace {

/**
 * For the start-up benchmark: writes the wall-clock time (ms since the epoch)
 * of the main window's first paint to the file named by
 * GEMVOLT_FIRST_PAINT_FILE, then removes itself.
 */
class FirstPaintProbe : public QObject {
public:
    explicit FirstPaintProbe(QString file) : m_file(std::move(file)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            QFile out(m_file);
            if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
                out.write(QByteArray::number(QDateTime::currentMSecsSinceEpoch()));
            watched->removeEventFilter(this);
        }
        return false;
    }

private:
    QString m_file;
};

const char* const Usage = "usage: gemvolt [--help] [--version]\n"
                          "\n"
                          "The Gemvolt client. It takes no arguments besides these and Qt's own\n"
                          "(such as -platform or -style): it opens its window and asks for the\n"
                          "server to join and the player's name.\n"
                          "  -h, --help     print this text and exit\n"
                          "  -v, --version  print the name and version and exit\n";

/** Reads `arguments` (the program name first) for --help and --version; false on anything else. */
bool readArguments(const QStringList& arguments, bool& help, bool& version, QString& error) {
    QCommandLineParser parser;
    // "-reverse" and "-platform" are Qt's; read them whole, never as letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(
        QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOption(helpOption);
    parser.addOption(versionOption);
    const bool ok = parser.parse(arguments);
    help = parser.isSet(helpOption);
    version = parser.isSet(versionOption);
    if (ok && parser.positionalArguments().isEmpty())
        return true;
    // Name the argument as it was typed; the parser's own text drops its dashes.
    for (const QString& argument : arguments.mid(1)) {
        if (!parser.optionNames().contains(
                argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1))) {
            error = QStringLiteral("unknown argument '%1'").arg(argument);
            break;
        }
    }
    return false;
}

/**
 * The sound library reads the game's settings (its mixing period) from a file
 * beside the program; installed, the file lives in the data folder instead, so
 * name it there. A file the user names in ALSOFT_CONF still wins. This must
 * run before the first call into the library.
 */
void pointSoundLibraryAtItsSettings() {
    if (qEnvironmentVariableIsSet("ALSOFT_CONF"))
        return;
    const QString programFolder = QCoreApplication::applicationDirPath();
    const QString folder = gemvolt::shell::AssetFolder::forProgram(programFolder);
    const QString settings = QDir(folder).filePath(QStringLiteral("alsoft.conf"));
    if (QDir(folder) != QDir(programFolder) && QFileInfo::exists(settings))
        qputenv("ALSOFT_CONF", QFile::encodeName(settings));
}

} // namespace

int main(int argc, char* argv[]) {
    // --help and --version are answered before any window system is needed.
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    bool help = false;
    bool version = false;
    QString error;
    readArguments(raw, help, version, error);
    if (help) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (version) {
        std::fputs("gemvolt " GEMVOLT_VERSION "\n", stdout);
        return 0;
    }

    QApplication app(argc, argv);
    pointSoundLibraryAtItsSettings();
    // Qt has taken its own options out; whatever is left is not the client's.
    if (!readArguments(QCoreApplication::arguments(), help, version, error)) {
        std::fprintf(stderr, "gemvolt: %s\n%s", qPrintable(error), Usage);
        return 2;
    }
    // No display name: the window system would add it to every caption, and
    // the captions are the program's own.
    QApplication::setApplicationName("Gemvolt");
    QApplication::setApplicationVersion(GEMVOLT_VERSION);
    QApplication::setDesktopFileName("org.gemvolt.Gemvolt");
    // The program ends through the exit timer only, never because a window closed.
    QApplication::setQuitOnLastWindowClosed(false);

    gemvolt::shell::QtDialogs dialogs([] { QCoreApplication::exit(1); });
    gemvolt::shell::FrmMain frmMain(dialogs);
    dialogs.setParent(&frmMain);
    std::unique_ptr<FirstPaintProbe> probe;
    if (qEnvironmentVariableIsSet("GEMVOLT_FIRST_PAINT_FILE")) {
        probe = std::make_unique<FirstPaintProbe>(qEnvironmentVariable("GEMVOLT_FIRST_PAINT_FILE"));
        frmMain.installEventFilter(probe.get());
    }
    // exit(), not quit(): quitting first asks every window to close, and
    // windows that stay for the exit delay would veto it.
    QObject::connect(
        &frmMain, &gemvolt::shell::FrmMain::programEnded, &app, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    if (!frmMain.startUp())
        return 1;
    return QApplication::exec();
}
