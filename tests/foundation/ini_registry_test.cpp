#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

#include "platform/ini.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/process.h"

using platform::Utf8ToWide;

TEST(IniSection, SectionNamesMatchCaseInsensitivelyAndLinesNeedNoEquals) {
    std::string text = "[Other]\r\nx=1\r\n[start_cid]\r\nABC\r\n  key = v \r\n; comment\r\n\r\n[Next]\r\ny\r\n";
    auto lines = platform::ParseIniSection(text, L"Start_Cid");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], L"ABC");
    EXPECT_EQ(lines[1], L"key = v");
    EXPECT_TRUE(platform::ParseIniSection(text, L"Missing").empty());
}

TEST(IniSection, WritingReplacesOnlyTheSectionBody) {
    qmtest::TempDir dir;
    std::wstring path = Utf8ToWide(dir.File("out_start.ini"));
    ASSERT_TRUE(platform::WriteIniSection(path, L"Start_Cid", {L"ABC"}));
    EXPECT_EQ(platform::ReadIniSection(path, L"start_cid"), std::vector<std::wstring>{L"ABC"});
    ASSERT_TRUE(platform::WriteIniSection(path, L"Other", {L"a=1"}));
    ASSERT_TRUE(platform::WriteIniSection(path, L"START_CID", {L"XYZ", L"second"}));
    EXPECT_EQ(platform::ReadIniSection(path, L"Start_Cid"), (std::vector<std::wstring>{L"XYZ", L"second"}));
    EXPECT_EQ(platform::ReadIniValue(path, L"other", L"A"), L"1");
    // A new file is written in the ANSI code page.
    ASSERT_TRUE(platform::WriteIniSection(Utf8ToWide(dir.File("gbk.ini")), L"s", {L"\u4e0a"}));
    EXPECT_EQ(qmtest::ReadFile(dir.File("gbk.ini")), "[s]\r\n\xC9\xCF\r\n");
}

TEST(IniSection, Utf16AndUtf8FilesAreReadAndKeepTheirEncoding) {
    qmtest::TempDir dir;
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("[Start_Cid]\r\nABC\r\n")) utf16 += std::string(1, c) + '\0';
    qmtest::WriteFile(dir.File("a.ini"), utf16);
    std::wstring path = Utf8ToWide(dir.File("a.ini"));
    EXPECT_EQ(platform::ReadIniSection(path, L"Start_Cid"), std::vector<std::wstring>{L"ABC"});
    ASSERT_TRUE(platform::WriteIniSection(path, L"Start_Cid", {L"DEF"}));
    EXPECT_EQ(qmtest::ReadFile(dir.File("a.ini")).substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(platform::ReadIniSection(path, L"Start_Cid"), std::vector<std::wstring>{L"DEF"});

    qmtest::WriteFile(dir.File("b.ini"), "\xEF\xBB\xBF[s]\nvalue\n");
    EXPECT_EQ(platform::ReadIniSection(Utf8ToWide(dir.File("b.ini")), L"s"), std::vector<std::wstring>{L"value"});
}

TEST(IniSection, MalformedOrMissingFilesGiveNothing) {
    qmtest::TempDir dir;
    EXPECT_TRUE(platform::ReadIniSection(Utf8ToWide(dir.File("none.ini")), L"s").empty());
    std::string junk;
    for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919) & 0xFF);
    qmtest::WriteFile(dir.File("junk.ini"), junk);
    EXPECT_TRUE(platform::ReadIniSection(Utf8ToWide(dir.File("junk.ini")), L"Start_Cid").empty());
    EXPECT_TRUE(platform::ParseIniSection("[unterminated\nx\n[s", L"s").empty());
}

