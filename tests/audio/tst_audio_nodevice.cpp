// Decoding, the decoded-sound cache and the player on a machine without sound.
#include "Client/audio/SoundPlayer.h"
#include "Client/audio/WaveCache.h"
#include "Client/audio/WaveData.h"
#include "Client/audio/WaveStream.h"
#include "Client/audio/ZeroPages.h"
#include "support/SoundFiles.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sndfile.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifdef __linux__
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

using gemvolt::audio::SoundPlayer;
using gemvolt::audio::WaveCache;
using gemvolt::audio::WaveData;
using gemvolt::audio::WaveStream;
using gemvolt::audio::ZeroPages;
using gemvolt::testing::SoundFiles;

class TestAudioNoDevice : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private slots:
    void initTestCase() {
        // A machine without sound, whatever this one has; read before the first sound call.
        qputenv("ALSOFT_DRIVERS", "none");
    }

    void decodesEveryWaveKind_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("expectedChannels");
        QTest::newRow("16-bit mono") << int(SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 1 << 1;
        QTest::newRow("16-bit stereo") << int(SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 2 << 2;
        QTest::newRow("8-bit unsigned") << int(SF_FORMAT_WAV | SF_FORMAT_PCM_U8) << 1 << 1;
        QTest::newRow("float") << int(SF_FORMAT_WAV | SF_FORMAT_FLOAT) << 2 << 2;
        QTest::newRow("24-bit extensible") << int(SF_FORMAT_WAVEX | SF_FORMAT_PCM_24) << 1 << 1;
        QTest::newRow("four channels mixed down")
            << int(SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 4 << 1;
    }
    void decodesEveryWaveKind() {
        QFETCH(int, format);
        QFETCH(int, channels);
        QFETCH(int, expectedChannels);
        const QString file = path("kind.wav");
        QVERIFY(SoundFiles::writeTone(file, 1000, 0.1, 22050, channels, 0.5, format));
        const auto wave = WaveData::decode(file);
        QVERIFY(wave);
        QCOMPARE(wave->sampleRate(), 22050);
        QCOMPARE(wave->channels(), expectedChannels);
        QCOMPARE(wave->frames(), 2205);
        // The tone's crest survives the conversion to 16 bits: 0.5 of full scale.
        const auto [lo, hi] = std::minmax_element(wave->samples().begin(), wave->samples().end());
        QVERIFY(qAbs(*hi - 16384) < 300);
        QVERIFY(qAbs(*lo + 16384) < 300);
    }

    void splitsStereoIntoChannels() {
        SF_INFO info{};
        info.samplerate = 8000;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        const QString file = path("lr.wav");
        SNDFILE* f = sf_open(QFile::encodeName(file).constData(), SFM_WRITE, &info);
        QVERIFY(f);
        const short frames[] = {100, -7, 200, -8, 32767, -32768};
        sf_writef_short(f, frames, 3);
        sf_close(f);
        const auto wave = WaveData::decode(file);
        QVERIFY(wave);
        QCOMPARE(wave->channel(0), (std::vector<std::int16_t>{100, 200, 32767}));
        QCOMPARE(wave->channel(1), (std::vector<std::int16_t>{-7, -8, -32768}));
    }

    void rejectsWhatIsNoWaveFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("text") << "text.wav" << QByteArray("just some words\n");
        QTest::newRow("empty") << "empty.wav" << QByteArray();
        QTest::newRow("random bytes") << "noise.wav" << QByteArray(4096, '\x9b');
        QTest::newRow("riff without data chunk")
            << "nodata.wav"
            << QByteArray::fromHex(
                   "524946462400000057415645666d7420100000000100010044ac000088580100"
                   "02001000");
        QTest::newRow("header only, no frames")
            << "header.wav"
            << QByteArray::fromHex(
                   "524946462400000057415645666d7420100000000100010044ac000088580100"
                   "0200100064617461"
                   "00000000");
    }
    void rejectsWhatIsNoWaveFile() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString file = m_dir.filePath(name);
        QVERIFY(SoundFiles::writeBytes(file, bytes));
        QVERIFY(!WaveData::decode(file));
    }

    void rejectsMissingFilesFoldersAndOtherContainers() {
        QVERIFY(!WaveData::decode(path("missing.wav")));
        QVERIFY(!WaveData::decode(m_dir.path()));
        QVERIFY(!WaveData::decode(QString()));
        // An AIFF file named .wav is still no wave file.
        const QString aiff = path("aiff.wav");
        QVERIFY(SoundFiles::writeTone(aiff, 440, 0.05, 22050, 1, 0.5,
                                      SF_FORMAT_AIFF | SF_FORMAT_PCM_16));
        QVERIFY(!WaveData::decode(aiff));
        // The content decides, not the name.
        const QString renamed = path("tone.txt");
        QVERIFY(SoundFiles::writeTone(renamed, 440, 0.05));
        QVERIFY(WaveData::decode(renamed));
    }

    void cacheDecodesOnceUntilTheFileChanges() {
        namespace fs = std::filesystem;
        WaveCache cache;
        const QString file = path("cached.wav");
        QVERIFY(SoundFiles::writeTone(file, 440, 0.05));
        const auto first = cache.fetch(file);
        QVERIFY(first);
        QCOMPARE(cache.fetch(file), first);
        QCOMPARE(cache.fetch(file), first);
        QCOMPARE(cache.decodeCount(), 1);

        // Edited on disk: read again at the next use.
        QVERIFY(SoundFiles::writeTone(file, 440, 0.08));
        const fs::path p(QFile::encodeName(file).toStdString());
        fs::last_write_time(p, fs::last_write_time(p) + std::chrono::seconds(2));
        const auto second = cache.fetch(file);
        QVERIFY(second);
        QVERIFY(second != first);
        QCOMPARE(second->frames(), 3528);
        QCOMPARE(cache.decodeCount(), 2);

        // Deleted: forgotten, and silent.
        QVERIFY(QFile::remove(file));
        QVERIFY(!cache.fetch(file));
        QCOMPARE(cache.size(), std::size_t(0));
    }

    void cacheKeepsOnlyItsCapacity() {
        WaveCache cache(2);
        QVERIFY(SoundFiles::writeTone(path("a.wav"), 440, 0.02));
        QVERIFY(SoundFiles::writeTone(path("b.wav"), 440, 0.02));
        QVERIFY(SoundFiles::writeTone(path("c.wav"), 440, 0.02));
        cache.fetch(path("a.wav"));
        cache.fetch(path("b.wav"));
        cache.fetch(path("a.wav"));
        cache.fetch(path("c.wav")); // pushes out b, the least recently used
        QCOMPARE(cache.size(), std::size_t(2));
        const int decodes = cache.decodeCount();
        cache.fetch(path("a.wav"));
        QCOMPARE(cache.decodeCount(), decodes);
        cache.fetch(path("b.wav"));
        QCOMPARE(cache.decodeCount(), decodes + 1);

        // A long sound (the music) is decoded whole at every fetch, never held.
        const QString music = path("music.wav");
        QVERIFY(SoundFiles::writeTone(music, 440, 12.0));
        const auto decoded = cache.fetch(music);
        QVERIFY(decoded);
        QCOMPARE(decoded->frames(), 12 * 44100);
        QCOMPARE(cache.fetch(music)->frames(), 12 * 44100);
        QCOMPARE(cache.decodeCount(), decodes + 3);
        QCOMPARE(cache.size(), std::size_t(2));
    }

    void aStreamReadsWhatDecodingGives() {
        const QString file = path("stream.wav");
        QVERIFY(SoundFiles::writeTone(file, 440, 0.3, 22050, 4));
        const auto whole = WaveData::decode(file);
        QVERIFY(whole);
        auto stream = WaveStream::open(file);
        QVERIFY(stream);
        QCOMPARE(stream->channels(), 1);
        QCOMPARE(stream->sampleRate(), 22050);
        // Uneven pieces, then past the end, then again from the start.
        std::vector<std::int16_t> read;
        while (stream->read(1000, read) > 0) {
        }
        QCOMPARE(read, whole->samples());
        QCOMPARE(stream->read(10, read), std::int64_t(0));
        QVERIFY(stream->rewind());
        std::vector<std::int16_t> again;
        QCOMPARE(stream->read(5, again), std::int64_t(5));
        QVERIFY(std::equal(again.begin(), again.end(), whole->samples().begin()));
        QVERIFY(!WaveStream::open(path("missing.wav")));
    }

