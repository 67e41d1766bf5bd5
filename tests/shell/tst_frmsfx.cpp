// The sound window on OpenAL's silent "No Output" device, with scripted dialogs.
#include "Client/shell/FrmSFX.h"
#include "Client/shell/SoundWindowKeeper.h"
#include "support/FakeSoundDialogs.h"
#include "support/SoundFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using gemvolt::shell::FrmSFX;
using gemvolt::shell::SoundWindowKeeper;
using gemvolt::testing::FakeSoundDialogs;
using gemvolt::testing::SoundFiles;

namespace {

template <typename T> T* child(QWidget* w, const char* name) {
    return w->findChild<T*>(QString::fromLatin1(name));
}

void click(QWidget* w, const char* button) {
    auto* b = child<QPushButton>(w, button);
    QVERIFY2(b != nullptr, button);
    QTest::mouseClick(b, Qt::LeftButton);
}

} // namespace

class TestFrmSFX : public QObject {
    Q_OBJECT
    QTemporaryDir m_app;   // the program's folder with the default sounds
    QTemporaryDir m_other; // where the program is started from
    QString m_longTone;

    QString inApp(const char* name) const { return m_app.filePath(QString::fromLatin1(name)); }

private slots:
    void initTestCase() {
        QVERIFY(SoundFiles::writeLoop(inApp("BGM_2.wav"), 441, 441, 22050));
        QVERIFY(SoundFiles::writeTone(inApp("Dink.wav"), 2000, 0.05));
        QVERIFY(SoundFiles::writeTone(inApp("PahTush.wav"), 300, 0.1));
        m_longTone = inApp("long.wav");
        QVERIFY(SoundFiles::writeTone(m_longTone, 500, 3.0, 8000));
        // Started from elsewhere: the defaults must still come from the program's folder.
        QVERIFY(QDir::setCurrent(m_other.path()));
        // Read once per process, before the first sound call.
        qputenv("ALSOFT_DRIVERS", "null");
        gemvolt::audio::SoundPlayer probe;
        probe.enumerateDevices();
        probe.selectDevice(0);
        probe.InitSoundBuffer(m_longTone, 0);
        if (!probe.isSlotLoaded(0)) {
            QSKIP("OpenAL's silent \"No Output\" device cannot be opened here");
        }
    }

    void creationListsDevicesStartsMusicAndMakesFullPaths() {
        FakeSoundDialogs dialogs;
        FrmSFX w(dialogs, m_app.path());
        QCOMPARE(w.objectName(), QString("frmSFX"));
        QCOMPARE(w.windowTitle(), QString("GMVLT - Sound Options"));
        QVERIFY(!w.isVisible());

        auto* devices = child<QComboBox>(&w, "cmbDevices");
        QVERIFY(devices);
        QCOMPARE(devices->count(), 1);
        QCOMPARE(devices->itemText(0), QString("No Output"));
        QCOMPARE(devices->currentIndex(), 0);

        // The music plays from the program's folder even though the current folder is another.
        QVERIFY(w.player().isSlotPlaying(0));
        QCOMPARE(w.player().BgmBaseFrequency(), 22050.0);

        const QString sep = QDir::separator();
        QCOMPARE(child<QLineEdit>(&w, "txtGC")->text(), m_app.path() + sep + "Dink.wav");
        QCOMPARE(child<QLineEdit>(&w, "txtGD")->text(), m_app.path() + sep + "PahTush.wav");
        QCOMPARE(child<QLineEdit>(&w, "txtBGM")->text(), m_app.path() + sep + "BGM_2.wav");
        QCOMPARE(w.collisionFile(), child<QLineEdit>(&w, "txtGC")->text());
        QCOMPARE(w.destructionFile(), child<QLineEdit>(&w, "txtGD")->text());
        QVERIFY(!w.bgmDisabled());
    }

    void windowShowsItsLabelsAndButtons() {
        FakeSoundDialogs dialogs;
        FrmSFX w(dialogs, m_app.path());
        const QStringList labels = {
            "Sound Device:", "Gem Collision:", "Gem Destruction:", "BackGround Music:"};
        QStringList shown;
        for (auto* l : w.findChildren<QLabel*>()) {
            shown.append(l->text());
        }
        for (const QString& l : labels) {
            QVERIFY2(shown.contains(l), qPrintable(l));
        }
        for (const char* name : {"cmdGCPlay", "cmdGDPlay", "cmdBGMPlay"}) {
            QCOMPARE(child<QPushButton>(&w, name)->text(), QString("Play"));
        }
        for (const char* name : {"cmdGCclect", "cmdGDclect", "cmdBGMclect"}) {
            QCOMPARE(child<QPushButton>(&w, name)->text(), QString("Browse..."));
        }
        auto* check = child<QCheckBox>(&w, "checkBGM");
        QCOMPARE(check->text(), QString("Disable BGM (click Play to apply)"));
        QVERIFY(!check->isChecked());

        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto hide = w.findChildren<QPushButton*>();
        auto it = std::find_if(hide.begin(), hide.end(),
                               [](QPushButton* b) { return b->text() == "_ Hide"; });
        QVERIFY(it != hide.end());
        QTest::mouseClick(*it, Qt::LeftButton);
        QVERIFY(!w.isVisible());
        QVERIFY(w.player().isSlotPlaying(0)); // hiding changes nothing
    }

