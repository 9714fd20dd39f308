// Holds a single-instance guard name for a test, as another user's process
// would (the test starts it under another uid):
//   guard_holder own      the guard of the user it runs as, named as the client names it
//   guard_holder <name>   exactly <name>, as a process squatting on it would
// Prints "held <name>" once it holds the name, then waits until it is killed.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "common/core_protocol.h"
#include "platform/instance_guard.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: guard_holder own|<name>\n");
        return 2;
    }
    std::string arg = argv[1];
    std::string name = arg == "own" ? platform::SessionGuardName(core_protocol::kGuard) : arg;
    platform::InstanceGuard guard(name);
    platform::GuardResult result = guard.Acquire();
    if (result != platform::GuardResult::Acquired) {
        std::printf("not held %s: %s\n", name.c_str(), guard.Detail().c_str());
        return 1;
    }
    std::printf("held %s\n", name.c_str());
    std::fflush(stdout);
    for (;;) pause();
}