#ifdef __linux__
    void zeroPagesOfANewBlockGoBackAndNothingElseChanges() {
        if (!ZeroPages::supported()) {
            QSKIP("this build cannot tell heap blocks apart");
        }
        const long page = sysconf(_SC_PAGESIZE);
        // Large blocks get mappings of their own, as in a fresh program.
        mallopt(M_MMAP_THRESHOLD, 128 * 1024);
        const std::size_t bytes = ZeroPages::MinBlockBytes + 1024 * 1024;
        auto* old = static_cast<unsigned char*>(std::calloc(bytes, 1));
        QVERIFY(old);
        std::memset(old, 0, bytes);
        const auto before = ZeroPages::snapshot();
        auto* block = static_cast<unsigned char*>(std::calloc(bytes, 1));
        QVERIFY(block);
        std::memset(block, 0, bytes); // cleared by hand: every page resident
        block[100] = 1;
        block[3 * page + 7] = 2;
        block[bytes - 1] = 3;

        const std::size_t released = ZeroPages::releaseNewBlocks(before);
        QVERIFY2(released >= bytes - 4 * std::size_t(page), qPrintable(QString::number(released)));
        auto resident = [&](unsigned char* p) {
            const auto start = reinterpret_cast<std::uintptr_t>(p) & ~std::uintptr_t(page - 1);
            unsigned char in = 0;
            return mincore(reinterpret_cast<void*>(start), std::size_t(page), &in) == 0 &&
                   (in & 1) != 0;
        };
        QVERIFY(!resident(block + bytes / 2));
        QVERIFY(resident(block + 3 * page));
        QVERIFY(resident(old + bytes / 2)); // there before: left alone
        // Every byte reads as before.
        std::size_t nonZero = 0;
        for (std::size_t i = 0; i < bytes; ++i) {
            nonZero += block[i] != 0 ? 1 : 0;
        }
        QCOMPARE(nonZero, std::size_t(3));
        QCOMPARE(int(block[100]), 1);
        QCOMPARE(int(block[3 * page + 7]), 2);
        QCOMPARE(int(block[bytes - 1]), 3);
        std::free(block);
        std::free(old);
    }
