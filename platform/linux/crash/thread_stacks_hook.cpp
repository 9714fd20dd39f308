// Linked only into executables that install the crash-dump writer: every thread
// the process starts (its own, the toolkit's, the engine's) first gets an
// alternate signal stack, so that a stack overflow on it still leaves a dump.
// pthread_create is interposed here because threads have no other creation
// hook and an alternate stack is never inherited by a new thread.
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>

#include <new>

#include "platform/linux/crash/thread_stacks.h"

namespace {

using PthreadCreateFn = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

struct ThreadStart {
    void* (*routine)(void*);
    void* argument;
};

PthreadCreateFn RealPthreadCreate() {
    static PthreadCreateFn real = reinterpret_cast<PthreadCreateFn>(dlsym(RTLD_NEXT, "pthread_create"));
    return real;
}

void* StartWithAltStack(void* raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    platform::crash::EnsureAltStackForThisThread();
    return start.routine(start.argument);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int pthread_create(pthread_t* thread, const pthread_attr_t* attr,
                                                                     void* (*routine)(void*), void* argument) noexcept {
    PthreadCreateFn real = RealPthreadCreate();
    if (!real) return EAGAIN;
    auto* start = new (std::nothrow) ThreadStart{routine, argument};
    if (!start) return real(thread, attr, routine, argument);
    int result = real(thread, attr, StartWithAltStack, start);
    if (result != 0) delete start;
    return result;
}
