// A core module without QNInitUI: the launcher must give up with exit code 1.
extern "C" __attribute__((visibility("default"))) bool QNModuleStart(const wchar_t*) { return true; }