    void testButtonsPlayTheFilesNamedInTheTexts() {
        FakeSoundDialogs dialogs;
        FrmSFX w(dialogs, m_app.path());
        child<QLineEdit>(&w, "txtGC")->setText(m_longTone);
        click(&w, "cmdGCPlay");
        QCOMPARE(w.player().playingEffects(), 1);
        child<QLineEdit>(&w, "txtGD")->setText(m_longTone);
        click(&w, "cmdGDPlay");
        QCOMPARE(w.player().playingEffects(), 2);
        // An upper-case extension is never played.
        const QString upper = inApp("Loud.WAV");
        QVERIFY(QFile::copy(m_longTone, upper));
        child<QLineEdit>(&w, "txtGC")->setText(upper);
        click(&w, "cmdGCPlay");
        QCOMPARE(w.player().playingEffects(), 2);
        QVERIFY(dialogs.messages.isEmpty());
        QFile::remove(upper);
    }

    void browseAsksForAWaveFileAndKeepsTheTextOnCancel() {
        FakeSoundDialogs dialogs;
        FrmSFX w(dialogs, m_app.path());
        auto* gc = child<QLineEdit>(&w, "txtGC");
        const QString before = gc->text();
        dialogs.answers = {m_longTone, QString()};
        click(&w, "cmdGCclect");
        QCOMPARE(gc->text(), QDir::toNativeSeparators(m_longTone));
        QCOMPARE(dialogs.titles.value(0), QString("Select Sound File..."));
        QCOMPARE(dialogs.filters.value(0), QString("Wave Sound Files (*.wav)"));
        QCOMPARE(dialogs.startPaths.value(0), before);

        click(&w, "cmdGCclect"); // cancelled
        QCOMPARE(gc->text(), QDir::toNativeSeparators(m_longTone));

        dialogs.answers = {inApp("Dink.wav")};
        click(&w, "cmdGDclect");
        QCOMPARE(child<QLineEdit>(&w, "txtGD")->text(),
                 QDir::toNativeSeparators(inApp("Dink.wav")));
        dialogs.answers = {inApp("PahTush.wav")};
        click(&w, "cmdBGMclect");
        QCOMPARE(child<QLineEdit>(&w, "txtBGM")->text(),
                 QDir::toNativeSeparators(inApp("PahTush.wav")));
        QCOMPARE(dialogs.titles.size(), 4);
    }

    void musicPlayButtonReloadsAndCutsOffEffects() {
        FakeSoundDialogs dialogs;
        FrmSFX w(dialogs, m_app.path());
        for (int c = 0; c < 3; ++c) {
            w.PlaySound(m_longTone, c);
        }
        QCOMPARE(w.player().playingEffects(), 3);
        // Another music file takes effect at the Play button, with its own base frequency.
        const QString other = inApp("other.wav");
        QVERIFY(SoundFiles::writeLoop(other, 440, 440, 44100));
        child<QLineEdit>(&w, "txtBGM")->setText(other);
        click(&w, "cmdBGMPlay");
        QCOMPARE(w.player().playingEffects(), 0);
        QCOMPARE(w.player().slotCount(), 1);
        QVERIFY(w.player().isSlotPlaying(0));
        QCOMPARE(w.player().BgmBaseFrequency(), 44100.0);
        QVERIFY(dialogs.messages.isEmpty());
    }

    void musicPlayButtonRefusesNonWaveNames() {
        FakeSoundDialogs dialogs;
        FrmSFX w(dialogs, m_app.path());
        child<QLineEdit>(&w, "txtBGM")->setText(inApp("BGM_2.WAV"));
        click(&w, "cmdBGMPlay");
        QCOMPARE(dialogs.messages, QStringList{"This is not a valid Sound File!"});
        QVERIFY(!w.player().isSlotPlaying(0)); // the music stays stopped
    }

