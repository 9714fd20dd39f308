// The module's two entry points.
#include "outside/qm_nim/module/voice_module.h"

#define QM_NIM_EXPORT extern "C" __attribute__((visibility("default")))

QM_NIM_EXPORT IXNimObject* create_object() { return new qmnim::VoiceModule(); }

QM_NIM_EXPORT void delete_object(IXNimObject* object) {
    // Only objects made by create_object come back here.
    delete static_cast<qmnim::VoiceModule*>(object);
}
