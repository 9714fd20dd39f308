// Entry of qm_main: the program's arguments, joined by single blanks, are the
// command line the launcher works with.
#include <cstdio>
#include <string>

#include "launcher/usage.h"
#include "launcher/win_main_implement.h"
#include "platform/crash_dump.h"
#include "platform/debug_output.h"
#include "platform/dynlib.h"
#include "platform/text.h"

#ifdef QM_TEST_HOOKS
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "common/cmdline_parser.h"

// Test-only crash triggers, compiled only into builds configured with
// -DQM_TEST_HOOKS=ON. The switch "*qm_test_crash:<where>" makes the process
// fail right after the crash-dump writer is installed:
//   main    an invalid memory write on the main thread (SIGSEGV)
//   worker  an invalid memory write on a thread of its own (SIGSEGV)
//   abort   abort() on the main thread (SIGABRT)
// Other values are left to the core module, which fails inside qm_core.so.
namespace {

volatile int* volatile g_testBadAddress = reinterpret_cast<volatile int*>(std::uintptr_t{0x40});

__attribute__((noinline, noclone, no_sanitize("address", "undefined"))) void QmMainTestCrashWrite() {
    *g_testBadAddress = 1;
}

__attribute__((noinline, noclone)) void QmMainTestCrashAbort() { std::abort(); }

void RunTestCrashSwitch(const std::wstring& commandLine) {
    std::wstring where = CCmdLineParser(commandLine).GetVal(L"qm_test_crash");
    if (where == L"main") QmMainTestCrashWrite();
    if (where == L"worker") std::thread(QmMainTestCrashWrite).join();
    if (where == L"abort") QmMainTestCrashAbort();
}

}  // namespace
#endif

int main(int argc, char** argv) {
    // Before anything of the client: asking how to call it starts nothing.
    if (AsksForUsage(argc, argv)) {
        std::fputs(UsageText(argc > 0 && argv[0] ? argv[0] : "").c_str(), stdout);
        return 0;
    }
    platform::InstallCrashDumpWriter();
    // Nothing the client or its libraries write to standard error may block it.
    platform::RouteLibraryMessagesToDebugOutput();

    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) joined += ' ';
        joined += argv[i];
    }
    std::wstring commandLine = platform::Utf8ToWide(joined);
    if (commandLine.empty() && !joined.empty()) commandLine = platform::AnsiToWide(joined);
#ifdef QM_TEST_HOOKS
    RunTestCrashSwitch(commandLine);
#endif

    int result;
    {
        WinMainImplement app(platform::MainModule(), commandLine);
        result = app.Run();
    }
    return result;
}
