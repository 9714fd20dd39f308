// What a join into a room does next, decided from what the roster shows: the
// session calls it whenever channels or its own place change, until the user
// is in the room's channel.
#pragma once

#include <cstdint>
#include <string>

#include "outside/qm_nim/session/roster.h"

namespace qmnim::session {

struct JoinStep {
    enum Kind {
        Wait,    // asked already: wait for the server
        Joined,  // the user is in the room's channel
        Move,    // ask to move into `channel`
        Create,  // ask to make the channel (a temporary one under the root)
    };
    Kind kind = Wait;
    std::uint32_t channel = 0;
};

// `channelName`: the room's channel name; `ownChannel`: where the user is;
// `moveTarget`: the channel a move was asked into (0: none); `createSent`:
// whether making the channel was asked.
JoinStep NextJoinStep(const Roster& roster, const std::string& channelName, std::uint32_t ownChannel,
                      std::uint32_t moveTarget, bool createSent);

}  // namespace qmnim::session
