#include "platform/linux/crash/thread_stacks.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {
namespace crash {
namespace {

pthread_key_t g_stackKey;
pthread_once_t g_stackKeyOnce = PTHREAD_ONCE_INIT;
bool g_stackKeyOk = false;

size_t PageSize() {
    long page = sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<size_t>(page) : 4096;
}

// Thread exit: stop using the stack before unmapping it.
void ReleaseAltStack(void* region) {
    size_t guard = PageSize();
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == static_cast<char*>(region) + guard &&
        !(current.ss_flags & SS_ONSTACK)) {
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
    }
    munmap(region, guard + kAltStackBytes);
}

void CreateKey() { g_stackKeyOk = pthread_key_create(&g_stackKey, ReleaseAltStack) == 0; }

}  // namespace

bool EnsureAltStackForThisThread() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
        current.ss_size >= kMinUsableAltStackBytes)
        return true;

    pthread_once(&g_stackKeyOnce, CreateKey);
    size_t guard = PageSize();
    void* region = mmap(nullptr, guard + kAltStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) return false;
    // The lowest page stays inaccessible: an overflowing handler faults there
    // instead of writing over whatever lies below.
    mprotect(region, guard, PROT_NONE);

    stack_t stack{};
    stack.ss_sp = static_cast<char*>(region) + guard;
    stack.ss_size = kAltStackBytes;
    stack.ss_flags = 0;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(region, guard + kAltStackBytes);
        return false;
    }
    if (g_stackKeyOk) pthread_setspecific(g_stackKey, region);
    return true;
}

}  // namespace crash
}  // namespace platform
