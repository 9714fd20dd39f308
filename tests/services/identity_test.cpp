// Client identity: gid from the machine registry file, host name, boot id,
// version, and the "_get_client_info" reply.
#include <gtest/gtest.h>

#include <glib.h>

#include <cctype>
#include <filesystem>
#include <cstdio>

#include <json/reader.h>

#include "core/services/identity/boot_time.h"
#include "core/services/identity/http_launch_app.h"
#include "core/services/reply/js_reply.h"
#include "platform/system_info.h"
#include "tests/services/services_test_support.h"
#include "tests/support/fake_web_wnd.h"

namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

// Points the machine registry at a file of the test's own for its lifetime.
class RegistryFile {
public:
    explicit RegistryFile(const std::string& body) : env_("QM_REGISTRY_FILE", dir_.File("machine.reg")) {
        if (!body.empty()) qmtest::WriteFile(dir_.File("machine.reg"), kHeader + body);
    }

private:
    qmtest::TempDir dir_;  // before env_: the path exists when the variable is set
    qmtest::ScopedEnv env_;
};

std::string Md5Upper(const std::string& text) {
    gchar* hex = g_compute_checksum_for_string(G_CHECKSUM_MD5, text.data(), static_cast<gssize>(text.size()));
    std::string out = hex;
    g_free(hex);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string HostName() {
    std::string name;
    platform::HostName(name);
    return name;
}

class IdentityTest : public ::testing::Test {
protected:
    qmtest::TempDir install_;
    HttpLaunchApp app_{platform::FromNativePath(install_.path())};
};

TEST_F(IdentityTest, NoCafeSoftwareGivesEmptyGidAndBootIdOfHostAndBootTime) {
    RegistryFile registry("");  // no file at all
    std::string mac, bootId, gid, pcName;
    app_.GetIdentity(mac, bootId, gid, pcName);
    EXPECT_EQ(gid, "");
    EXPECT_EQ(mac, "");
    EXPECT_EQ(pcName, HostName());
    EXPECT_EQ(bootId, Md5Upper(HostName() + HttpLaunchApp::BootTimeText()));
    EXPECT_EQ(bootId.size(), 32u);
    EXPECT_EQ(bootId.find_first_not_of("0123456789ABCDEF"), std::string::npos) << bootId;
}

TEST_F(IdentityTest, GidLocationsAreTriedInOrder) {
    {
        RegistryFile registry(
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Tessaly]\r\n\"NetbarId\"=\"T-77\"\r\n");
        EXPECT_EQ(app_.ReadGid(), "T-77");
    }
    {
        RegistryFile registry(
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Quenor]\r\n\"GID\"=\"Q-1\"\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Pelorin]\r\n\"GID\"=\"P-1\"\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Tessaly]\r\n\"NetbarId\"=\"T-1\"\r\n");
        EXPECT_EQ(app_.ReadGid(), "Q-1");
    }
    {
        // A number where text is expected, or empty text, does not count.
        RegistryFile registry(
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Quenor]\r\n\"GID\"=dword:0000002a\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Pelorin]\r\n\"GID\"=\"\"\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Tessaly]\r\n\"NetbarId\"=\"T-2\"\r\n");
        EXPECT_EQ(app_.ReadGid(), "T-2");
    }
    {
        RegistryFile registry(
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Quenor]\r\n\"GID\"=dword:00000001\r\n");
        EXPECT_EQ(app_.ReadGid(), "");
    }
}

TEST_F(IdentityTest, GidIsAnsiInsideAndUtf8Outside) {
    // A registry file without a byte-order mark is in the ANSI code page, as regedit writes it.
    RegistryFile registry(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Quenor]\r\n\"GID\"=\"\xCD\xF8\xB0\xC9 7\"\r\n");
    EXPECT_EQ(app_.ReadGid(), "\xCD\xF8\xB0\xC9 7");  // code page 936
    std::string mac, bootId, gid, pcName;
    app_.GetIdentity(mac, bootId, gid, pcName);
    EXPECT_EQ(gid, "\xE7\xBD\x91\xE5\x90\xA7 7");
    // The boot id hashes the ANSI bytes of the gid.
    EXPECT_EQ(bootId, Md5Upper("\xCD\xF8\xB0\xC9 7" + HostName() + HttpLaunchApp::BootTimeText()));
}

TEST_F(IdentityTest, BootIdIsStableWithinABootAndFollowsTheGid) {
    RegistryFile registry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Pelorin]\r\n\"GID\"=\"G1\"\r\n");
    std::string mac, first, second, gid, pcName;
    app_.GetIdentity(mac, first, gid, pcName);
    HttpLaunchApp other(platform::FromNativePath(install_.path()));
    other.GetIdentity(mac, second, gid, pcName);
    EXPECT_EQ(first, second);
    EXPECT_NE(HttpLaunchApp::BootId("G2", pcName), first);
    EXPECT_EQ(HttpLaunchApp::BootId("G1", pcName), first);
}

