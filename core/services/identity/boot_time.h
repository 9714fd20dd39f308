// The boot time text of the identity ("ms:s:min:h-day/month/year"), the same
// for every request and every process of one boot. The kernel's boot time
// moves with the wall clock (a time sync stepping it after boot moves it too),
// so it is taken once per boot and remembered, under the kernel's boot id, in
// the user's runtime directory.
#pragma once

#include <functional>
#include <string>

#include "platform/system_info.h"

struct BootFacts {
    // The kernel's id of this boot; false when unknown.
    std::function<bool(std::string&)> kernelBootId;
    // The boot time as the clock now gives it; false when unknown.
    std::function<bool(platform::LocalTime&)> bootTime;
    // Where the text is remembered; empty: nowhere beyond this process.
    std::wstring memoFile;

    // The machine's own: the kernel, the clock, $XDG_RUNTIME_DIR/qm_boot_time.
    static BootFacts Machine();
};

std::string FormatBootTime(const platform::LocalTime& boot);

// The text of a memo file's bytes ("<kernel boot id>\n<text>\n"), when the
// memo is of boot `bootId` and its text has the format's characters only.
bool ParseBootMemo(const std::string& bytes, const std::string& bootId, std::string& text);

// The remembered text of this boot, or a new one (then remembered); empty when
// the boot time is unknown.
std::string RememberedBootTimeText(const BootFacts& facts);