#endif

    void everyOperationIsSilentWithoutADevice() {
        const QString tone = path("dink.wav");
        QVERIFY(SoundFiles::writeTone(tone, 880, 0.05));
        SoundPlayer player;
        QVERIFY(player.enumerateDevices().isEmpty());
        QCOMPARE(player.selectedDevice(), -1);
        player.selectDevice(0); // nothing to select
        QCOMPARE(player.selectedDevice(), -1);

        player.InitSoundBuffer(tone, 0);
        QVERIFY(!player.isSlotLoaded(0));
        player.takeBgmBaseFrequency();
        QCOMPARE(player.BgmBaseFrequency(), 0.0);
        player.playMusicLooping();
        player.SetBGMSpeed(14);
        player.stopMusic();
        for (int column = -1; column <= 6; ++column) {
            player.PlaySound(tone, column);
        }
        QCOMPARE(player.playingEffects(), 0);
        QCOMPARE(player.slotFrequency(0), 0);
        player.CleanUpSndBuffer();
        QCOMPARE(player.slotCount(), 1);
        QCOMPARE(player.devicesOpened(), 0);
        player.GoodBye();
        player.GoodBye();
        QCOMPARE(player.slotCount(), 1);
    }

    void slotIndicesOutsideTheTableAreIgnored() {
        SoundPlayer player;
        player.InitSoundBuffer(path("x.wav"), -1);
        player.InitSoundBuffer(path("x.wav"), 33);
        player.InitSoundBuffer(path("x.wav"), 30000);
        QCOMPARE(player.slotCount(), 1);
        QVERIFY(!player.isSlotPlaying(-5));
        QVERIFY(!player.isSlotLoaded(1000));
    }
};

QTEST_GUILESS_MAIN(TestAudioNoDevice)
#include "tst_audio_nodevice.moc"
