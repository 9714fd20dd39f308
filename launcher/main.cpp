// Entry of qm_main: the program's arguments, joined by single blanks, are the
// command line the launcher works with.
#include <string>

#include "launcher/win_main_implement.h"
#include "platform/crash_dump.h"
#include "platform/dynlib.h"
#include "platform/text.h"

int main(int argc, char** argv) {
    platform::InstallCrashDumpWriter();

    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) joined += ' ';
        joined += argv[i];
    }
    std::wstring commandLine = platform::Utf8ToWide(joined);
    if (commandLine.empty() && !joined.empty()) commandLine = platform::AnsiToWide(joined);

    int result;
    {
        WinMainImplement app(platform::MainModule(), commandLine);
        result = app.Run();
    }
    return result;
}
