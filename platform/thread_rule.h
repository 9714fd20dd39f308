// Thread rules checked in debug builds. A function that may run only on one
// thread (the UI thread of the window library or of the browser host) states
// it with QM_ASSERT_THREAD(<on that thread>) at its top; a debug build aborts
// with the function's name when the rule is broken, a release build compiles
// the check away. The sanitizer build is a debug build: its tests run with the
// checks on.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace platform {

// The UI thread: the thread that runs GTK's main loop, every window, every
// WebKit call and every engine callback. One record for the process: the
// window library claims it when it starts GTK, the browser host when the
// engine starts, whichever comes first; both ask it, and so does the core
// module. Each module links its own copy of platform/, so the record is an
// inline function's object with default visibility, which the toolchain makes
// a unique symbol: the dynamic linker binds every module to the same one.
struct UiThreadRecord {
    std::mutex claimLock;
    std::atomic<bool> claimed{false};
    std::thread::id thread;  // written once, before `claimed`
};

__attribute__((visibility("default"))) inline UiThreadRecord& TheUiThread() {
    static UiThreadRecord record;
    return record;
}

// Makes the calling thread the UI thread unless one is claimed; true when the
// calling thread is the UI thread afterwards.
inline bool ClaimUiThread() {
    UiThreadRecord& r = TheUiThread();
    std::lock_guard<std::mutex> lock(r.claimLock);
    if (!r.claimed.load(std::memory_order_relaxed)) {
        r.thread = std::this_thread::get_id();
        r.claimed.store(true, std::memory_order_release);
    }
    return r.thread == std::this_thread::get_id();
}

inline bool HasUiThread() { return TheUiThread().claimed.load(std::memory_order_acquire); }

inline bool IsUiThread() {
    UiThreadRecord& r = TheUiThread();
    return r.claimed.load(std::memory_order_acquire) && r.thread == std::this_thread::get_id();
}

// On the UI thread, or before any thread claimed it (then every thread may
// still become it).
inline bool MayActAsUiThread() { return !HasUiThread() || IsUiThread(); }

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

// At the top of a function that runs only on the UI thread.
#define QM_ASSERT_UI_THREAD() QM_ASSERT_THREAD(::platform::MayActAsUiThread())
