// The module's entry points: its object, and a trace of the calls it received.
#include <cstring>
#include <mutex>
#include <string>

#include "outside/qm_nim/nim_room.h"

#define QM_NIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace qmnim {
namespace {
std::mutex g_traceLock;
std::string g_trace;
}  // namespace

void Trace(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_traceLock);
    g_trace += line;
    g_trace += '\n';
}

}  // namespace qmnim

QM_NIM_EXPORT IXNimObject* create_object() { return new qmnim::NimRoom(); }

QM_NIM_EXPORT void delete_object(IXNimObject* object) {
    // Only objects made by create_object come back here.
    delete static_cast<qmnim::NimRoom*>(object);
}

// Copies the call trace (one line per call) into `buffer` (zero-terminated,
// cut to `size`); returns the length of the whole trace.
QM_NIM_EXPORT size_t qm_nim_trace(char* buffer, size_t size) {
    std::lock_guard<std::mutex> lock(qmnim::g_traceLock);
    if (buffer && size > 0) {
        size_t n = qmnim::g_trace.size() < size - 1 ? qmnim::g_trace.size() : size - 1;
        std::memcpy(buffer, qmnim::g_trace.data(), n);
        buffer[n] = '\0';
    }
    return qmnim::g_trace.size();
}

QM_NIM_EXPORT void qm_nim_clear_trace() {
    std::lock_guard<std::mutex> lock(qmnim::g_traceLock);
    qmnim::g_trace.clear();
}
