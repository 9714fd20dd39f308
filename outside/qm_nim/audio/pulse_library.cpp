#include "outside/qm_nim/audio/pulse_library.h"

#include <dlfcn.h>

#include <map>
#include <memory>
#include <mutex>

#include "common/log_record.h"

namespace qmnim::audio {
namespace {

constexpr const char kLogSource[] = "qm_nim\\PulseLibrary";

struct Loaded {
    std::unique_ptr<PulseLibrary> functions;  // null when the library is unusable
    std::string error;
};

Loaded Open(const std::string& file) {
    Loaded out;
    // Local: its symbols must not bind the client's other libraries to it.
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        out.error = "the sound library " + file + " cannot be loaded (" + (why ? why : "unknown reason") + ")";
        return out;
    }
    auto functions = std::make_unique<PulseLibrary>();
    std::string missing;
#define QM_PULSE_RESOLVE(name)                                                                 \
    functions->name = reinterpret_cast<decltype(functions->name)>(dlsym(handle, "pa_" #name)); \
    if (!functions->name) missing += (missing.empty() ? "pa_" : ", pa_") + std::string(#name);
    QM_PULSE_FUNCTIONS(QM_PULSE_RESOLVE)
#undef QM_PULSE_RESOLVE
    if (!missing.empty()) {
        // Kept open: the handle costs nothing more, and closing a library that
        // may have started threads of its own is not safe.
        out.error = "the sound library " + file + " lacks " + missing;
        return out;
    }
    out.functions = std::move(functions);
    return out;
}

}  // namespace

const PulseLibrary* LoadPulseLibrary(const std::string& file, std::string& error) {
    static std::mutex lock;
    // Never freed: tables handed out stay valid until the process ends.
    static auto* loaded = new std::map<std::string, Loaded>();
    std::lock_guard<std::mutex> guard(lock);
    auto [it, fresh] = loaded->try_emplace(file);
    if (fresh) {
        it->second = Open(file);
        if (!it->second.functions) QM_LOG(kLogSource) << "<qm_nim> sound devices are off: " << it->second.error;
    }
    error = it->second.error;
    return it->second.functions.get();
}

}  // namespace qmnim::audio
