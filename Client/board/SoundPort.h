#pragma once

#include <string>

namespace gemvolt::board {

/** The sound window's defaults for its two effect-file fields. */
inline constexpr const char* DefaultCollisionSound = "Dink.wav";      // txtGC, "Gem Collision:"
inline constexpr const char* DefaultDestructionSound = "PahTush.wav"; // txtGD, "Gem Destruction:"

/**
 * The sound window as the game sees it. Every call may fail silently: the game
 * never learns whether a sound was heard.
 */
class SoundPort {
public:
    virtual ~SoundPort() = default;
    /** Play a sound file once; position is a board column 0..5 that sets the stereo pan. */
    virtual void PlaySound(const std::string& file, int position) = 0;
    /** Release the effect buffers that have finished playing. */
    virtual void CleanUpSndBuffer() = 0;
    /** Set the background music's speed from the height of the own stack (row 0..14). */
    virtual void SetBGMSpeed(int row) = 0;
    /** Text of the "Gem Collision:" field (DefaultCollisionSound unless changed). */
    virtual std::string txtGC() const = 0;
    /** Text of the "Gem Destruction:" field (DefaultDestructionSound unless changed). */
    virtual std::string txtGD() const = 0;
    /** Whether "Disable BGM (click Play to apply)" is ticked. */
    virtual bool checkBGM() const = 0;
};

} // namespace gemvolt::board
