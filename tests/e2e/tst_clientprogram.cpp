// The real client program on a display of its own: it starts, joins a real
// server through its prompts, and ends when the player asks, whatever is open.

#include "ServerProcess.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <X11/Xlib.h>

#include <memory>

using namespace gemvolt::testing;

namespace {

const QString MainCaption = QStringLiteral("Gemvolt Multi-Player by Quillmark (06/03/04)");

// A private Xvfb: it picks a free display number and tells it on its output.
// It must not reset when its last client goes (xdotool comes and goes): a
// client connecting during a reset is turned away.
class VirtualDisplay {
public:
    bool start() {
        m_process.start(QStringLiteral("Xvfb"),
                        {QStringLiteral("-displayfd"), QStringLiteral("1"),
                         QStringLiteral("-screen"), QStringLiteral("0"),
                         QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                         QStringLiteral("tcp"), QStringLiteral("-noreset")});
        if (!m_process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 100 && !m_process.canReadLine(); ++i)
            m_process.waitForReadyRead(100);
        const QString number = QString::fromLatin1(m_process.readLine()).trimmed();
        if (number.isEmpty())
            return false;
        m_name = QLatin1Char(':') + number;
        return true;
    }
    ~VirtualDisplay() {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }
    const QString& name() const { return m_name; }

private:
    QProcess m_process;
    QString m_name;
};

class ClientRun {
public:
    explicit ClientRun(const QString& display) : m_display(display) {}
    ~ClientRun() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(2000);
        }
    }

    void start() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(programPath(QStringLiteral("gemvolt")), {});
    }

    // xdotool on this display; its output, trimmed.
    QString xdo(const QStringList& args) const {
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral("xdotool"), args);
        tool.waitForFinished(5000);
        return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
    }

    // The first window whose caption is exactly `caption`, waited for; 0 if none came.
    unsigned long window(const QString& caption, int timeoutMs = 15000) const {
        const QString pattern = QLatin1Char('^') + QRegularExpression::escape(caption) + '$';
        for (int waited = 0; waited < timeoutMs; waited += 100) {
            const QString ids = xdo({QStringLiteral("search"), QStringLiteral("--name"), pattern});
            if (!ids.isEmpty())
                return ids.section(QLatin1Char('\n'), 0, 0).toULong();
            QTest::qWait(100);
        }
        return 0;
    }

    void answer(unsigned long prompt, const QString& text) const {
        const QString id = QString::number(prompt);
        xdo({QStringLiteral("windowfocus"), QStringLiteral("--sync"), id});
        xdo({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QStringLiteral("ctrl+a")});
        if (!text.isEmpty())
            xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("10"), text});
        xdo({QStringLiteral("key"), QStringLiteral("Return")});
    }

    // Opens the main window's File menu with the mouse and picks its n-th item.
    void fileMenuItem(unsigned long main, int n) const {
        const QString id = QString::number(main);
        // Other windows (the chat window the exit shows) may stand over the menu bar.
        xdo({QStringLiteral("windowraise"), id});
        xdo({QStringLiteral("windowfocus"), QStringLiteral("--sync"), id});
        xdo({QStringLiteral("mousemove"), QStringLiteral("--window"), id, QStringLiteral("18"),
             QStringLiteral("10"), QStringLiteral("click"), QStringLiteral("1")});
        QStringList keys{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("40")};
        for (int i = 0; i < n; ++i)
            keys << QStringLiteral("Down");
        keys << QStringLiteral("Return");
        xdo(keys);
    }

    // What the window system's close button does: WM_DELETE_WINDOW to the window.
    bool requestClose(unsigned long window) const {
        Display* display = XOpenDisplay(m_display.toLatin1().constData());
        if (!display)
            return false;
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
        XFlush(display);
        XCloseDisplay(display);
        return sent != 0;
    }

    QProcess process;

private:
    QString m_display;
};

} // namespace

class TestClientProgram : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void endsAsAsked_data();
    void endsAsAsked();

private:
    std::unique_ptr<VirtualDisplay> m_display;
};

void TestClientProgram::initTestCase() {
    m_display = std::make_unique<VirtualDisplay>();
    QVERIFY2(m_display->start(), "Xvfb did not start");
}

void TestClientProgram::endsAsAsked_data() {
    QTest::addColumn<QString>("way");
    QTest::newRow("File > Exit") << "exit";
    QTest::newRow("close request") << "close";
    QTest::newRow("a prompt opened during the exit") << "prompt";
}

void TestClientProgram::endsAsAsked() {
    QFETCH(QString, way);
    ServerProcess server;
    const quint16 port = server.start();
    QVERIFY2(port != 0, "the server did not report its port");

    ClientRun client(m_display->name());
    client.start();
    QVERIFY(client.process.waitForStarted(5000));
    const unsigned long host = client.window(QStringLiteral("Hostname required"));
    QVERIFY2(host != 0, "no host prompt");
    client.answer(host, QStringLiteral("127.0.0.1:%1").arg(port));
    const unsigned long name = client.window(QStringLiteral("Playername"));
    QVERIFY2(name != 0, "no name prompt");
    client.answer(name, QStringLiteral("Quitter"));
    // The caption is the program's own, nothing appended by the window system.
    const unsigned long main = client.window(MainCaption);
    QVERIFY2(main != 0, "no main window with the exact caption");
    QTRY_VERIFY_WITH_TIMEOUT(!idOf(server, QStringLiteral("Quitter")).isEmpty(), 10000);

    bool promptOpened = false;
    if (way == QLatin1String("close")) {
        QVERIFY(client.requestClose(main));
    } else {
        client.fileMenuItem(main, 4); // Exit
        if (way == QLatin1String("prompt")) {
            // Connect To Server is still on the menu; its prompt is open when the end comes.
            client.fileMenuItem(main, 1);
            promptOpened = client.window(QStringLiteral("Hostname required"), 1400) != 0;
        }
    }
    QVERIFY2(client.process.waitForFinished(6000), "the client did not end");
    QCOMPARE(client.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(client.process.exitCode(), 0);
    // The player said goodbye on the way out.
    QTRY_COMPARE_WITH_TIMEOUT(server.linesStartingWith(QStringLiteral("left ")).size(), 1, 5000);
    // On a very busy machine the menu clicks may take longer than the exit delay.
    if (way == QLatin1String("prompt") && !promptOpened)
        QSKIP("the prompt did not open before the end: nothing was open to close");
}

QTEST_GUILESS_MAIN(TestClientProgram)
#include "tst_clientprogram.moc"
