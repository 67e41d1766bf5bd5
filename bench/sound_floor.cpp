// What the music costs the idle client, and how much of that any running sound
// output costs on this machine. Three stretches of the same length, each the
// process's CPU time as a share of one core and its voluntary context switches
// (wakes) a second:
// - a thread that only sleeps half a mixing period at a time, as the sound
//   library's output thread does between two mixes: what waking that often
//   costs here, whatever the wake does;
// - the output opened as the client opens it, nothing playing;
// - the client's music looping through the client's sound player.
//   sound_floor [seconds]      (default 10, each stretch)
// Run from the build's bin/, where the mixer settings and the music lie; with
// ALSOFT_DRIVERS=null it measures the output the peer harness measures.
#include "Client/audio/AudioDevice.h"
#include "Client/audio/SoundPlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace gemvolt;

namespace {

struct Usage {
    double cpuMs = 0;
    long wakes = 0;
};

Usage usageNow() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return {(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
                (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0,
            u.ru_nvcsw};
}

void report(const char* what, const Usage& before, int seconds) {
    const Usage after = usageNow();
    std::printf("%-38s %8.3f %%   %6.1f\n", what, (after.cpuMs - before.cpuMs) / seconds / 10.0,
                static_cast<double>(after.wakes - before.wakes) / seconds);
}

// Runs the event loop (the music's refills come from it) for the stretch.
void idle(int seconds) {
    QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::clamp(std::atoi(argv[1]), 2, 120) : 10;

    auto device = audio::AudioDevice::open(QByteArray());
    if (!device || !device->makeCurrent()) {
        std::fprintf(stderr, "sound_floor: no sound output could be opened\n");
        return 1;
    }
    ALCdevice* alc = alcGetContextsDevice(alcGetCurrentContext());
    ALCint rate = 0;
    ALCint mixesPerSecond = 0;
    alcGetIntegerv(alc, ALC_FREQUENCY, 1, &rate);
    alcGetIntegerv(alc, ALC_REFRESH, 1, &mixesPerSecond);
    if (rate <= 0 || mixesPerSecond <= 0) {
        std::fprintf(stderr, "sound_floor: the output reports no mixing period\n");
        return 1;
    }
    // The library rounds its mixes a second down, so the bare thread wakes a
    // little less often than the output does, if anything.
    const auto halfPeriod = std::chrono::nanoseconds(500'000'000 / mixesPerSecond);
    std::printf("output: %d Hz, %d mixes a second, %.1f ms between its thread's wakes\n", rate,
                mixesPerSecond, halfPeriod.count() / 1e6);
    std::printf("%-38s %10s   %6s\n", "", "CPU", "wakes/s");

    // The output rests while the bare thread sleeps at its pace.
    device->pause();
    if (!device->isPaused())
        std::fprintf(stderr, "sound_floor: the output cannot rest; the first line includes it\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Usage before = usageNow();
    std::thread sleeper([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(halfPeriod);
    });
    sleeper.join();
    report("a thread sleeping at the output's pace", before, seconds);

    device->resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    before = usageNow();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    report("the output running, nothing playing", before, seconds);
    device.reset();

    audio::SoundPlayer player;
    if (player.enumerateDevices().isEmpty()) {
        std::fprintf(stderr, "sound_floor: the sound player finds no output\n");
        return 1;
    }
    player.selectDevice(0);
    const QString music = QDir(QCoreApplication::applicationDirPath()).filePath("BGM_2.wav");
    player.InitSoundBuffer(music, 0);
    player.playMusicLooping();
    if (!player.isSlotPlaying(0)) {
        std::fprintf(stderr, "sound_floor: the music %s does not play\n", qPrintable(music));
        return 1;
    }
    idle(1);
    before = usageNow();
    idle(seconds);
    report("the client's music looping", before, seconds);
    return 0;
}
