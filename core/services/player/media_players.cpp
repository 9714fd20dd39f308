#include "core/services/player/media_players.h"

#include "common/log_record.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

constexpr const char kLogSource[] = "Logic\\Business\\NimBusiness\\NimBusiness";

// "QQMusic.exe" also finds a Linux build of the player, named "qqmusic" or "QQMusic".
std::wstring NativeName(const std::wstring& exeName) {
    const std::wstring suffix = L".exe";
    if (exeName.size() <= suffix.size()) return {};
    std::wstring tail = exeName.substr(exeName.size() - suffix.size());
    return platform::EqualsIgnoreCaseAscii(tail, suffix) ? exeName.substr(0, exeName.size() - suffix.size())
                                                          : std::wstring();
}

bool IsNamed(const platform::ProcessEntry& entry, const std::wstring& exeName, const std::wstring& nativeName) {
    if (platform::EqualsIgnoreCaseAscii(entry.exeName, exeName)) return true;
    if (nativeName.empty()) return false;
    // A native program is known by its argv[0] or by the file it runs.
    return platform::EqualsIgnoreCaseAscii(entry.exeName, nativeName) ||
           (entry.imageReadable && platform::EqualsIgnoreCaseAscii(platform::FilePart(entry.imagePath), nativeName));
}

}  // namespace

const std::vector<MediaPlayerRow>& MediaPlayerTable() {
    static const std::vector<MediaPlayerRow> table = {
        {L"QQMusic.exe", "QQMusic"},
        {L"cloudmusic.exe", "CloudMusic"},
        {L"NeteaseMusic.exe", "CloudMusic"},
        {L"KuGou.exe", "KuGou"},
    };
    return table;
}

std::wstring FindProcessImagePathIn(const std::vector<platform::ProcessEntry>& processes, const std::wstring& exeName) {
    const std::wstring nativeName = NativeName(exeName);
    for (const platform::ProcessEntry& entry : processes) {
        if (entry.pid == 0 || !IsNamed(entry, exeName, nativeName)) continue;
        if (!entry.imageReadable) {
            QM_LOG(kLogSource) << "NimBusiness >> Can't Open Process " << platform::WideToAnsi(exeName);
            return {};
        }
        return entry.imagePath;
    }
    QM_LOG(kLogSource) << "NimBusiness >> Can't Find Process " << platform::WideToAnsi(exeName);
    return {};
}

std::wstring FindProcessImagePathWide(const std::wstring& exeName) {
    return FindProcessImagePathIn(platform::SnapshotProcesses(), exeName);
}

std::string FindProcessImagePath(const std::wstring& exeName) {
    return platform::WideToAnsi(FindProcessImagePathWide(exeName));
}