    void disableBgmAppliesAtPlayAndSpeedRestartsMusicOnceCleared() {
        FakeSoundDialogs dialogs;
        FrmSFX w(dialogs, m_app.path());
        auto* check = child<QCheckBox>(&w, "checkBGM");
        check->setChecked(true);
        QVERIFY(w.bgmDisabled());
        QVERIFY(w.player().isSlotPlaying(0)); // nothing happens until Play
        click(&w, "cmdBGMPlay");
        QVERIFY(!w.player().isSlotPlaying(0));
        QVERIFY(w.player().isSlotLoaded(0));
        QVERIFY(dialogs.messages.isEmpty());

        check->setChecked(false);
        QVERIFY(!w.bgmDisabled());
        QVERIFY(!w.player().isSlotPlaying(0)); // unticking alone does not restart it
        // The next landing with gems on the board sets the speed, which restarts the music.
        w.SetBGMSpeed(4);
        QVERIFY(w.player().isSlotPlaying(0));
        QCOMPARE(w.player().slotFrequency(0), 22491); // 22050 × 1.02 = 22491
    }

    void selectingTheSameDeviceKeepsItOpen() {
        FakeSoundDialogs dialogs;
        FrmSFX w(dialogs, m_app.path());
        QCOMPARE(w.player().devicesOpened(), 1);
        auto* devices = child<QComboBox>(&w, "cmbDevices");
        devices->setCurrentIndex(0);
        for (int i = 0; i < 10; ++i) {
            w.PlaySound(w.collisionFile(), i % 6);
        }
        w.CleanUpSndBuffer();
        QCOMPARE(w.player().devicesOpened(), 1);
    }

    void closeButtonReleasesSoundAndTheKeeperRecreatesTheWindow() {
        FakeSoundDialogs dialogs;
        SoundWindowKeeper keeper(dialogs, m_app.path());
        QSignalSpy created(&keeper, &SoundWindowKeeper::windowCreated);
        FrmSFX* first = keeper.window();
        QVERIFY(first);
        QCOMPARE(created.count(), 1);
        QVERIFY(first->player().isSlotPlaying(0));
        child<QLineEdit>(first, "txtGC")->setText(m_longTone);
        child<QCheckBox>(first, "checkBGM")->setChecked(true);
        keeper.PlaySound(keeper.collisionFile(), 2);
        QCOMPARE(first->player().playingEffects(), 1);
        QVERIFY(keeper.bgmDisabled());

        keeper.show();
        QVERIFY(QTest::qWaitForWindowExposed(first));
        QSignalSpy closed(first, &FrmSFX::closedByUser);
        QPointer<FrmSFX> watch(first);
        QVERIFY(first->close());
        QCOMPARE(closed.count(), 1);
        QVERIFY(!first->player().isSlotLoaded(0)); // every sound released
        QCOMPARE(first->player().playingEffects(), 0);
        QVERIFY(!keeper.exists());
        QTRY_VERIFY(watch.isNull());

        // The game's next use creates it again with its defaults, music playing.
        const QString file = keeper.collisionFile();
        QCOMPARE(created.count(), 2);
        QCOMPARE(file, QDir::toNativeSeparators(m_app.path() + "/Dink.wav"));
        QVERIFY(!keeper.bgmDisabled());
        QVERIFY(keeper.window()->player().isSlotPlaying(0));
        QCOMPARE(child<QComboBox>(keeper.window(), "cmbDevices")->currentIndex(), 0);
    }

    void keeperPassesTheGameCallsOnAndStopsAtGoodBye() {
        FakeSoundDialogs dialogs;
        SoundWindowKeeper keeper(dialogs, m_app.path());
        FrmSFX* w = keeper.window();
        keeper.PlaySound(m_longTone, 0);
        keeper.SetBGMSpeed(14);
        QCOMPARE(w->player().slotFrequency(0), 23594);
        QCOMPARE(w->player().playingEffects(), 1);
        keeper.CleanUpSndBuffer();
        QCOMPARE(w->player().slotCount(), 2);
        QCOMPARE(keeper.destructionFile(), QDir::toNativeSeparators(m_app.path() + "/PahTush.wav"));

        keeper.GoodBye();
        QVERIFY(!keeper.exists());
        // The program is ending: later calls neither play nor bring the window back.
        keeper.PlaySound(m_longTone, 0);
        keeper.SetBGMSpeed(3);
        QVERIFY(keeper.collisionFile().isEmpty());
        QVERIFY(!keeper.exists());
        QVERIFY(!keeper.window());
    }
};

QTEST_MAIN(TestFrmSFX)
#include "tst_frmsfx.moc"
