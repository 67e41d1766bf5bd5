#include "Client/audio/SoundPlayer.h"

#include "Client/audio/AudioDevice.h"
#include "Client/audio/Voice.h"
#include "Client/audio/WaveStream.h"

#include <cmath>
#include <limits>

namespace gemvolt::audio {

namespace {

// The range of playback frequencies a sound buffer accepts.
constexpr double MinFrequency = 100.0;
constexpr double MaxFrequency = 100000.0;

bool isWaveName(const QString& file) {
    return file.endsWith(QLatin1String(".wav"));
}

} // namespace

SoundPlayer::SoundPlayer() {
    m_slots.resize(1);
    // Pausing waits for the mixer to finish its period, up to some tens of
    // milliseconds, so it happens once the quiet has lasted rather than
    // between two effects of a fight.
    m_restTimer.setSingleShot(true);
    m_restTimer.setInterval(RestAfterMs);
    QObject::connect(&m_restTimer, &QTimer::timeout, [this] { restWhenQuiet(); });
}

SoundPlayer::~SoundPlayer() {
    GoodBye();
}

QStringList SoundPlayer::enumerateDevices() {
    m_devices = AudioDevice::enumerate();
    m_selected = -1;
    return m_devices;
}

void SoundPlayer::selectDevice(int index) {
    const int selected = (index >= 0 && index < m_devices.size()) ? index : -1;
    if (selected != m_selected) {
        // A new choice deserves a fresh try, even of a device that failed before.
        m_failedIndex = -1;
    }
    m_selected = selected;
}

int SoundPlayer::panForPosition(int position) {
    static constexpr int Pans[] = {-1000, -600, -200, 200, 600, 1000};
    return (position >= 0 && position <= 5) ? Pans[position] : 0;
}

Voice* SoundPlayer::voiceAt(int slot) const {
    if (slot < 0 || slot >= slotCount()) {
        return nullptr;
    }
    return m_slots[static_cast<std::size_t>(slot)].get();
}

bool SoundPlayer::isSlotLoaded(int slot) const {
    return voiceAt(slot) != nullptr;
}

bool SoundPlayer::isSlotPlaying(int slot) const {
    const Voice* v = voiceAt(slot);
    return v != nullptr && v->isPlaying();
}

int SoundPlayer::slotFrequency(int slot) const {
    const Voice* v = voiceAt(slot);
    return v != nullptr ? v->frequency() : 0;
}

int SoundPlayer::playingEffects() const {
    int n = 0;
    for (int s = 1; s < slotCount(); ++s) {
        n += isSlotPlaying(s) ? 1 : 0;
    }
    return n;
}

std::shared_ptr<AudioDevice> SoundPlayer::currentDevice() {
    if (m_selected < 0) {
        return nullptr;
    }
    if (m_device && m_deviceIndex == m_selected) {
        return m_device;
    }
    if (m_failedIndex == m_selected) {
        return nullptr;
    }
    // The old device stays open for as long as sounds made on it still exist.
    ++m_deviceOpenAttempts;
    m_device = AudioDevice::open(m_devices[m_selected].toUtf8());
    if (!m_device) {
        m_deviceIndex = -1;
        m_failedIndex = m_selected;
        return nullptr;
    }
    ++m_devicesOpened;
    m_deviceIndex = m_selected;
    m_failedIndex = -1;
    return m_device;
}

bool SoundPlayer::loadInto(const QString& file, int slot) {
    m_slots[static_cast<std::size_t>(slot)].reset();
    auto device = currentDevice();
    if (!device) {
        return false;
    }
    auto& voice = m_slots[static_cast<std::size_t>(slot)];
    if (!m_cache.holds(file)) {
        // A long sound (the music) plays from its file a few blocks at a time
        // instead of lying whole in memory.
        auto stream = WaveStream::open(file);
        if (stream && stream->frames() * stream->channels() > WaveCache::MaxHeldSamples) {
            voice = Voice::createStreamed(std::move(device), std::move(stream));
            return voice != nullptr;
        }
    }
    const auto wave = m_cache.fetch(file);
    if (!wave) {
        return false;
    }
    voice = Voice::create(std::move(device), *wave);
    return voice != nullptr;
}

void SoundPlayer::InitSoundBuffer(const QString& file, int slot) {
    if (slot < 0 || slot > MaxEffectSlots) {
        return;
    }
    m_slots.resize(static_cast<std::size_t>(slot) + 1);
    loadInto(file, slot);
    // A device just opened mixes at once, and loading the music cut the effects off.
    restSoon();
}

int SoundPlayer::chooseEffectSlot() {
    for (int s = 1; s < slotCount(); ++s) {
        const Voice* v = voiceAt(s);
        if (v == nullptr || v->isFinished()) {
            return s;
        }
    }
    if (slotCount() <= MaxEffectSlots) {
        m_slots.emplace_back();
        return slotCount() - 1;
    }
    // Every slot is busy: the effect that started first makes way.
    int oldest = 1;
    for (int s = 2; s < slotCount(); ++s) {
        if (voiceAt(s)->startedAt < voiceAt(oldest)->startedAt) {
            oldest = s;
        }
    }
    voiceAt(oldest)->stop();
    return oldest;
}

void SoundPlayer::PlaySound(const QString& file, int position) {
    if (!isWaveName(file)) {
        return;
    }
    const int slot = chooseEffectSlot();
    if (!loadInto(file, slot)) {
        return;
    }
    Voice* v = voiceAt(slot);
    v->setPan(panForPosition(position));
    v->startedAt = ++m_starts;
    v->play(false);
    restSoon();
}

void SoundPlayer::CleanUpSndBuffer() {
    for (int s = 1; s < slotCount(); ++s) {
        Voice* v = voiceAt(s);
        if (v != nullptr && v->isFinished()) {
            m_slots[static_cast<std::size_t>(s)].reset();
        }
    }
    while (slotCount() > 1 && !m_slots.back()) {
        m_slots.pop_back();
    }
}

void SoundPlayer::restSoon() {
    m_restTimer.start();
}

void SoundPlayer::restWhenQuiet() {
    // A running mixer wakes many times a second to mix silence; every start
    // of a sound wakes it again (Voice::play). The music keeps it awake until
    // it stops, which looks again.
    if (!m_device || isSlotPlaying(0)) {
        return;
    }
    if (playingEffects() > 0) {
        restSoon();
        return;
    }
    m_device->pause();
}

bool SoundPlayer::isMixing() const {
    return m_device && !m_device->isPaused();
}

void SoundPlayer::SetBGMSpeed(double row) {
    Voice* music = voiceAt(0);
    if (music == nullptr || !std::isfinite(row)) {
        return;
    }
    const double factor = 1.0 + row * 5.0 / 1000.0;
    // nearbyint rounds halves to the even neighbour in the default rounding mode.
    const double hz = std::nearbyint(factor * m_bgmBaseFrequency);
    if (!(hz >= MinFrequency && hz <= MaxFrequency)) {
        return;
    }
    // Changing the rate of a playing sound keeps its position, as a stop and
    // replay would, without a gap in the music.
    if (!music->setFrequency(static_cast<int>(hz))) {
        return;
    }
    music->play(true);
}

void SoundPlayer::stopMusic() {
    if (Voice* music = voiceAt(0)) {
        music->stop();
    }
    restSoon();
}

void SoundPlayer::playMusicLooping() {
    if (Voice* music = voiceAt(0)) {
        music->play(true);
    }
}

void SoundPlayer::takeBgmBaseFrequency() {
    if (const Voice* music = voiceAt(0)) {
        m_bgmBaseFrequency = music->frequency();
    }
}

void SoundPlayer::GoodBye() {
    m_restTimer.stop();
    m_slots.clear();
    m_slots.resize(1);
    m_cache.clear();
    m_devices.clear();
    m_selected = -1;
    m_device.reset();
    m_deviceIndex = -1;
    m_failedIndex = -1;
}

} // namespace gemvolt::audio
