// Thread rules checked in debug builds. A function that may run only on one
// thread (the UI thread of the window library or of the browser host) states
// it with QM_ASSERT_THREAD(<on that thread>) at its top; a debug build aborts
// with the function's name when the rule is broken, a release build compiles
// the check away. The sanitizer build is a debug build: its tests run with the
// checks on.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace platform {

// Writes which function ran on the wrong thread to standard error and aborts.
[[noreturn]] inline void ThreadRuleBroken(const char* function, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: %s runs off the UI thread\n", file, line, function);
    std::fflush(stderr);
    std::abort();
}

}  // namespace platform

#ifdef NDEBUG
#define QM_ASSERT_THREAD(onRightThread) ((void)0)
#else
#define QM_ASSERT_THREAD(onRightThread) \
    ((onRightThread) ? (void)0 : ::platform::ThreadRuleBroken(__func__, __FILE__, __LINE__))
#endif
