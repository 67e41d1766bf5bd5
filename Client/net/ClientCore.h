#pragma once

#include "Client/battle/GameCore.h"

namespace gemvolt::net {

/**
 * The game core as the network side drives it: the battle core plus the
 * switch-off of single timers that Disconnect From Server and Exit need
 * (the core itself only stops them all at the end of a fight).
 */
class ClientCore : public battle::GameCore {
public:
    /** Switch tmrFallGems or tmrUpdate off, telling the timer port. */
    void stopTimer(board::Timer timer) { setTimer(timer, false); }
};

} // namespace gemvolt::net
