// What the player actually sends to the speakers, captured through OpenAL
// Soft's wave-file output: the pan of each column and the music's speed.
#include "Client/audio/AudioDevice.h"
#include "Client/audio/SoundPlayer.h"
#include "Client/audio/Voice.h"
#include "Client/audio/WaveStream.h"
#include "support/SoundFiles.h"
#include "support/WaveCapture.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using gemvolt::audio::AudioDevice;
using gemvolt::audio::SoundPlayer;
using gemvolt::audio::Voice;
using gemvolt::audio::WaveData;
using gemvolt::audio::WaveStream;
using gemvolt::testing::SoundFiles;
using gemvolt::testing::WaveCapture;

namespace {

// A 0.5 sine is -9.03 dB full scale.
constexpr double ToneDb = -9.03;

struct Stretch {
    std::size_t begin;
    std::size_t end;
};

// The loud stretches of a capture, apart where at least `gap` samples are quiet.
std::vector<Stretch> stretches(const WaveCapture& c, std::size_t gap) {
    std::vector<Stretch> out;
    const auto& l = c.left();
    const auto& r = c.right();
    std::size_t quiet = gap;
    for (std::size_t i = 0; i < l.size(); ++i) {
        if (std::fabs(l[i]) > 0.003f || std::fabs(r[i]) > 0.003f) {
            if (quiet >= gap) {
                out.push_back({i, i + 1});
            }
            out.back().end = i + 1;
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return out;
}

} // namespace

class TestAudioCapture : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(WaveCapture::setUp(m_dir.path()));
        const QString tone = m_dir.filePath("probe.wav");
        QVERIFY(SoundFiles::writeTone(tone, 1000, 0.01));
        SoundPlayer probe;
        probe.enumerateDevices();
        probe.selectDevice(0);
        probe.InitSoundBuffer(tone, 0);
        if (!probe.isSlotLoaded(0)) {
            QSKIP("OpenAL's wave-file output cannot be opened here; nothing to listen to");
        }
    }

    void effectsArePannedByColumn() {
        const QString tone = m_dir.filePath("tone.wav");
        QVERIFY(SoundFiles::writeTone(tone, 1000, 0.08));
        SoundPlayer player;
        player.enumerateDevices();
        player.selectDevice(0);
        // Columns 0..5, then a centred one, each after the previous has ended.
        const int positions[] = {0, 1, 2, 3, 4, 5, -1};
        for (int position : positions) {
            player.PlaySound(tone, position);
            if (player.playingEffects() == 0) {
                QSKIP("the wave-file output device did not open");
            }
            QTRY_COMPARE_WITH_TIMEOUT(player.playingEffects(), 0, 2000);
        }
        QCOMPARE(player.devicesOpened(), 1);
        player.GoodBye(); // closes the device, which completes the capture file

        WaveCapture capture;
        QVERIFY(capture.load());
        QCOMPARE(capture.rate(), 44100);
        const auto found = stretches(capture, 200);
        QCOMPARE(found.size(), std::size(positions));
        const double expected[] = {10, 6, 2, -2, -6, -10, 0};
        for (std::size_t i = 0; i < found.size(); ++i) {
            // Leave out the fades at both ends.
            const std::size_t b = found[i].begin + 441;
            const std::size_t e = found[i].end - 441;
            QVERIFY(e > b + 2000);
            const double l = WaveCapture::rmsDb(capture.left(), b, e);
            const double r = WaveCapture::rmsDb(capture.right(), b, e);
            qInfo("position %d: left %.2f dB, right %.2f dB, left - right %.2f dB", positions[i], l,
                  r, l - r);
            QVERIFY2(qAbs((l - r) - expected[i]) < 0.3, qPrintable(QString::number(l - r)));
            // The louder side keeps the sound's own level.
            QVERIFY2(qAbs(std::max(l, r) - ToneDb) < 0.3, qPrintable(QString::number(l)));
        }
    }

    void stereoFilesKeepTheirSidesAndPan() {
        // Left channel a tone, right channel a quieter tone: pan 1000 lowers the left by 10 dB.
        const QString file = m_dir.filePath("stereo.wav");
        QVERIFY(SoundFiles::writeSides(file, 44100, 4410, 1000, 0.5, 1000, 0.25));
        SoundPlayer player;
        player.enumerateDevices();
        player.selectDevice(0);
        player.PlaySound(file, 5);
        QTRY_COMPARE_WITH_TIMEOUT(player.playingEffects(), 0, 2000);
        player.GoodBye();

        WaveCapture capture;
        QVERIFY(capture.load());
        std::size_t b = 0;
        std::size_t e = 0;
        QVERIFY(capture.steadyStretch(b, e));
        const double l = WaveCapture::rmsDb(capture.left(), b, e);
        const double r = WaveCapture::rmsDb(capture.right(), b, e);
        QVERIFY2(qAbs(l - (ToneDb - 10)) < 0.3, qPrintable(QString::number(l)));
        QVERIFY2(qAbs(r - (ToneDb - 6.02)) < 0.3, qPrintable(QString::number(r)));
    }

