// Process-wide single-instance guard, named like the Windows event it stands for.
// The name is held until the process ends; the kernel frees it then.
#pragma once

#include <string>

namespace platform {

enum class GuardResult {
    Acquired,        // this process is the first instance
    AlreadyHeld,     // another process holds the name
    Failed,          // the guard could not be created for another reason
};

// Takes the guard `name` for the rest of the process's life.
GuardResult AcquireInstanceGuard(const std::string& name);

}  // namespace platform
