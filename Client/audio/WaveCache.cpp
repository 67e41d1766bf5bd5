#include "Client/audio/WaveCache.h"

#include <QFile>

#include <algorithm>
#include <filesystem>

namespace gemvolt::audio {

namespace {

struct FileStamp {
    bool ok = false;
    std::int64_t modified = 0;
    std::int64_t bytes = 0;
};

FileStamp stampOf(const QString& path) {
    namespace fs = std::filesystem;
    FileStamp s;
    std::error_code ec;
    const fs::path p(QFile::encodeName(path).toStdString());
    if (!fs::is_regular_file(p, ec) || ec) {
        return s;
    }
    const auto when = fs::last_write_time(p, ec);
    if (ec) {
        return s;
    }
    const auto size = fs::file_size(p, ec);
    if (ec) {
        return s;
    }
    s.ok = true;
    s.modified = static_cast<std::int64_t>(when.time_since_epoch().count());
    s.bytes = static_cast<std::int64_t>(size);
    return s;
}

} // namespace

WaveCache::WaveCache(std::size_t capacity) : m_capacity(std::max<std::size_t>(capacity, 1)) {}

void WaveCache::clear() {
    m_entries.clear();
}

bool WaveCache::holds(const QString& path) const {
    const auto found = std::find_if(m_entries.begin(), m_entries.end(),
                                    [&](const Entry& e) { return e.path == path; });
    if (found == m_entries.end()) {
        return false;
    }
    const FileStamp stamp = stampOf(path);
    return stamp.ok && found->modified == stamp.modified && found->bytes == stamp.bytes;
}

std::shared_ptr<const WaveData> WaveCache::fetch(const QString& path) {
    const auto found = std::find_if(m_entries.begin(), m_entries.end(),
                                    [&](const Entry& e) { return e.path == path; });
    const FileStamp stamp = stampOf(path);
    if (!stamp.ok) {
        if (found != m_entries.end()) {
            m_entries.erase(found);
        }
        return nullptr;
    }
    if (found != m_entries.end()) {
        if (found->modified == stamp.modified && found->bytes == stamp.bytes) {
            found->lastUse = ++m_clock;
            return found->data;
        }
        m_entries.erase(found);
    }

    ++m_decodes;
    auto data = WaveData::decode(path);
    if (!data) {
        return nullptr;
    }
    if (static_cast<std::int64_t>(data->samples().size()) > MaxHeldSamples) {
        return data;
    }
    if (m_entries.size() >= m_capacity) {
        const auto oldest =
            std::min_element(m_entries.begin(), m_entries.end(),
                             [](const Entry& a, const Entry& b) { return a.lastUse < b.lastUse; });
        m_entries.erase(oldest);
    }
    m_entries.push_back(Entry{path, stamp.modified, stamp.bytes, ++m_clock, data});
    return data;
}

} // namespace gemvolt::audio
