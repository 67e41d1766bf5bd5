#pragma once

#include "Client/board/SoundPort.h"

#include <string>

namespace gemvolt::shell {

class SoundWindowKeeper;

/** The game's sound port over the sound window's keeper. */
class KeeperSound : public board::SoundPort {
public:
    /** keeper must outlive this port. */
    explicit KeeperSound(SoundWindowKeeper& keeper) : m_keeper(keeper) {}

    void PlaySound(const std::string& file, int position) override;
    void CleanUpSndBuffer() override;
    void SetBGMSpeed(int row) override;
    std::string txtGC() const override;
    std::string txtGD() const override;
    bool checkBGM() const override;

private:
    SoundWindowKeeper& m_keeper;
};

} // namespace gemvolt::shell
