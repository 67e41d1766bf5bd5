#pragma once

#include "Client/board/SoundPort.h"

#include <string>

namespace gemvolt::shell {

/** Silence, for a client without a sound window: every call does nothing. */
class SilentSound : public board::SoundPort {
public:
    void PlaySound(const std::string&, int) override {}
    void CleanUpSndBuffer() override {}
    void SetBGMSpeed(int) override {}
    std::string txtGC() const override { return board::DefaultCollisionSound; }
    std::string txtGD() const override { return board::DefaultDestructionSound; }
    bool checkBGM() const override { return false; }
};

} // namespace gemvolt::shell
