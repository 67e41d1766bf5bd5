#include "Client/audio/WaveData.h"

#include "Client/audio/WaveStream.h"

namespace gemvolt::audio {

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
    auto stream = WaveStream::open(path);
    if (!stream) {
        return nullptr;
    }
    std::vector<std::int16_t> samples;
    samples.reserve(static_cast<std::size_t>(stream->frames()) *
                    static_cast<std::size_t>(stream->channels()));
    stream->read(stream->frames(), samples);
    if (samples.empty()) {
        return nullptr;
    }
    return std::make_shared<const WaveData>(stream->sampleRate(), stream->channels(),
                                            std::move(samples));
}

} // namespace gemvolt::audio
