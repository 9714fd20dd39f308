// The module's entry points: the two every voice module has, and the version
// of the interface it implements (the host calls later slots only on a module
// that reports them).
#include "outside/qm_nim/module/voice_module.h"

#define QM_NIM_EXPORT extern "C" __attribute__((visibility("default")))

QM_NIM_EXPORT IXNimObject* create_object() { return new qmnim::VoiceModule(); }

QM_NIM_EXPORT void delete_object(IXNimObject* object) {
    // Only objects made by create_object come back here.
    delete static_cast<qmnim::VoiceModule*>(object);
}

QM_NIM_EXPORT int xnim_interface_version() { return kXNimInterfaceVersion; }
