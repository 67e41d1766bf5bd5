// --help, --version and an unknown option, through the real programs.
#include <QDir>
#include <QProcess>
#include <QTest>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Without a display: --help and --version must not need the window system.
Run run(const QString& program, const QStringList& arguments, bool display) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    if (display)
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    else
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QDir(qEnvironmentVariable("GEMVOLT_BIN_DIR")).filePath(program), arguments);
    Run r;
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit)
        return r;
    r.exitCode = process.exitCode();
    r.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(process.readAllStandardError());
    return r;
}

} // namespace

class TestProgramCommandLines : public QObject {
    Q_OBJECT
private slots:
    void answersHelpVersionAndMistakes_data();
    void answersHelpVersionAndMistakes();
};

void TestProgramCommandLines::answersHelpVersionAndMistakes_data() {
    QTest::addColumn<QString>("program");
    for (const char* program : {"gemvolt", "gemvolt-server", "gemvolt-bot"})
        QTest::newRow(program) << QString::fromLatin1(program);
}

void TestProgramCommandLines::answersHelpVersionAndMistakes() {
    QFETCH(QString, program);
    for (const QString& help : {QStringLiteral("--help"), QStringLiteral("-h")}) {
        const Run r = run(program, {help}, false);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.startsWith(QStringLiteral("usage: ")), qPrintable(r.out));
        QVERIFY2(r.out.contains(program) && r.out.contains(QStringLiteral("--version")),
                 qPrintable(r.out));
        QCOMPARE(r.err, QString());
    }
    for (const QString& version : {QStringLiteral("--version"), QStringLiteral("-v")}) {
        const Run r = run(program, {version}, false);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, program + QLatin1Char(' ') + qEnvironmentVariable("GEMVOLT_VERSION") +
                            QLatin1Char('\n'));
    }
    // A mistake: nothing on standard output, the reason and the usage on standard error.
    const Run bad = run(program, {QStringLiteral("--bogus")}, true);
    QCOMPARE(bad.exitCode, 2);
    QCOMPARE(bad.out, QString());
    QVERIFY2(bad.err.contains(QStringLiteral("--bogus")), qPrintable(bad.err));
    QVERIFY2(bad.err.contains(QStringLiteral("usage: ")), qPrintable(bad.err));
}

QTEST_GUILESS_MAIN(TestProgramCommandLines)
#include "tst_programcommandlines.moc"
