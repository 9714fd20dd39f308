#include "launcher/process_helpers.h"

#include "common/log_record.h"
#include "common/log_text.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/version_note.h"

void LaunchUpdater(const std::wstring& exeDir) {
    std::wstring path = platform::JoinPath(exeDir, L"qm_update");
    if (platform::FileExists(path)) LaunchProcess(path, L"", L"");
}

bool LaunchProcess(const std::wstring& path, const std::wstring& parameters, const std::wstring& workingDirectory) {
    std::wstring commandLine = L"\"" + path + L"\" " + parameters;
    if (commandLine.size() > 1023) commandLine.resize(1023);
    std::vector<std::wstring> argv = platform::SplitCommandLine(commandLine);
    if (argv.empty()) return false;
    std::wstring program = argv.front();
    argv.erase(argv.begin());
    std::string spawnError;
    if (platform::SpawnProcess(program, argv, workingDirectory, &spawnError)) return true;
    // The desktop's handler takes addresses, not bare paths.
    std::string uri = platform::FileUri(platform::NativePath(path));
    if (!uri.empty() && platform::OpenWithSystem(uri)) return true;
    QM_LOG("WinMainImplement") << "<Quenor> cannot start " << EscapeForLog(platform::WideToAnsi(path)) << ": "
                               << spawnError << "; the desktop's handler could not open it either ("
                               << EscapeForLog(uri.empty() ? std::string("no file address") : platform::LastOpenError())
                               << ")";
    return false;
}

std::wstring GetFileVersionString(const std::wstring& path) { return platform::FileVersionString(path); }
