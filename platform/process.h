// Starting programs, opening addresses with the system's handler, and looking at
// the processes of the machine.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// Starts `path` with `arguments` (argv[1..]) in `workingDir` (empty: the
// caller's), without waiting for it. The program starts clean: no descriptor
// of ours but standard input, output and error, every signal at its default
// action and none blocked. False when it could not be started (`error` says why).
bool SpawnProcess(const std::wstring& path, const std::vector<std::wstring>& arguments,
                  const std::wstring& workingDir, std::string* error = nullptr);
// Splits a Windows-style command line ("\"C:\\x y\" a b") into arguments.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

// Opens a URL or a file with the desktop's default handler (as xdg-open does).
// The launcher is replaceable so that tests can see the calls.
using UriLauncher = bool (*)(const std::string& uri);
bool OpenWithSystem(const std::string& uri);
// Why the last OpenWithSystem of this thread failed (empty after a success).
std::string LastOpenError();
// The same for threads that must not wait (the UI thread): the handler is
// looked up and started in the background, and `done` runs later on this
// thread's main context with the outcome (at once with a test's launcher).
void OpenWithSystemInBackground(const std::string& uri,
                                std::function<void(bool ok, const std::string& error)> done);
// "file:///..." for an absolute native path (what the desktop's handler takes for a file).
std::string FileUri(const std::string& nativePath);
UriLauncher SetUriLauncher(UriLauncher launcher);  // returns the previous one

// The arguments this process was started with (argv[0] first), as the kernel
// recorded them; empty when unreadable.
std::vector<std::string> CurrentProcessArguments();
// Whether `args` (argv[0] first) mark a helper process of the browser engine:
// an argument of its own that starts with "--type=". The same text inside
// another switch's value (a start address) does not count.
bool HasProcessTypeSwitch(const std::vector<std::string>& args);
// The same for this process's own arguments.
bool IsEngineHelperProcess();

std::uint32_t CurrentProcessId();
std::uint32_t CurrentThreadId();

struct ProcessEntry {
    std::uint32_t pid = 0;
    std::uint32_t parentPid = 0;
    std::wstring exeName;    // base name of argv[0] (either separator), else comm
    std::wstring imagePath;  // /proc/PID/exe, or argv[0] when that is a Windows path
    bool imageReadable = false;
};
// Every process, in ascending pid order.
std::vector<ProcessEntry> SnapshotProcesses();
// Image path of one process; false when it cannot be read (access refused, gone).
bool QueryProcessImage(std::uint32_t pid, std::wstring& path);

}  // namespace platform
