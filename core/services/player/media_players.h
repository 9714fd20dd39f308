// Finding running processes by executable name, for the page's question
// which music players run.
#pragma once

#include <string>
#include <vector>

#include "platform/process.h"

struct MediaPlayerRow {
    const wchar_t* exeName;  // executable name searched for
    const char* replyKey;    // member of the reply that carries its path
};

// The players in lookup order; a later row with the same key wins.
const std::vector<MediaPlayerRow>& MediaPlayerTable();

// Full image path of the first process (ascending pid) whose executable name
// equals `exeName` without regard to case, in the ANSI code page; empty when
// none runs or its image cannot be read (both logged). A native program counts
// too: "QQMusic.exe" also matches a process "qqmusic" (by argv[0] or the file it runs).
std::string FindProcessImagePath(const std::wstring& exeName);
// The same path as wide text, without the lossy trip through the ANSI code page.
std::wstring FindProcessImagePathWide(const std::wstring& exeName);
// The same search in a snapshot taken once for several names.
std::wstring FindProcessImagePathIn(const std::vector<platform::ProcessEntry>& processes, const std::wstring& exeName);
