#include "core/services/identity/boot_time.h"

#include <cstdio>

#include "platform/paths.h"

namespace {

constexpr size_t kMaxMemoBytes = 256;

// Digits and the separators of the text's format, nothing else.
bool LooksLikeBootTimeText(const std::string& text) {
    if (text.empty() || text.size() > 64) return false;
    for (char c : text)
        if (!(c >= '0' && c <= '9') && c != ':' && c != '-' && c != '/') return false;
    return true;
}

// Only a memo this user wrote counts, and it is read without waiting: it is
// read on the UI thread, where a FIFO put in its place would stall the start.
bool ReadMemo(const std::wstring& file, const std::string& bootId, std::string& text) {
    std::string bytes;
    return !file.empty() &&
           platform::ReadOwnPrivateFile(file, bytes, kMaxMemoBytes) == platform::ReadStatus::Ok &&
           ParseBootMemo(bytes, bootId, text);
}

}  // namespace

bool ParseBootMemo(const std::string& bytes, const std::string& bootId, std::string& text) {
    if (bytes.size() > kMaxMemoBytes || bootId.empty()) return false;
    size_t first = bytes.find('\n');
    if (first == std::string::npos || bytes.compare(0, first, bootId) != 0 || first != bootId.size()) return false;
    size_t second = bytes.find('\n', first + 1);
    if (second == std::string::npos) return false;
    std::string stored = bytes.substr(first + 1, second - first - 1);
    if (!LooksLikeBootTimeText(stored)) return false;
    text = stored;
    return true;
}

BootFacts BootFacts::Machine() {
    BootFacts facts;
    facts.kernelBootId = &platform::KernelBootId;
    facts.bootTime = &platform::BootTime;
    std::string runtime = platform::GetEnv("XDG_RUNTIME_DIR");
    if (!runtime.empty()) facts.memoFile = platform::JoinPath(platform::FromNativePath(runtime), L"qm_boot_time");
    return facts;
}

std::string FormatBootTime(const platform::LocalTime& boot) {
    char text[128];
    std::snprintf(text, sizeof(text), "%d:%d:%d:%d-%d/%d/%d", boot.millisecond, boot.second, boot.minute,
                  boot.hour, boot.day, boot.month, boot.year);
    return text;
}

std::string RememberedBootTimeText(const BootFacts& facts) {
    std::string bootId;
    bool knownBoot = facts.kernelBootId && facts.kernelBootId(bootId) && !bootId.empty() &&
                     bootId.find('\n') == std::string::npos;
    std::string text;
    if (knownBoot && ReadMemo(facts.memoFile, bootId, text)) return text;
    platform::LocalTime boot;
    if (!facts.bootTime || !facts.bootTime(boot)) return {};
    text = FormatBootTime(boot);
    // Failing to remember costs only the stability across processes.
    if (knownBoot && !facts.memoFile.empty()) platform::WriteFileBytes(facts.memoFile, bootId + "\n" + text + "\n");
    return text;
}
