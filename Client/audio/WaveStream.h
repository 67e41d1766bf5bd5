#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

struct sf_private_tag;

namespace gemvolt::audio {

/**
 * An open wave file read a block at a time: 16-bit samples, one or two
 * channels, interleaved, at the file's own sample rate. Files with more than
 * two channels are mixed down to one. The same samples as WaveData::decode
 * gives for the file, so a long sound can play from the file without ever
 * being held whole in memory.
 */
class WaveStream {
public:
    /**
     * Opens a RIFF wave file (plain or extensible header). Returns nullptr for
     * a missing or unreadable file, a file that is no wave file, an empty one,
     * or one longer than WaveData::MaxSeconds or WaveData::MaxSamples.
     */
    static std::unique_ptr<WaveStream> open(const QString& path);

    ~WaveStream();
    WaveStream(const WaveStream&) = delete;
    WaveStream& operator=(const WaveStream&) = delete;

    int sampleRate() const { return m_sampleRate; }
    /** Channels delivered: 1 or 2. */
    int channels() const { return m_channels; }
    /** Frames the file says it holds (a truncated file delivers fewer). */
    std::int64_t frames() const { return m_frames; }

    /**
     * Reads up to `frames` frames from where the stream stands and appends
     * their samples to `out`. Returns the frames read: 0 at the end of the
     * file or where it cannot be read further.
     */
    std::int64_t read(std::int64_t frames, std::vector<std::int16_t>& out);

    /** Goes back to the first frame; false when the file cannot seek. */
    bool rewind();

private:
    WaveStream() = default;

    sf_private_tag* m_file = nullptr;
    bool m_plain16 = false;
    int m_fileChannels = 0;
    int m_channels = 0;
    int m_sampleRate = 0;
    std::int64_t m_frames = 0;
    std::vector<float> m_block;
};

} // namespace gemvolt::audio