namespace {

class RegistryFile : public ::testing::Test {
protected:
    void Use(const std::string& content) {
        qmtest::WriteFile(dir_.File("machine.reg"), content);
        setenv("QM_REGISTRY_FILE", dir_.File("machine.reg").c_str(), 1);
    }
    void TearDown() override { unsetenv("QM_REGISTRY_FILE"); }
    qmtest::TempDir dir_;
};

const char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

}  // namespace

TEST_F(RegistryFile, ReadsStringsAndDwordsOfTheRightTypeOnly) {
    Use(std::string(kHeader) +
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Tessaly]\r\n"
        "\"NetbarId\"=\"cafe \\\"42\\\" \\\\x\"\r\n"
        "\"DisableGPU\"=dword:00000001\r\n"
        "\"Blob\"=hex:01,02,\\\r\n  03\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Quenor]\r\n"
        "\"GID\"=dword:0000002a\r\n");
    platform::RegistryKey key;
    ASSERT_TRUE(key.Open(L"SOFTWARE\\mervane network\\TESSALY"));
    std::wstring text;
    std::uint32_t dword = 0;
    EXPECT_TRUE(key.QueryString(L"netbarid", text));
    EXPECT_EQ(text, L"cafe \"42\" \\x");
    EXPECT_TRUE(key.QueryDword(L"DisableGPU", dword));
    EXPECT_EQ(dword, 1u);
    EXPECT_FALSE(key.QueryString(L"DisableGPU", text));
    EXPECT_FALSE(key.QueryString(L"Blob", text));
    ASSERT_TRUE(key.Open(L"SOFTWARE\\Mervane Network\\Quenor"));
    EXPECT_FALSE(key.QueryString(L"GID", text));  // a number, not text
    EXPECT_FALSE(key.Open(L"SOFTWARE\\Mervane Network\\Pelorin"));
}

TEST_F(RegistryFile, Utf16ExportsAreRead) {
    std::string ascii = std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"V\"=\"x\"\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : ascii) utf16 += std::string(1, c) + '\0';
    Use(utf16);
    platform::RegistryKey key;
    std::wstring text;
    ASSERT_TRUE(key.Open(L"SOFTWARE\\A"));
    EXPECT_TRUE(key.QueryString(L"V", text));
    EXPECT_EQ(text, L"x");
}

TEST_F(RegistryFile, MissingOrMalformedFilesHoldNoKeys) {
    platform::RegistryKey key;
    setenv("QM_REGISTRY_FILE", dir_.File("absent.reg").c_str(), 1);
    EXPECT_FALSE(key.Open(L"SOFTWARE\\Mervane Network\\Tessaly"));
    Use("[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"V\"=\"x\"\r\n");  // no header line
    EXPECT_FALSE(key.Open(L"SOFTWARE\\A"));
    Use(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\r\n\"V\"=dword:zz\r\n\"W\"=\"unterminated\r\n");
    EXPECT_FALSE(key.Open(L"SOFTWARE\\A"));
    std::string junk(3000, '\0');
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>(i * 31);
    EXPECT_TRUE(platform::ParseRegFile(junk).empty());
}

TEST_F(RegistryFile, AChangedFileIsReadAgainHoweverItChanged) {
    auto body = [](const char* gid) {
        return std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Quenor]\r\n\"GID\"=\"" + gid +
               "\"\r\n";
    };
    auto gid = [] {
        platform::RegistryKey key;
        std::wstring text;
        return key.Open(L"SOFTWARE\\Mervane Network\\Quenor") && key.QueryString(L"GID", text) ? text
                                                                                               : L"(none)";
    };
    std::string path = dir_.File("machine.reg");
    Use(body("Q-1"));
    ASSERT_TRUE(qmtest::SetFileAge(path, 3600));  // long settled: its stamp is trusted
    EXPECT_EQ(gid(), L"Q-1");
    EXPECT_EQ(gid(), L"Q-1");
    // Same size and modification time: rewritten in place, then through a new file.
    ASSERT_TRUE(qmtest::ReplaceKeepingTime(path, body("Q-2"), true));
    EXPECT_EQ(gid(), L"Q-2");
    ASSERT_TRUE(qmtest::ReplaceKeepingTime(path, body("Q-3"), false));
    EXPECT_EQ(gid(), L"Q-3");
    // Just written, as a quick succession of writes may leave it.
    Use(body("Q-4"));
    EXPECT_EQ(gid(), L"Q-4");
    Use(body("Q-5"));
    EXPECT_EQ(gid(), L"Q-5");
    ASSERT_EQ(std::remove(path.c_str()), 0);
    EXPECT_EQ(gid(), L"(none)");
    Use(body("Q-6"));
    EXPECT_EQ(gid(), L"Q-6");
    // Another file named by the environment.
    qmtest::WriteFile(dir_.File("other.reg"), body("O-1"));
    setenv("QM_REGISTRY_FILE", dir_.File("other.reg").c_str(), 1);
    EXPECT_EQ(gid(), L"O-1");
}

