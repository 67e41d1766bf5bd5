// Compiled by the dispatch checks, never run: the client's dispatch of what
// the server sends. With a handler for every form it compiles; without one,
// or with a handler that takes anything, it must not.
#include "Common/Messages.h"

#include <utility>

using namespace gemvolt::common;

void handle(MessageFromServer message) {
    dispatch(std::move(message), MessageHandlers{
                                     [](const MsgChat&) {},
                                     [](const MsgRoster&) {},
                                     [](const MsgPlayerLeft&) {},
                                     [](const MsgStandings&) {},
                                     [](const MsgAttackPatternToAll&) {},
                                     [](const MsgBoardState&) {},
                                     [](const MsgNextPair&) {},
                                     [](const MsgCounterAttackToAll&) {},
                                     [](const MsgStats&) {},
                                     [](const MsgGameOver&) {},
#ifndef LEAVE_ONE_OUT
                                     [](const MsgReadyToAll&) {},
#endif
#ifdef CATCH_ALL
                                     [](const auto&) {},
#endif
                                 });
}
