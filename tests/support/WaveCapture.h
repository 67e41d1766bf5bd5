#pragma once

#include <QString>

#include <cstddef>
#include <vector>

namespace gemvolt::testing {

/**
 * OpenAL Soft's wave-file output, used as a sound card the tests can listen
 * to. OpenAL reads its settings once per process, so a test program calls
 * setUp() before its first sound call and keeps that setup to its end.
 */
class WaveCapture {
public:
    /** Writes the settings into `folder` and points OpenAL at them. */
    static bool setUp(const QString& folder);
    /** The captured output file (complete once the device is closed). */
    static QString file();
    /** Bytes of captured sound for the given seconds (16-bit stereo at 44.1 kHz). */
    static qint64 bytesFor(double seconds);

    /** Reads the captured stereo file; false when it cannot be read. */
    bool load();

    int rate() const { return m_rate; }
    const std::vector<float>& left() const { return m_left; }
    const std::vector<float>& right() const { return m_right; }

    /** The first and one past the last sample louder than `threshold` on either side. */
    bool loudStretch(std::size_t& begin, std::size_t& end, float threshold = 0.01f) const;
    /** The loud stretch without its first and last 10 ms, where a sound starts and stops;
        false when nothing is left of it. */
    bool steadyStretch(std::size_t& begin, std::size_t& end) const;
    /** Level in dB full scale over [begin, end) of one channel. */
    static double rmsDb(const std::vector<float>& samples, std::size_t begin, std::size_t end);
    /** Frequency of a steady tone over [begin, end), from its rising zero crossings. */
    static double toneHz(const std::vector<float>& samples, std::size_t begin, std::size_t end,
                         int rate);

private:
    int m_rate = 0;
    std::vector<float> m_left;
    std::vector<float> m_right;
};

} // namespace gemvolt::testing
