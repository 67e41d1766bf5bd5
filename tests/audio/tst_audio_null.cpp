// The slot table, the music's speed and the device handling, on OpenAL's
// silent "No Output" device: sounds load and play in real time, unheard.
#include "Client/audio/SoundPlayer.h"
#include "support/SoundFiles.h"

#include <QTemporaryDir>
#include <QtTest>

using gemvolt::audio::SoundPlayer;
using gemvolt::testing::SoundFiles;

class TestAudioNull : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_blip;  // 30 ms: over almost at once
    QString m_long;  // 3 s: still playing when the test looks
    QString m_music; // a seamless 1 s loop

    void openPlayer(SoundPlayer& player) {
        player.enumerateDevices();
        player.selectDevice(0);
    }

private slots:
    void initTestCase() {
        m_blip = m_dir.filePath("blip.wav");
        m_long = m_dir.filePath("long.wav");
        m_music = m_dir.filePath("music.wav");
        QVERIFY(SoundFiles::writeTone(m_blip, 1000, 0.03));
        QVERIFY(SoundFiles::writeTone(m_long, 500, 3.0, 8000));
        QVERIFY(SoundFiles::writeLoop(m_music, 440, 440, 22050));
        // Read once per process, before the first sound call.
        qputenv("ALSOFT_DRIVERS", "null");
        SoundPlayer probe;
        probe.enumerateDevices();
        probe.selectDevice(0);
        probe.InitSoundBuffer(m_blip, 0);
        if (!probe.isSlotLoaded(0)) {
            QSKIP("OpenAL's silent \"No Output\" device cannot be opened here");
        }
    }

    void listsTheSilentDevice() {
        SoundPlayer player;
        QCOMPARE(player.enumerateDevices(), QStringList{"No Output"});
        QCOMPARE(player.deviceDescriptions(), QStringList{"No Output"});
        player.selectDevice(5);
        QCOMPARE(player.selectedDevice(), -1);
        player.selectDevice(0);
        QCOMPARE(player.selectedDevice(), 0);
    }

    void aBurstOfEffectsStaysWithinTheSlotTable() {
        SoundPlayer player;
        openPlayer(player);
        player.InitSoundBuffer(m_music, 0);
        player.playMusicLooping();
        for (int i = 0; i < 200; ++i) {
            player.PlaySound(m_long, i % 6);
            QVERIFY(player.slotCount() <= SoundPlayer::MaxEffectSlots + 1);
        }
        QCOMPARE(player.slotCount(), SoundPlayer::MaxEffectSlots + 1);
        QCOMPARE(player.playingEffects(), SoundPlayer::MaxEffectSlots);
        // The music is never taken for an effect, and the device opened once.
        QVERIFY(player.isSlotPlaying(0));
        QCOMPARE(player.devicesOpened(), 1);
    }

    void whenEverySlotIsBusyTheOldestEffectMakesWay() {
        SoundPlayer player;
        openPlayer(player);
        for (int i = 0; i < SoundPlayer::MaxEffectSlots; ++i) {
            player.PlaySound(m_long, i % 6);
        }
        QCOMPARE(player.playingEffects(), SoundPlayer::MaxEffectSlots);
        // Slot 1 started first: the short effect replaces it and is soon over.
        player.PlaySound(m_blip, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!player.isSlotPlaying(1), 2000);
        QCOMPARE(player.playingEffects(), SoundPlayer::MaxEffectSlots - 1);
        // Its finished slot is taken first; the next one to make way is slot 2.
        player.PlaySound(m_long, 0);
        QVERIFY(player.isSlotPlaying(1));
        player.PlaySound(m_blip, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!player.isSlotPlaying(2), 2000);
        QVERIFY(player.isSlotPlaying(1));
        QVERIFY(player.isSlotPlaying(3));
        QCOMPARE(player.slotCount(), SoundPlayer::MaxEffectSlots + 1);
    }

    void finishedEffectSlotsAreReused() {
        SoundPlayer player;
        openPlayer(player);
        player.PlaySound(m_long, 0);
        player.PlaySound(m_blip, 1);
        player.PlaySound(m_blip, 2);
        QCOMPARE(player.slotCount(), 4);
        QTRY_COMPARE_WITH_TIMEOUT(player.playingEffects(), 1, 2000);
        // Slot 2 is the first finished one; the long effect in slot 1 plays on.
        player.PlaySound(m_long, 3);
        QCOMPARE(player.slotCount(), 4);
        QVERIFY(player.isSlotPlaying(1));
        QVERIFY(player.isSlotPlaying(2));
        QVERIFY(!player.isSlotPlaying(3));
    }

    void cleanUpReleasesFinishedEffectsAndKeepsTheMusic() {
        SoundPlayer player;
        openPlayer(player);
        player.InitSoundBuffer(m_music, 0);
        player.playMusicLooping();
        player.PlaySound(m_long, 0);
        for (int i = 0; i < 5; ++i) {
            player.PlaySound(m_blip, i);
        }
        QCOMPARE(player.slotCount(), 7);
        QTRY_COMPARE_WITH_TIMEOUT(player.playingEffects(), 1, 2000);
        player.CleanUpSndBuffer();
        QCOMPARE(player.slotCount(), 2);
        QVERIFY(player.isSlotPlaying(0));
        QVERIFY(player.isSlotPlaying(1));
        player.CleanUpSndBuffer();
        QCOMPARE(player.slotCount(), 2);
    }

    void theMixerRestsOnceAllIsQuietAndWakesForTheNextSound() {
        const int rest = SoundPlayer::RestAfterMs + 1500;
        SoundPlayer player;
        openPlayer(player);
        player.InitSoundBuffer(m_music, 0);
        player.playMusicLooping();
        QTest::qWait(SoundPlayer::RestAfterMs + 200);
        QVERIFY(player.isMixing()); // the music keeps it awake
        player.stopMusic();
        QTRY_VERIFY_WITH_TIMEOUT(!player.isMixing(), rest);

        // A rested mixer would hold the effect at its start for ever.
        player.PlaySound(m_blip, 2);
        QVERIFY(player.isMixing());
        QTRY_COMPARE_WITH_TIMEOUT(player.playingEffects(), 0, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(!player.isMixing(), rest);

        // The speed change restarts the music, which plays on after the effects.
        player.takeBgmBaseFrequency();
        player.SetBGMSpeed(3);
        QVERIFY(player.isMixing());
        player.PlaySound(m_blip, 0);
        QTest::qWait(rest);
        QVERIFY(player.isMixing());
        QVERIFY(player.isSlotPlaying(0));
    }

    void loadingTheMusicCutsOffTheEffects() {
        SoundPlayer player;
        openPlayer(player);
        for (int i = 0; i < 4; ++i) {
            player.PlaySound(m_long, i);
        }
        QCOMPARE(player.playingEffects(), 4);
        player.InitSoundBuffer(m_music, 0);
        QCOMPARE(player.slotCount(), 1);
        QCOMPARE(player.playingEffects(), 0);
        QVERIFY(player.isSlotLoaded(0));
    }

    void onlyExactWaveNamesPlay() {
        const QString upper = m_dir.filePath("Dink.WAV");
        QVERIFY(QFile::copy(m_long, upper));
        SoundPlayer player;
        openPlayer(player);
        player.PlaySound(upper, 0);
        player.PlaySound(m_long + ".bak", 0);
        QCOMPARE(player.slotCount(), 1);
        QCOMPARE(player.devicesOpened(), 0);
        // Loading it directly works: the content is a wave file, only the name is refused.
        player.InitSoundBuffer(upper, 0);
        QVERIFY(player.isSlotLoaded(0));
    }

    void brokenFilesLeaveTheirSlotEmpty() {
        const QString text = m_dir.filePath("notes.wav");
        QVERIFY(SoundFiles::writeBytes(text, "not a sound"));
        SoundPlayer player;
        openPlayer(player);
        player.InitSoundBuffer(m_music, 0);
        player.playMusicLooping();
        player.PlaySound(text, 2);
        player.PlaySound(m_dir.filePath("missing.wav"), 3);
        QCOMPARE(player.playingEffects(), 0);
        QVERIFY(player.isSlotPlaying(0));
        // A failed music load leaves slot 0 empty and the speed calls harmless.
        player.InitSoundBuffer(text, 0);
        QVERIFY(!player.isSlotLoaded(0));
        player.SetBGMSpeed(14);
        player.stopMusic();
        player.playMusicLooping();
        player.CleanUpSndBuffer();
        QCOMPARE(player.slotCount(), 1);
    }

    void musicSpeedFollowsTheRow_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("row");
        QTest::addColumn<int>("frequency");
        QTest::newRow("bottom row") << 22050 << 0.0 << 22050;
        QTest::newRow("top row") << 44100 << 14.0 << 47187;
        QTest::newRow("top row, 22.05 kHz") << 22050 << 14.0 << 23594;
        QTest::newRow("half rounds down to even") << 22053 << -100.0 << 11026;
        QTest::newRow("half rounds up to even") << 22051 << -100.0 << 11026;
        QTest::newRow("fraction of a row") << 20000 << 2.5 << 20250;
    }
    void musicSpeedFollowsTheRow() {
        QFETCH(int, rate);
        QFETCH(double, row);
        QFETCH(int, frequency);
        const QString file = m_dir.filePath(QString("loop%1.wav").arg(rate));
        QVERIFY(SoundFiles::writeLoop(file, 441, 441, rate));
        SoundPlayer player;
        openPlayer(player);
        player.InitSoundBuffer(file, 0);
        player.takeBgmBaseFrequency();
        QCOMPARE(player.BgmBaseFrequency(), double(rate));
        player.SetBGMSpeed(row);
        QCOMPARE(player.slotFrequency(0), frequency);
        // The base stays the file's rate: speeds do not compound.
        player.SetBGMSpeed(row);
        QCOMPARE(player.slotFrequency(0), frequency);
    }

    void speedChangeRestartsStoppedMusic() {
        SoundPlayer player;
        openPlayer(player);
        player.InitSoundBuffer(m_music, 0);
        player.takeBgmBaseFrequency();
        player.playMusicLooping();
        player.stopMusic();
        QVERIFY(!player.isSlotPlaying(0));
        player.SetBGMSpeed(3);
        QVERIFY(player.isSlotPlaying(0));
        QCOMPARE(player.slotFrequency(0), 22381); // 22050 × 1.015 = 22380.75
    }

    void impossibleSpeedsAreIgnored() {
        SoundPlayer player;
        openPlayer(player);
        player.InitSoundBuffer(m_music, 0);
        player.takeBgmBaseFrequency();
        player.SetBGMSpeed(-1000); // factor −4
        player.SetBGMSpeed(std::numeric_limits<double>::quiet_NaN());
        player.SetBGMSpeed(1e9);
        QCOMPARE(player.slotFrequency(0), 22050);
        QVERIFY(!player.isSlotPlaying(0));
    }

    void goodByeReleasesEverything() {
        SoundPlayer player;
        openPlayer(player);
        player.InitSoundBuffer(m_music, 0);
        player.playMusicLooping();
        player.PlaySound(m_long, 1);
        player.GoodBye();
        QCOMPARE(player.slotCount(), 1);
        QVERIFY(!player.isSlotLoaded(0));
        QVERIFY(player.deviceDescriptions().isEmpty());
        QCOMPARE(player.selectedDevice(), -1);
        // Nothing comes back to life afterwards.
        player.PlaySound(m_long, 1);
        player.InitSoundBuffer(m_music, 0);
        QCOMPARE(player.playingEffects(), 0);
        QVERIFY(!player.isSlotLoaded(0));
    }
};

QTEST_GUILESS_MAIN(TestAudioNull)
#include "tst_audio_null.moc"