TEST_F(IdentityTest, BootTimeTextHasTheFixedShape) {
    std::string text = HttpLaunchApp::BootTimeText();
    // Milliseconds, seconds, minutes, hours, then day/month/year, unpadded.
    platform::LocalTime t;
    ASSERT_EQ(std::sscanf(text.c_str(), "%d:%d:%d:%d-%d/%d/%d", &t.millisecond, &t.second, &t.minute, &t.hour,
                          &t.day, &t.month, &t.year),
              7)
        << text;
    EXPECT_EQ(FormatBootTime(t), text);
    EXPECT_GE(t.year, 2000);
    EXPECT_EQ(HttpLaunchApp::BootTimeText(), text);
}

// The machine as the boot time memo sees it, with a clock the test steps.
class SteppedClock {
public:
    explicit SteppedClock(const std::string& memoFile) {
        facts.kernelBootId = [this](std::string& id) {
            id = bootId;
            return !id.empty();
        };
        facts.bootTime = [this](platform::LocalTime& t) {
            if (!known) return false;
            t = boot;
            t.second = boot.second + stepSeconds;  // what a stepped wall clock makes of the same boot
            return true;
        };
        facts.memoFile = platform::FromNativePath(memoFile);
        boot.year = 2026, boot.month = 3, boot.day = 9, boot.hour = 8, boot.minute = 15, boot.second = 10;
        boot.millisecond = 250;
    }
    BootFacts facts;
    std::string bootId = "5f1c0c1e-0000-4000-8000-000000000001";
    platform::LocalTime boot;
    int stepSeconds = 0;
    bool known = true;
};

TEST(BootTimeMemo, TheTextStaysForTheWholeBootWhenTheClockIsStepped) {
    qmtest::TempDir dir;
    SteppedClock machine(dir.File("qm_boot_time"));
    EXPECT_EQ(RememberedBootTimeText(machine.facts), "250:10:15:8-9/3/2026");
    machine.stepSeconds = 3;  // a time sync after boot
    EXPECT_EQ(RememberedBootTimeText(machine.facts), "250:10:15:8-9/3/2026");
    // Another process of the same boot reads the same memo.
    SteppedClock later(dir.File("qm_boot_time"));
    later.stepSeconds = 40;
    EXPECT_EQ(RememberedBootTimeText(later.facts), "250:10:15:8-9/3/2026");
    // The next boot has a new kernel boot id: its own time, remembered in turn.
    later.bootId = "5f1c0c1e-0000-4000-8000-000000000002";
    EXPECT_EQ(RememberedBootTimeText(later.facts), "250:50:15:8-9/3/2026");
    later.stepSeconds = 0;
    EXPECT_EQ(RememberedBootTimeText(later.facts), "250:50:15:8-9/3/2026");
}

TEST(BootTimeMemo, ABadOrMissingMemoIsReplacedAndAnUnknownBootTimeIsEmpty) {
    qmtest::TempDir dir;
    std::string memo = dir.File("qm_boot_time");
    SteppedClock machine(memo);
    for (const std::string& junk :
         {std::string("5f1c0c1e-0000-4000-8000-000000000001\n"), std::string("x\n1:2:3:4-5/6/2026\n"),
          std::string("5f1c0c1e-0000-4000-8000-000000000001\n<script>\n"), std::string(4096, 'a')}) {
        qmtest::WriteFile(memo, junk);
        EXPECT_EQ(RememberedBootTimeText(machine.facts), "250:10:15:8-9/3/2026");
        EXPECT_EQ(qmtest::ReadFile(memo), machine.bootId + "\n250:10:15:8-9/3/2026\n");
    }
    // Nowhere to remember it, or no kernel boot id: the clock's value as it is now.
    machine.facts.memoFile.clear();
    machine.stepSeconds = 2;
    EXPECT_EQ(RememberedBootTimeText(machine.facts), "250:12:15:8-9/3/2026");
    machine.facts.memoFile = platform::FromNativePath(memo);
    machine.bootId.clear();
    EXPECT_EQ(RememberedBootTimeText(machine.facts), "250:12:15:8-9/3/2026");
    machine.known = false;
    EXPECT_EQ(RememberedBootTimeText(machine.facts), "");
}

TEST(BootTimeMemo, TheMachinesMemoLivesInTheRuntimeDirectory) {
    qmtest::TempDir dir;
    {
        qmtest::ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path());
        EXPECT_EQ(BootFacts::Machine().memoFile, platform::FromNativePath(dir.File("qm_boot_time")));
        std::string text = RememberedBootTimeText(BootFacts::Machine());
        std::string bootId;
        ASSERT_TRUE(platform::KernelBootId(bootId));
        EXPECT_EQ(qmtest::ReadFile(dir.File("qm_boot_time")), bootId + "\n" + text + "\n");
    }
    qmtest::ScopedEnv none("XDG_RUNTIME_DIR", "");
    EXPECT_TRUE(BootFacts::Machine().memoFile.empty());
}

TEST_F(IdentityTest, IdentityTextJoinsTheFourValues) {
    RegistryFile registry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Quenor]\r\n\"GID\"=\"a&b=c\"\r\n");
    EXPECT_EQ(app_.IdentityText(), "gid=a&b=c&mac=&pcname=" + HostName() + "&bootid=" +
                                       HttpLaunchApp::BootId("a&b=c", HostName()));
}

