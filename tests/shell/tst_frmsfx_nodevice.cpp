// The sound window on a machine without any sound device: nothing fails loudly.
#include "Client/shell/FrmSFX.h"
#include "Client/shell/QtSoundDialogs.h"
#include "Client/shell/SoundWindowKeeper.h"
#include "support/FakeSoundDialogs.h"
#include "support/SoundFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using gemvolt::shell::FrmSFX;
using gemvolt::shell::SoundWindowKeeper;
using gemvolt::testing::FakeSoundDialogs;
using gemvolt::testing::SoundFiles;

class TestFrmSFXNoDevice : public QObject {
    Q_OBJECT
    QTemporaryDir m_app;

private slots:
    void initTestCase() {
        // A machine without sound, whatever this one has; read before the first sound call.
        qputenv("ALSOFT_DRIVERS", "none");
        QVERIFY(SoundFiles::writeLoop(m_app.filePath("BGM_2.wav"), 441, 441, 22050));
        QVERIFY(SoundFiles::writeTone(m_app.filePath("Dink.wav"), 2000, 0.05));
    }

    void everyButtonWorksSilently() {
        FakeSoundDialogs dialogs;
        FrmSFX w(dialogs, m_app.path());
        auto* devices = w.findChild<QComboBox*>("cmbDevices");
        QCOMPARE(devices->count(), 0);
        QVERIFY(!w.player().isSlotLoaded(0));
        // The texts still become full paths, so a later device would find the files.
        QCOMPARE(w.collisionFile(), QDir::toNativeSeparators(m_app.filePath("Dink.wav")));

        dialogs.answers = {m_app.filePath("Dink.wav")};
        for (auto* b : w.findChildren<QPushButton*>()) {
            QTest::mouseClick(b, Qt::LeftButton);
        }
        w.findChild<QCheckBox*>("checkBGM")->setChecked(true);
        QTest::mouseClick(w.findChild<QPushButton*>("cmdBGMPlay"), Qt::LeftButton);
        for (int c = -1; c <= 6; ++c) {
            w.PlaySound(w.collisionFile(), c);
            w.PlaySound(m_app.filePath("missing.wav"), c);
        }
        w.CleanUpSndBuffer();
        w.SetBGMSpeed(14);
        QCOMPARE(w.player().playingEffects(), 0);
        QCOMPARE(w.player().slotCount(), 1);
        QCOMPARE(w.player().devicesOpened(), 0);
        QVERIFY(dialogs.messages.isEmpty()); // only a wrong name is worth a message
    }

    void messagesDoNotBlockAndOfferOnlyOk() {
        gemvolt::shell::QtSoundDialogs dialogs;
        QWidget owner;
        owner.show();
        // Returns at once: the game and the network go on behind the box.
        dialogs.showMessage(&owner, "This is not a valid Sound File!");
        auto* box = owner.findChild<QMessageBox*>();
        QVERIFY(box);
        QVERIFY(box->isVisible());
        QVERIFY(!box->isModal());
        QCOMPARE(box->text(), QString("This is not a valid Sound File!"));
        QCOMPARE(box->standardButtons(), QMessageBox::Ok);
        QPointer<QMessageBox> watch(box);
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        QTRY_VERIFY(watch.isNull()); // closing it frees it
    }

    void aWindowWithoutMusicFilesStillOpens() {
        QTemporaryDir empty;
        FakeSoundDialogs dialogs;
        SoundWindowKeeper keeper(dialogs, empty.path());
        keeper.show();
        QVERIFY(QTest::qWaitForWindowExposed(keeper.window()));
        keeper.PlaySound(keeper.collisionFile(), 3);
        keeper.CleanUpSndBuffer();
        keeper.SetBGMSpeed(7);
        QVERIFY(!keeper.bgmDisabled());
        keeper.GoodBye();
        QVERIFY(!keeper.exists());
    }
};

QTEST_MAIN(TestFrmSFXNoDevice)
#include "tst_frmsfx_nodevice.moc"
