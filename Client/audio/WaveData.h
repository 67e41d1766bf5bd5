#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace gemvolt::audio {

/**
 * The decoded samples of one wave file: 16-bit, one or two channels,
 * interleaved, at the file's own sample rate. Immutable once decoded, so one
 * copy can feed any number of playing effects.
 */
class WaveData {
public:
    /** Longest sound accepted, so a huge file cannot swallow the memory. */
    static constexpr int MaxSeconds = 600;
    /** Most samples (all channels together) accepted, for the same reason. */
    static constexpr std::int64_t MaxSamples = 32 * 1024 * 1024;

    /**
     * Decodes a RIFF wave file (plain or extensible header, any sample format
     * the decoder knows). Files with more than two channels are mixed down to
     * one; more than eight are refused. Returns nullptr for a missing or
     * unreadable file, a file that is no wave file, an empty one, or one longer
     * than MaxSeconds or MaxSamples.
     */
    static std::shared_ptr<const WaveData> decode(const QString& path);

    /** Makes a sound from samples already in memory (interleaved when stereo). */
    WaveData(int sampleRate, int channels, std::vector<std::int16_t> samples);

    int sampleRate() const { return m_sampleRate; }
    int channels() const { return m_channels; }
    /** Frames: one sample per channel. */
    std::int64_t frames() const { return static_cast<std::int64_t>(m_samples.size()) / m_channels; }
    const std::vector<std::int16_t>& samples() const { return m_samples; }
    /** The samples of one channel (0 left, 1 right), de-interleaved. */
    std::vector<std::int16_t> channel(int index) const;

private:
    int m_sampleRate;
    int m_channels;
    std::vector<std::int16_t> m_samples;
};

} // namespace gemvolt::audio
