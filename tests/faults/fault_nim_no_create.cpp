// A voice-chat module without "create_object": it exports only "delete_object".
#define FAULT_NIM_EXPORT extern "C" __attribute__((visibility("default")))

FAULT_NIM_EXPORT void delete_object(void*) {}
