#include "Client/audio/WaveData.h"

#include <QFile>

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace gemvolt::audio {

namespace {

// Owns an open libsndfile handle for the length of one decode.
struct SndFileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};

} // namespace

WaveData::WaveData(int sampleRate, int channels, std::vector<std::int16_t> samples)
    : m_sampleRate(sampleRate), m_channels(channels), m_samples(std::move(samples)) {}

std::vector<std::int16_t> WaveData::channel(int index) const {
    std::vector<std::int16_t> out;
    if (index < 0 || index >= m_channels) {
        return out;
    }
    out.reserve(static_cast<std::size_t>(frames()));
    for (std::size_t i = static_cast<std::size_t>(index); i < m_samples.size();
         i += static_cast<std::size_t>(m_channels)) {
        out.push_back(m_samples[i]);
    }
    return out;
}

std::shared_ptr<const WaveData> WaveData::decode(const QString& path) {
    if (path.isEmpty()) {
        return nullptr;
    }
    SF_INFO info{};
    const QByteArray name = QFile::encodeName(path);
    std::unique_ptr<SNDFILE, SndFileCloser> file(sf_open(name.constData(), SFM_READ, &info));
    if (!file) {
        return nullptr;
    }
    // The content decides, not the name: only RIFF wave containers count as sound files.
    const int container = info.format & SF_FORMAT_TYPEMASK;
    if (container != SF_FORMAT_WAV && container != SF_FORMAT_WAVEX) {
        return nullptr;
    }
    if (info.frames <= 0 || info.channels <= 0 || info.channels > 8 || info.samplerate < 1000 ||
        info.samplerate > 384000) {
        return nullptr;
    }
    if (info.frames > static_cast<sf_count_t>(MaxSeconds) * info.samplerate ||
        info.frames * info.channels > MaxSamples) {
        return nullptr;
    }
    // Read as normalised floats, which every sample format converts to the same
    // way (integer formats exactly), then turn them into 16 bits. A block at a
    // time: the music as floats would take twice its final size at once.
    constexpr sf_count_t BlockFrames = 4096;
    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> block(static_cast<std::size_t>(BlockFrames) * channels);
    std::vector<std::int16_t> raw;
    raw.reserve(static_cast<std::size_t>(info.frames) * channels);
    for (sf_count_t left = info.frames; left > 0;) {
        const sf_count_t got =
            sf_readf_float(file.get(), block.data(), std::min(left, BlockFrames));
        if (got <= 0) {
            break; // a truncated file still plays what it holds
        }
        left -= got;
        for (std::size_t i = 0; i < static_cast<std::size_t>(got) * channels; ++i) {
            // Broken float files may hold NaN or infinity: those samples become silence.
            const float v = std::isfinite(block[i]) ? block[i] : 0.0f;
            const float scaled = std::nearbyint(v * 32768.0f);
            raw.push_back(static_cast<std::int16_t>(std::clamp(scaled, -32768.0f, 32767.0f)));
        }
    }
    if (raw.empty()) {
        return nullptr;
    }
    const std::size_t got = raw.size() / channels;

    if (info.channels <= 2) {
        return std::make_shared<const WaveData>(info.samplerate, info.channels, std::move(raw));
    }
    // More than two channels: mix down to one, which then pans like any mono effect.
    std::vector<std::int16_t> mono(got);
    for (std::size_t f = 0; f < mono.size(); ++f) {
        long sum = 0;
        for (int c = 0; c < info.channels; ++c) {
            sum += raw[f * static_cast<std::size_t>(info.channels) + static_cast<std::size_t>(c)];
        }
        mono[f] = static_cast<std::int16_t>(sum / info.channels);
    }
    return std::make_shared<const WaveData>(info.samplerate, 1, std::move(mono));
}

} // namespace gemvolt::audio