TEST_F(IdentityTest, PrimingFillsTheHostNameCacheOnlyAfterAGid) {
    RegistryFile registry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Quenor]\r\n\"GID\"=\"x\"\r\n");
    app_.Prime();
    EXPECT_EQ(app_.PcName(), HostName());
}

TEST_F(IdentityTest, VersionComesFromQmVersionBesideTheExecutable) {
    EXPECT_EQ(app_.Version(), "");  // missing file
    qmtest::WriteFile(install_.File("qm_version.so"), "not an ELF file");
    EXPECT_EQ(app_.Version(), "");
    // Any binary carrying a version note will do: the voice module has one.
    std::filesystem::copy_file(std::string(QM_TEST_BIN_DIR) + "/qm_nim.so", install_.File("qm_version.so"),
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(app_.Version(), QM_TEST_PROJECT_VERSION);
}

TEST_F(IdentityTest, ClientInfoReplyCarriesEveryMember) {
    RegistryFile registry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Tessaly]\r\n\"NetbarId\"=\"N-9\"\r\n");
    qmtest::ReplyRecorder replies;
    qmtest::FakeWebWnd window(12);
    window.RegisterCaller("_get_client_info", "_get_client_info",
                          [&](const QNInterface::QNCEF::CEFRequest& r, const std::string& cb) {
                              ReplyToRequest(r, app_.ClientInfo(), cb);
                          });
    window.Send("_get_client_info", "ignored=1");
    auto sent = replies.Replies();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].browserId, 12);
    std::string text = platform::WideToUtf8(sent[0].text);
    EXPECT_EQ(text, "{\"result\":{\"cbfn\":\"_get_client_info\",\"data\":{\"boot_id\":\"" +
                        HttpLaunchApp::BootId("N-9", HostName()) + "\",\"gid\":\"N-9\",\"mac\":\"\",\"pc_name\":\"" +
                        HostName() + "\",\"version\":\"\"}}}\n");
}

TEST_F(IdentityTest, ClientInfoFollowsChangesOfTheVersionCarrierAndTheRegistry) {
    RegistryFile registry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Quenor]\r\n\"GID\"=\"G-1\"\r\n");
    std::string carrier = install_.File("qm_version.so");
    qmtest::ReplyRecorder replies;
    qmtest::FakeWebWnd window(7);
    window.RegisterCaller("_get_client_info", "_get_client_info",
                          [&](const QNInterface::QNCEF::CEFRequest& r, const std::string& cb) {
                              ReplyToRequest(r, app_.ClientInfo(), cb);
                          });
    auto reply = [&] {
        window.Send("_get_client_info", "");
        auto sent = replies.Replies();
        return sent.empty() ? std::string() : platform::WideToUtf8(sent.back().text);
    };
    auto expected = [&](const std::string& gid, const std::string& version) {
        return "{\"result\":{\"cbfn\":\"_get_client_info\",\"data\":{\"boot_id\":\"" +
               HttpLaunchApp::BootId(gid, HostName()) + "\",\"gid\":\"" + gid + "\",\"mac\":\"\",\"pc_name\":\"" +
               HostName() + "\",\"version\":\"" + version + "\"}}}\n";
    };
    EXPECT_EQ(reply(), expected("G-1", ""));
    std::filesystem::copy_file(std::string(QM_TEST_BIN_DIR) + "/qm_version.so", carrier);
    ASSERT_TRUE(qmtest::SetFileAge(carrier, 3600));
    EXPECT_EQ(reply(), expected("G-1", "1.0.9.1"));
    EXPECT_EQ(reply(), expected("G-1", "1.0.9.1"));
    // An update replaces the carrier by one of the same size and time.
    std::string bytes = qmtest::ReadFile(carrier);
    const std::string note("\x01\x00\x00\x00\x09\x00\x01\x00\x01\x00\x00\x00\x09\x00\x01\x00", 16);
    size_t at = bytes.find(note);
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at + 8, 8, std::string("\x01\x00\x00\x00\x0a\x00\x00\x00", 8));
    ASSERT_TRUE(qmtest::ReplaceKeepingTime(carrier, bytes, false));
    EXPECT_EQ(reply(), expected("G-1", "1.0.10.0"));
    // The cafe software writes another group id.
    std::string reg = qmtest::ReadFile(platform::GetEnv("QM_REGISTRY_FILE"));
    ASSERT_TRUE(qmtest::SetFileAge(platform::GetEnv("QM_REGISTRY_FILE"), 3600));
    EXPECT_EQ(reply(), expected("G-1", "1.0.10.0"));
    reg.replace(reg.find("G-1"), 3, "G-2");
    ASSERT_TRUE(qmtest::ReplaceKeepingTime(platform::GetEnv("QM_REGISTRY_FILE"), reg, true));
    EXPECT_EQ(reply(), expected("G-2", "1.0.10.0"));
    std::remove(carrier.c_str());
    EXPECT_EQ(reply(), expected("G-2", ""));
}

}  // namespace
