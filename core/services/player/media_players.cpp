#include "core/services/player/media_players.h"

#include "common/log_record.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {
constexpr const char kLogSource[] = "Logic\\Business\\NimBusiness\\NimBusiness";
}

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
    for (const platform::ProcessEntry& entry : processes) {
        if (entry.pid == 0 || !platform::EqualsIgnoreCaseAscii(entry.exeName, exeName)) continue;
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
