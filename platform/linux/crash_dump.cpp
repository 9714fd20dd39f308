#include "platform/crash_dump.h"

namespace platform {

void InstallCrashDumpWriter() {}

}  // namespace platform
