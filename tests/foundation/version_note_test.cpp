#include <gtest/gtest.h>

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