TEST_F(RegistryFile, AChangedFileIsReadAgainAndAnOversizedOrEndlessOneHoldsNoKeys) {
    platform::RegistryKey key;
    std::wstring text;
    Use(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"V\"=\"x\"\r\n");
    ASSERT_TRUE(key.Open(L"SOFTWARE\\A"));
    EXPECT_TRUE(key.QueryString(L"V", text));
    EXPECT_EQ(text, L"x");
    EXPECT_EQ(platform::RegistryFileStatus(), platform::ReadStatus::Ok);
    Use(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"V\"=\"y\"\r\n");
    ASSERT_TRUE(key.Open(L"SOFTWARE\\A"));
    EXPECT_TRUE(key.QueryString(L"V", text));
    EXPECT_EQ(text, L"y");

    Use(std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"V\"=\"z\"\r\n" +
        std::string(platform::kMaxConfigFileBytes, ';'));
    EXPECT_FALSE(key.Open(L"SOFTWARE\\A"));
    EXPECT_EQ(platform::RegistryFileStatus(), platform::ReadStatus::TooLarge);
    setenv("QM_REGISTRY_FILE", "/dev/zero", 1);
    EXPECT_FALSE(key.Open(L"SOFTWARE\\A"));
    EXPECT_EQ(platform::RegistryFileStatus(), platform::ReadStatus::NotAFile);
}

TEST(IniSection, OversizedOrEndlessFilesAreNotReadAndAreReplacedOnWrite) {
    qmtest::TempDir dir;
    std::wstring big = Utf8ToWide(dir.File("big.ini"));
    qmtest::WriteFile(dir.File("big.ini"), "[Start_Cid]\r\nX\r\n" + std::string(platform::kMaxConfigFileBytes, ';'));
    platform::ReadStatus status = platform::ReadStatus::Ok;
    EXPECT_TRUE(platform::ReadIniSection(big, L"Start_Cid", &status).empty());
    EXPECT_EQ(status, platform::ReadStatus::TooLarge);
    EXPECT_TRUE(platform::WriteIniSection(big, L"Start_Cid", {L"ABC"}));
    EXPECT_EQ(platform::ReadIniSection(big, L"Start_Cid", &status), std::vector<std::wstring>{L"ABC"});
    EXPECT_EQ(status, platform::ReadStatus::Ok);

    EXPECT_TRUE(platform::ReadIniSection(L"/dev/zero", L"s", &status).empty());
    EXPECT_EQ(status, platform::ReadStatus::NotAFile);
    // A FIFO nobody writes to would block a plain open: it is refused at once.
    std::string fifo = dir.File("fifo.ini");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(platform::ReadIniSection(Utf8ToWide(fifo), L"s", &status).empty());
    EXPECT_EQ(status, platform::ReadStatus::NotAFile);
    EXPECT_EQ(platform::ReadStatusText(platform::ReadStatus::TooLarge), "too large (over 1048576 bytes)");
}
