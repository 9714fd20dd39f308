#include "outside/qm_nim/audio/thread_priority.h"

#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>

namespace qmnim::audio {
namespace {
// Below the sound server's own threads (which ask for 5 and more in their
// usual set-up), above every ordinary thread. The reset flag keeps children
// (spawned programs) at normal priority.
constexpr int kPriority = 3;
}  // namespace

bool RaiseThisThreadForAudio() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    sched_param param{};
    param.sched_priority = kPriority;
    return sched_setscheduler(0, SCHED_RR | SCHED_RESET_ON_FORK, &param) == 0;
}

}  // namespace qmnim::audio
