// The sound window's test buttons, listened to through OpenAL Soft's wave-file output.
#include "Client/shell/FrmSFX.h"
#include "support/FakeSoundDialogs.h"
#include "support/SoundFiles.h"
#include "support/WaveCapture.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using gemvolt::shell::FrmSFX;
using gemvolt::testing::FakeSoundDialogs;
using gemvolt::testing::SoundFiles;
using gemvolt::testing::WaveCapture;

class TestFrmSFXCapture : public QObject {
    Q_OBJECT
    QTemporaryDir m_app; // effects only: no music to cover them
    QTemporaryDir m_out;

private slots:
    void initTestCase() {
        QVERIFY(WaveCapture::setUp(m_out.path()));
        QVERIFY(SoundFiles::writeTone(m_app.filePath("Dink.wav"), 1000, 0.1));
        QVERIFY(SoundFiles::writeTone(m_app.filePath("PahTush.wav"), 600, 0.1));
        gemvolt::audio::SoundPlayer probe;
        probe.enumerateDevices();
        probe.selectDevice(0);
        probe.InitSoundBuffer(m_app.filePath("Dink.wav"), 0);
        if (!probe.isSlotLoaded(0)) {
            QSKIP("OpenAL's wave-file output cannot be opened here; nothing to listen to");
        }
    }

    void testButtonsPlayCentred_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<double>("hz");
        QTest::newRow("gem collision") << "cmdGCPlay" << 1000.0;
        QTest::newRow("gem destruction") << "cmdGDPlay" << 600.0;
    }
    void testButtonsPlayCentred() {
        QFETCH(QString, button);
        QFETCH(double, hz);
        FakeSoundDialogs dialogs;
        FrmSFX w(dialogs, m_app.path());
        QTest::mouseClick(w.findChild<QPushButton*>(button), Qt::LeftButton);
        if (w.player().playingEffects() == 0) {
            QSKIP("the wave-file output device did not open");
        }
        QTRY_COMPARE_WITH_TIMEOUT(w.player().playingEffects(), 0, 2000);
        w.GoodBye(); // closes the device, which completes the capture file

        WaveCapture capture;
        QVERIFY(capture.load());
        std::size_t b = 0;
        std::size_t e = 0;
        QVERIFY(capture.steadyStretch(b, e));
        QVERIFY(e > b + 2000);
        const double l = WaveCapture::rmsDb(capture.left(), b, e);
        const double r = WaveCapture::rmsDb(capture.right(), b, e);
        qInfo("%s: left %.2f dB, right %.2f dB", qPrintable(button), l, r);
        QVERIFY2(qAbs(l - r) < 0.1, qPrintable(QString::number(l - r)));
        QVERIFY2(qAbs(l + 9.03) < 0.3, qPrintable(QString::number(l))); // both at full level
        QVERIFY(qAbs(WaveCapture::toneHz(capture.left(), b, e, capture.rate()) - hz) < 1.0);
    }
};

QTEST_MAIN(TestFrmSFXCapture)
#include "tst_frmsfx_capture.moc"
