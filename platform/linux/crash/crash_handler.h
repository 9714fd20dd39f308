// Internals of the crash-dump writer that benchmarks and tests reach.
#pragma once

namespace platform {
namespace crash {

// Writes a dump of the running process, seen from the calling thread and
// without an exception, to `path` (replacing it). Not for signal handlers.
bool WriteDumpOfThisProcess(const char* path);

// Where crash dumps go and how their names begin ("<exe>_v<version>"); empty
// until the writer is installed.
const char* InstalledDumpDirectory();
const char* InstalledDumpNamePrefix();

}  // namespace crash
}  // namespace platform
