// A device that is listed but does not open (ALSA's default on a machine
// without a sound card): the game goes on silently and does not keep trying.
#include "Client/audio/SoundPlayer.h"
#include "support/SoundFiles.h"

#include <QTemporaryDir>
#include <QtTest>

using gemvolt::audio::SoundPlayer;
using gemvolt::testing::SoundFiles;

class TestAudioUnopenable : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        // Read once per process, before the first sound call.
        qputenv("ALSOFT_DRIVERS", "alsa");
        qputenv("ALSOFT_LOGLEVEL", "0");
    }

    void aListedDeviceThatWillNotOpenIsTriedOnce() {
        const QString tone = m_dir.filePath("tone.wav");
        QVERIFY(SoundFiles::writeTone(tone, 1000, 0.05));
        SoundPlayer player;
        if (player.enumerateDevices().isEmpty()) {
            QSKIP("OpenAL lists no ALSA device here");
        }
        player.selectDevice(0);
        player.InitSoundBuffer(tone, 0);
        if (player.isSlotLoaded(0)) {
            QSKIP("this machine has a working sound card; the failing device cannot be shown");
        }
        player.takeBgmBaseFrequency();
        player.playMusicLooping();
        for (int i = 0; i < 50; ++i) {
            player.PlaySound(tone, i % 7);
        }
        player.SetBGMSpeed(14);
        player.CleanUpSndBuffer();
        QCOMPARE(player.playingEffects(), 0);
        QCOMPARE(player.slotCount(), 1);
        QCOMPARE(player.devicesOpened(), 0);
        QCOMPARE(player.deviceOpenAttempts(), 1);
        // Choosing the device again is a new choice: one more try.
        player.selectDevice(-1);
        player.selectDevice(0);
        player.PlaySound(tone, 0);
        QCOMPARE(player.deviceOpenAttempts(), 2);
    }
};

QTEST_GUILESS_MAIN(TestAudioUnopenable)
#include "tst_audio_unopenable.moc"