    void musicAtTheTopRowPlaysSevenPercentFaster_data() {
        QTest::addColumn<double>("row");
        QTest::addColumn<double>("factor");
        QTest::addColumn<int>("cycles");
        QTest::newRow("bottom row") << 0.0 << 1.0 << 440;
        QTest::newRow("row 7") << 7.0 << 1.035 << 440;
        QTest::newRow("top row") << 14.0 << 1.07 << 440;
        // 12 s: long enough to play streamed from its file.
        QTest::newRow("top row, streamed") << 14.0 << 1.07 << 5280;
    }
    void musicAtTheTopRowPlaysSevenPercentFaster() {
        QFETCH(double, row);
        QFETCH(double, factor);
        QFETCH(int, cycles);
        const QString music = m_dir.filePath("music.wav");
        QVERIFY(SoundFiles::writeLoop(music, 440, cycles));
        SoundPlayer player;
        player.enumerateDevices();
        player.selectDevice(0);
        player.InitSoundBuffer(music, 0);
        player.takeBgmBaseFrequency();
        player.SetBGMSpeed(row);
        QVERIFY(player.isSlotPlaying(0));
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo(WaveCapture::file()).size() >= WaveCapture::bytesFor(0.35), 3000);
        player.GoodBye();

        WaveCapture capture;
        QVERIFY(capture.load());
        std::size_t b = 0;
        std::size_t e = 0;
        QVERIFY(capture.steadyStretch(b, e));
        QVERIFY(e > b + 7938); // over 0.18 s of steady tone
        const double hz = WaveCapture::toneHz(capture.left(), b, e, capture.rate());
        qInfo("row %.0f: %.2f Hz, factor %.4f", row, hz, hz / 440);
        QVERIFY2(qAbs(hz / 440 - factor) < 0.002, qPrintable(QString::number(hz)));
    }

    void streamedSoundsSoundAsLoadedOnes() {
        // Stereo at 22050 Hz, a different tone on each side, read in 40 ms blocks.
        const QString file = m_dir.filePath("sides.wav");
        QVERIFY(SoundFiles::writeSides(file, 22050, 11025, 440, 0.5, 660, 0.25));
        auto device = AudioDevice::open(AudioDevice::enumerate().value(0).toUtf8());
        QVERIFY(device);
        const auto wave = WaveData::decode(file);
        QVERIFY(wave);
        auto loaded = Voice::create(device, *wave);
        QVERIFY(loaded);
        loaded->play(false);
        QTRY_VERIFY_WITH_TIMEOUT(loaded->isFinished(), 3000);
        auto streamed = Voice::createStreamed(device, WaveStream::open(file), 40);
        QVERIFY(streamed);
        streamed->play(false);
        QVERIFY(streamed->isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(streamed->isFinished(), 3000);
        // A looping stream goes on over the end of its file without a gap, while
        // it is told to play again and again, as the music's speed changes do.
        streamed->play(true);
        QTimer again;
        QObject::connect(&again, &QTimer::timeout, [&] { streamed->play(true); });
        again.start(5);
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo(WaveCapture::file()).size() >= WaveCapture::bytesFor(2.4), 5000);
        again.stop();
        QVERIFY(streamed->isPlaying());
        loaded.reset();
        streamed.reset();
        device.reset(); // completes the capture

        WaveCapture capture;
        QVERIFY(capture.load());
        const auto found = stretches(capture, 200);
        QCOMPARE(found.size(), std::size_t(3));
        // Sample for sample the same, block edges included.
        const std::size_t length = found[0].end - found[0].begin;
        QVERIFY(length > 20000);
        QCOMPARE(found[1].end - found[1].begin, length);
        float worst = 0;
        for (std::size_t i = 0; i < length; ++i) {
            worst = std::max(worst, std::fabs(capture.left()[found[0].begin + i] -
                                              capture.left()[found[1].begin + i]));
            worst = std::max(worst, std::fabs(capture.right()[found[0].begin + i] -
                                              capture.right()[found[1].begin + i]));
        }
        QVERIFY2(worst < 1e-3f, qPrintable(QString::number(worst)));
        // The loop: more than two rounds of the file, every 10 ms of it as loud as the first.
        QVERIFY(found[2].end - found[2].begin > 2 * length);
        const std::size_t start = found[2].begin + 441;
        const double level = WaveCapture::rmsDb(capture.left(), start, start + 441);
        for (std::size_t b = start; b + 441 < found[2].end - 441; b += 441) {
            const double l = WaveCapture::rmsDb(capture.left(), b, b + 441);
            QVERIFY2(qAbs(l - level) < 0.5, qPrintable(QString("%1 at %2").arg(l).arg(b)));
        }
    }
};

QTEST_GUILESS_MAIN(TestAudioCapture)
#include "tst_audio_capture.moc"
