#include "SoundFiles.h"

#include <QFile>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace gemvolt::testing {

namespace {

bool writeFrames(const QString& path, const std::vector<double>& frames, int rate, int channels,
                 int format) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format != 0 ? format : (SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (f == nullptr) {
        return false;
    }
    const sf_count_t count = static_cast<sf_count_t>(frames.size()) / channels;
    const bool ok = sf_writef_double(f, frames.data(), count) == count;
    sf_close(f);
    return ok;
}

} // namespace

bool SoundFiles::writeTone(const QString& path, double hz, double seconds, int rate, int channels,
                           double amplitude, int format) {
    const int n = static_cast<int>(seconds * rate);
    const int fade = std::max(1, rate / 200);
    std::vector<double> frames;
    frames.reserve(static_cast<std::size_t>(n * channels));
    for (int i = 0; i < n; ++i) {
        const double edge = std::min({1.0, double(i) / fade, double(n - 1 - i) / fade});
        const double v = amplitude * edge * std::sin(2 * std::numbers::pi * hz * i / rate);
        for (int c = 0; c < channels; ++c) {
            frames.push_back(v);
        }
    }
    return writeFrames(path, frames, rate, channels, format);
}

bool SoundFiles::writeLoop(const QString& path, int hz, int cycles, int rate, double amplitude) {
    const long n = std::lround(double(cycles) * rate / hz);
    std::vector<double> frames(static_cast<std::size_t>(n));
    for (long i = 0; i < n; ++i) {
        frames[static_cast<std::size_t>(i)] =
            amplitude * std::sin(2 * std::numbers::pi * hz * double(i) / rate);
    }
    return writeFrames(path, frames, rate, 1, 0);
}

bool SoundFiles::writeSides(const QString& path, int rate, int frames, double leftHz,
                            double leftAmplitude, double rightHz, double rightAmplitude) {
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        samples.push_back(leftAmplitude * std::sin(2 * std::numbers::pi * leftHz * i / rate));
        samples.push_back(rightAmplitude * std::sin(2 * std::numbers::pi * rightHz * i / rate));
    }
    return writeFrames(path, samples, rate, 2, 0);
}

bool SoundFiles::writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace gemvolt::testing
