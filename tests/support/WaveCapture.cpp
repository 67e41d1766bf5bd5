#include "WaveCapture.h"

#include <QDir>
#include <QFile>

#include <sndfile.h>

#include <cmath>

namespace gemvolt::testing {

namespace {
QString g_file;
}

bool WaveCapture::setUp(const QString& folder) {
    g_file = QDir(folder).filePath(QStringLiteral("capture.wav"));
    const QString conf = QDir(folder).filePath(QStringLiteral("alsoft.conf"));
    QFile f(conf);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text)) {
        return false;
    }
    const QByteArray text = "[general]\n"
                            "drivers = wave\n"
                            "channels = stereo\n"
                            "sample-type = int16\n"
                            "frequency = 44100\n"
                            "output-limiter = false\n"
                            "hrtf = false\n"
                            "[wave]\n"
                            "file = " +
                            QFile::encodeName(g_file) + "\n";
    f.write(text);
    f.close();
    // The test environment chooses "no sound" by default; the variable beats the file.
    qputenv("ALSOFT_DRIVERS", "wave");
    qputenv("ALSOFT_CONF", QFile::encodeName(conf));
    return true;
}

QString WaveCapture::file() {
    return g_file;
}

qint64 WaveCapture::bytesFor(double seconds) {
    return 44 + qint64(seconds * 44100) * 4;
}

bool WaveCapture::load() {
    SF_INFO info{};
    SNDFILE* f = sf_open(QFile::encodeName(g_file).constData(), SFM_READ, &info);
    if (f == nullptr) {
        return false;
    }
    std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t got = sf_readf_float(f, frames.data(), info.frames);
    sf_close(f);
    if (info.channels != 2 || got <= 0) {
        return false;
    }
    m_rate = info.samplerate;
    m_left.clear();
    m_right.clear();
    for (sf_count_t i = 0; i < got; ++i) {
        m_left.push_back(frames[static_cast<std::size_t>(2 * i)]);
        m_right.push_back(frames[static_cast<std::size_t>(2 * i + 1)]);
    }
    return true;
}

bool WaveCapture::loudStretch(std::size_t& begin, std::size_t& end, float threshold) const {
    bool found = false;
    for (std::size_t i = 0; i < m_left.size(); ++i) {
        if (std::fabs(m_left[i]) > threshold || std::fabs(m_right[i]) > threshold) {
            if (!found) {
                begin = i;
                found = true;
            }
            end = i + 1;
        }
    }
    return found;
}

bool WaveCapture::steadyStretch(std::size_t& begin, std::size_t& end) const {
    const std::size_t edge = std::size_t(m_rate / 100);
    if (!loudStretch(begin, end) || end - begin <= 2 * edge) {
        return false;
    }
    begin += edge;
    end -= edge;
    return true;
}

double WaveCapture::rmsDb(const std::vector<float>& samples, std::size_t begin, std::size_t end) {
    double sum = 0;
    for (std::size_t i = begin; i < end; ++i) {
        sum += double(samples[i]) * samples[i];
    }
    const double rms = std::sqrt(sum / double(end > begin ? end - begin : 1));
    return 20 * std::log10(rms + 1e-12);
}

double WaveCapture::toneHz(const std::vector<float>& samples, std::size_t begin, std::size_t end,
                           int rate) {
    double first = -1;
    double last = -1;
    int crossings = 0;
    for (std::size_t i = begin + 1; i < end; ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            // Interpolate where the wave crosses zero between the two samples.
            const double t = double(i - 1) + samples[i - 1] / (samples[i - 1] - samples[i]);
            if (first < 0) {
                first = t;
            }
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2) {
        return 0;
    }
    return (crossings - 1) * double(rate) / (last - first);
}

} // namespace gemvolt::testing
