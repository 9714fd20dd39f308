// A voice-chat module whose "create_object" gives no object.
#define FAULT_NIM_EXPORT extern "C" __attribute__((visibility("default")))

FAULT_NIM_EXPORT void* create_object() { return nullptr; }
FAULT_NIM_EXPORT void delete_object(void*) {}
