#include <gtest/gtest.h>

#include <cstdio>

#include "platform/paths.h"
#include "platform/text.h"
#include "platform/version_note.h"
#include "tests/support/process.h"

TEST(VersionNote, StampedBinariesCarryTheirVersions) {
    std::wstring carrier = platform::Utf8ToWide(qmtest::BinDir() + "/qm_version.so");
    platform::VersionInfo v;
    ASSERT_TRUE(platform::ReadVersionNote(carrier, v));
    EXPECT_EQ(platform::FileVersionString(carrier), L"1.0.9.1");
    EXPECT_EQ(platform::ProductVersionString(carrier), L"1.0.9.1");
}

TEST(VersionNote, FilesWithoutANoteGiveEmptyResults) {
    // The test program itself is not stamped.
    EXPECT_EQ(platform::FileVersionString(platform::ExecutablePath()), L"");
    EXPECT_EQ(platform::FileVersionString(L"/nonexistent/file.so"), L"");
    std::wstring text;
    EXPECT_FALSE(platform::ReadStringResource(platform::ExecutablePath(), 101, text));
}

TEST(VersionNote, TruncatedAndCorruptFilesAreRejected) {
    std::string bytes = qmtest::ReadFile(qmtest::BinDir() + "/qm_version.so");
    ASSERT_GT(bytes.size(), 64u);
    platform::VersionInfo v;
    EXPECT_TRUE(platform::ParseVersionNote(bytes, v));
    for (size_t cut : {size_t(0), size_t(16), size_t(63), bytes.size() / 2}) {
        platform::ParseVersionNote(bytes.substr(0, cut), v);  // must not crash
    }
    std::string corrupt = bytes;
    for (size_t i = 64; i < corrupt.size(); i += 7) corrupt[i] = static_cast<char>(0xFF);
    std::map<std::uint32_t, std::wstring> table;
    platform::ParseStringTable(corrupt, table);
    EXPECT_FALSE(platform::ParseVersionNote("not an elf file", v));
}

// The carrier with its product version 1.0.9.1 patched to 2.3.4.5 (same size).
std::string WithProductVersion2345(std::string bytes) {
    const std::string note("\x01\x00\x00\x00\x09\x00\x01\x00\x01\x00\x00\x00\x09\x00\x01\x00", 16);
    size_t at = bytes.find(note);
    if (at == std::string::npos) return {};
    bytes.replace(at + 8, 8, std::string("\x02\x00\x03\x00\x04\x00\x05\x00", 8));
    return bytes;
}

TEST(VersionNote, AChangedFileIsReadAgainHoweverItChanged) {
    qmtest::TempDir dir;
    std::string path = dir.File("qm_version.so");
    std::wstring wide = platform::Utf8ToWide(path);
    std::string original = qmtest::ReadFile(qmtest::BinDir() + "/qm_version.so");
    std::string patched = WithProductVersion2345(original);
    ASSERT_FALSE(patched.empty());
    EXPECT_EQ(platform::ProductVersionString(wide), L"");  // not there yet
    ASSERT_TRUE(qmtest::WriteFile(path, original));
    ASSERT_TRUE(qmtest::SetFileAge(path, 3600));
    EXPECT_EQ(platform::ProductVersionString(wide), L"1.0.9.1");
    EXPECT_EQ(platform::ProductVersionString(wide), L"1.0.9.1");
    ASSERT_TRUE(qmtest::ReplaceKeepingTime(path, patched, true));
    EXPECT_EQ(platform::ProductVersionString(wide), L"2.3.4.5");
    EXPECT_EQ(platform::FileVersionString(wide), L"1.0.9.1");
    ASSERT_TRUE(qmtest::ReplaceKeepingTime(path, original, false));
    EXPECT_EQ(platform::ProductVersionString(wide), L"1.0.9.1");
    std::wstring id;
    EXPECT_TRUE(platform::ReadStringResource(wide, 101, id));
    ASSERT_TRUE(qmtest::ReplaceKeepingTime(path, "no longer an ELF file, same length? no", true));
    EXPECT_EQ(platform::ProductVersionString(wide), L"");
    EXPECT_FALSE(platform::ReadStringResource(wide, 101, id));
    ASSERT_EQ(std::remove(path.c_str()), 0);
    EXPECT_EQ(platform::ProductVersionString(wide), L"");
}
