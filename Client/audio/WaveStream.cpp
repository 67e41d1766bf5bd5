#include "Client/audio/WaveStream.h"

#include "Client/audio/WaveData.h"

#include <QFile>

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace gemvolt::audio {

namespace {

// Frames converted at a time: the float block stays small whatever the file.
constexpr sf_count_t BlockFrames = 4096;

// Read as normalised floats, which every sample format converts to the same
// way (integer formats exactly), then turned into 16 bits.
std::int16_t toSample(float value) {
    // Broken float files may hold NaN or infinity: those samples become silence.
    const float v = std::isfinite(value) ? value : 0.0f;
    const float scaled = std::nearbyint(v * 32768.0f);
    return static_cast<std::int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

} // namespace

std::unique_ptr<WaveStream> WaveStream::open(const QString& path) {
    if (path.isEmpty()) {
        return nullptr;
    }
    SF_INFO info{};
    const QByteArray name = QFile::encodeName(path);
    std::unique_ptr<WaveStream> stream(new WaveStream);
    stream->m_file = sf_open(name.constData(), SFM_READ, &info);
    if (stream->m_file == nullptr) {
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
    if (info.frames > static_cast<sf_count_t>(WaveData::MaxSeconds) * info.samplerate ||
        info.frames * info.channels > WaveData::MaxSamples) {
        return nullptr;
    }
    // 16-bit samples are read as they are: the same values the float path
    // gives for them, at a fraction of the work (the music is read this way
    // while it plays).
    stream->m_plain16 = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 && info.channels <= 2;
    stream->m_fileChannels = info.channels;
    stream->m_channels = info.channels <= 2 ? info.channels : 1;
    stream->m_sampleRate = info.samplerate;
    stream->m_frames = info.frames;
    stream->m_block.resize(static_cast<std::size_t>(BlockFrames) *
                           static_cast<std::size_t>(info.channels));
    return stream;
}

WaveStream::~WaveStream() {
    if (m_file != nullptr) {
        sf_close(m_file);
    }
}

std::int64_t WaveStream::read(std::int64_t frames, std::vector<std::int16_t>& out) {
    const auto fileChannels = static_cast<std::size_t>(m_fileChannels);
    std::int64_t total = 0;
    if (m_plain16) {
        while (total < frames) {
            const std::size_t at = out.size();
            // One read for the lot: streaming asks for seconds at a time.
            const sf_count_t want = frames - total;
            out.resize(at + static_cast<std::size_t>(want) * fileChannels);
            const sf_count_t got = sf_readf_short(m_file, out.data() + at, want);
            out.resize(at + static_cast<std::size_t>(std::max<sf_count_t>(got, 0)) * fileChannels);
            if (got <= 0) {
                break;
            }
            total += got;
        }
        return total;
    }
    while (total < frames) {
        const sf_count_t got = sf_readf_float(m_file, m_block.data(),
                                              std::min<sf_count_t>(frames - total, BlockFrames));
        if (got <= 0) {
            break; // a truncated file still plays what it holds
        }
        total += got;
        const auto samples = static_cast<std::size_t>(got) * fileChannels;
        if (m_fileChannels <= 2) {
            for (std::size_t i = 0; i < samples; ++i) {
                out.push_back(toSample(m_block[i]));
            }
            continue;
        }
        // More than two channels: mix down to one, which then pans like any mono effect.
        for (std::size_t f = 0; f < samples; f += fileChannels) {
            long sum = 0;
            for (std::size_t c = 0; c < fileChannels; ++c) {
                sum += toSample(m_block[f + c]);
            }
            out.push_back(static_cast<std::int16_t>(sum / m_fileChannels));
        }
    }
    return total;
}

bool WaveStream::rewind() {
    return sf_seek(m_file, 0, SEEK_SET) == 0;
}

} // namespace gemvolt::audio
