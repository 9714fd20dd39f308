// Alternate signal stacks, so that the crash handler also runs when a thread
// has exhausted its own stack.
#pragma once

#include <cstddef>

namespace platform {
namespace crash {

// Size of the alternate stacks this writer hands out (plus a guard page).
constexpr size_t kAltStackBytes = 64 * 1024;
// An alternate stack a thread already has (for example the sanitizer's) is kept
// when it has at least this many bytes.
constexpr size_t kMinUsableAltStackBytes = 16 * 1024;

// Gives the calling thread an alternate signal stack unless it already has a
// usable one. The stack is released when the thread ends. False when none
// could be set up.
bool EnsureAltStackForThisThread();

}  // namespace crash
}  // namespace platform
