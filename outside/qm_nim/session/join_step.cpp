#include "outside/qm_nim/session/join_step.h"

namespace qmnim::session {

JoinStep NextJoinStep(const Roster& roster, const std::string& channelName, std::uint32_t ownChannel,
                      std::uint32_t moveTarget, bool createSent) {
    if (std::optional<std::uint32_t> target = roster.FindChild(0, channelName)) {
        if (ownChannel == *target) return {JoinStep::Joined, *target};
        if (moveTarget != *target) return {JoinStep::Move, *target};
        return {JoinStep::Wait, *target};
    }
    return {createSent ? JoinStep::Wait : JoinStep::Create, 0};
}

}  // namespace qmnim::session
