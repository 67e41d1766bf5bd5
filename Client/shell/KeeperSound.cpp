#include "Client/shell/KeeperSound.h"

#include "Client/shell/SoundWindowKeeper.h"

namespace gemvolt::shell {

void KeeperSound::PlaySound(const std::string& file, int position) {
    m_keeper.PlaySound(QString::fromStdString(file), position);
}

void KeeperSound::CleanUpSndBuffer() {
    m_keeper.CleanUpSndBuffer();
}

void KeeperSound::SetBGMSpeed(int row) {
    m_keeper.SetBGMSpeed(static_cast<double>(row));
}

std::string KeeperSound::txtGC() const {
    return m_keeper.collisionFile().toStdString();
}

std::string KeeperSound::txtGD() const {
    return m_keeper.destructionFile().toStdString();
}

bool KeeperSound::checkBGM() const {
    return m_keeper.bgmDisabled();
}

} // namespace gemvolt::shell
