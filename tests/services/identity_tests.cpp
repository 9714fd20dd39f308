// Client identity: gid from the machine registry file, host name, boot id,
// version, and the "_get_client_info" reply.
#include <gtest/gtest.h>

#include <glib.h>

#include <cctype>
#include <filesystem>
#include <cstdio>

#include <json/reader.h>

#include "core/services/business/wnd_ui_status_business.h"
#include "core/services/identity/http_launch_app.h"
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
    platform::LocalTime boot;
    ASSERT_TRUE(platform::BootTime(boot));
    // Milliseconds, seconds, minutes, hours, then day/month/year, unpadded.
    EXPECT_EQ(text, std::to_string(boot.millisecond) + ":" + std::to_string(boot.second) + ":" +
                        std::to_string(boot.minute) + ":" + std::to_string(boot.hour) + "-" +
                        std::to_string(boot.day) + "/" + std::to_string(boot.month) + "/" +
                        std::to_string(boot.year));
    EXPECT_GE(boot.year, 2000);
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
    // Any binary carrying a version note will do: the voice module stand-in has one.
    std::filesystem::copy_file(std::string(QM_TEST_BIN_DIR) + "/qm_nim.so", install_.File("qm_version.so"),
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(app_.Version(), QM_TEST_PROJECT_VERSION);
}

TEST_F(IdentityTest, ClientInfoReplyCarriesEveryMember) {
    RegistryFile registry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mervane Network\\Tessaly]\r\n\"NetbarId\"=\"N-9\"\r\n");
    svctest::ReplyRecorder replies;
    qmtest::FakeWebWnd window(12);
    WndUIStatusBusiness business(&app_);
    EXPECT_TRUE(business.Init());
    window.RegisterCaller("_get_client_info", "_get_client_info",
                          [&](const QNInterface::QNCEF::CEFRequest& r, const std::string& cb) {
                              business.OnGetClientInfo(r, cb);
                          });
    window.Send("_get_client_info", "ignored=1");
    auto sent = replies.Replies();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].browserId, 12);
    std::string text = platform::WideToUtf8(sent[0].text);
    EXPECT_EQ(text, "{\"result\":{\"cbfn\":\"_get_client_info\",\"data\":{\"boot_id\":\"" +
                        HttpLaunchApp::BootId("N-9", HostName()) + "\",\"gid\":\"N-9\",\"mac\":\"\",\"pc_name\":\"" +
                        HostName() + "\",\"version\":\"\"}}}\n");
    EXPECT_TRUE(business.Uninit());
}

}  // namespace
