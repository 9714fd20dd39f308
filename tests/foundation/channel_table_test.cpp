#include <gtest/gtest.h>

#include <utility>

#include "common/client_config.h"
#include "platform/version_note.h"
#include "platform/text.h"
#include "tests/support/process.h"

namespace {

DeployConfig Hosts() {
    DeployConfig d;
    d.frontendDefault = L"web.example";
    d.frontendS1 = L"s1.example";
    d.frontendS1Test = L"s1-test.example";
    d.frontendS2 = L"s2.example";
    d.frontendS2Test = L"s2-test.example";
    d.frontendT = L"t.example";
    d.frontendTTest = L"t-test.example";
    return d;
}

}  // namespace

TEST(ChannelTable, EveryDefaultBrandIdMapsToOneChannel) {
    const char* ids[] = {"83302ACB1000", "B20E9C421001", "12E542701001", "DB73EA261001", "DB73EA261002",
                         "F3EA15RF4762", "83302ACB1086", "DB73EA261399", "H6WSW0X01624", "E25144875362",
                         "2BGY2TFA9649", "2BGY2TFA6238", "2BGY2TFA3575", "83302ACB1052"};
    for (const char* id : ids) {
        ChannelInfo c = CClientConfig::LookupChannel(id, Hosts());
        EXPECT_EQ(c.displayName, L"Rawen") << id;
        EXPECT_EQ(c.productName, L"Rawen") << id;
        EXPECT_EQ(c.displayNameAnsi, "Rawen") << id;
        EXPECT_EQ(c.cidSwitch, L"*cid:83302ACB1052") << id;
        EXPECT_EQ(c.webUrl, L"https://web.example/?inner=pc&") << id;
        EXPECT_EQ(c.testWebUrl, c.webUrl) << id;
    }
}

TEST(ChannelTable, OtherBrandsHaveTheirOwnHostsAndSwitches) {
    struct Row {
        const char* id;
        const wchar_t* name;
        const wchar_t* web;
        const wchar_t* test;
    } rows[] = {
        {"1BFC1AB11001", L"Solvey", L"https://s1.example/?inner=pc&", L"https://s1-test.example/?inner=pc&"},
        {"1BFC1AB11002", L"Tamberly", L"https://t.example/?inner=pc&", L"https://t-test.example/?inner=pc&"},
        {"E25144871001", L"Tamberly", L"https://t.example/?inner=pc&", L"https://t-test.example/?inner=pc&"},
        {"83302ACB1058", L"Solvey", L"https://s2.example/?inner=pc&", L"https://s2-test.example/?inner=pc&"},
    };
    for (const auto& r : rows) {
        ChannelInfo c = CClientConfig::LookupChannel(r.id, Hosts());
        EXPECT_EQ(c.displayName, r.name);
        EXPECT_EQ(c.displayNameAnsi, platform::WideToAnsi(r.name));
        EXPECT_EQ(c.webUrl, r.web);
        EXPECT_EQ(c.testWebUrl, r.test);
        EXPECT_EQ(c.cidSwitch, L"*cid:" + platform::Utf8ToWide(r.id));
    }
}

TEST(ChannelTable, UnknownIdsGiveAnEmptyRecord) {
    for (const char* id : {"83302acb1052", "83302ACB1052 ", "", "1BFC1AB11003"}) {
        ChannelInfo c = CClientConfig::LookupChannel(id, Hosts());
        EXPECT_TRUE(c.displayName.empty() && c.displayNameAnsi.empty() && c.webUrl.empty() &&
                    c.testWebUrl.empty() && c.productName.empty() && c.cidSwitch.empty())
            << "'" << id << "'";
    }
}

TEST(ChannelTable, ChannelIdComesFromTheVersionCarrierBesideTheExecutable) {
    // The test program's folder has no qm_version.so: no channel id.
    EXPECT_EQ(CClientConfig::Get()->GetChannelId(), L"");
    CClientConfig::Get()->ResolveChannel("");
    EXPECT_TRUE(CClientConfig::Get()->GetChannelInfo().displayName.empty());
    // The built carrier holds string 101.
    std::wstring id;
    ASSERT_TRUE(platform::ReadStringResource(platform::Utf8ToWide(qmtest::BinDir() + "/qm_version.so"), 101, id));
    EXPECT_EQ(id, L"83302ACB1052");
}

TEST(DeployConfig, ReadsHostsAndBuildsTheStatisticsEndpoint) {
    qmtest::TempDir dir;
    std::string path = dir.File("deploy.ini");
    qmtest::WriteFile(path,
                      "[frontend]\r\ndefault=web.example\r\ns1=a\r\ns1_test=b\r\ns2=c\r\ns2_test=d\r\nt=e\r\n"
                      "t_test=f\r\n[statistics]\r\nhost=stats.example\r\n");
    DeployConfig d = DeployConfig::LoadFrom(platform::Utf8ToWide(path));
    EXPECT_EQ(d.frontendDefault, L"web.example");
    EXPECT_EQ(d.frontendTTest, L"f");
    EXPECT_EQ(d.StatisticsEndpoint(), "http://stats.example:8888/opt=put");
    d.statisticsHost = L"127.0.0.1:9123";
    EXPECT_EQ(d.StatisticsEndpoint(), "http://127.0.0.1:9123/opt=put");
    d.statisticsHost = L"[::1]";
    EXPECT_EQ(d.StatisticsEndpoint(), "http://[::1]:8888/opt=put");
    d.statisticsHost.clear();
    EXPECT_EQ(d.StatisticsEndpoint(), "");
}

// The machine identity goes over TLS to the host written, or nowhere: a
// scheme keeps its meaning, and whatever could send it elsewhere (user
// information, a path, a query) leaves no endpoint at all.
TEST(DeployConfig, AnHttpsStatisticsHostIsSentToThatHostOrNowhere) {
    DeployConfig d;
    const std::pair<const wchar_t*, const char*> cases[] = {
        {L"https://stats.example", "https://stats.example/opt=put"},
        {L"HTTPS://stats.example:9443/", "https://stats.example:9443/opt=put"},
        {L"https://[::1]:9443", "https://[::1]:9443/opt=put"},
        {L"http://stats.example", "http://stats.example:8888/opt=put"},
        {L"http://127.0.0.1:9123", "http://127.0.0.1:9123/opt=put"},
        {L"https://", ""},
        {L"https://user@evil.example", ""},
        {L"https://stats.example@evil.example", ""},
        {L"https://stats.example/other", ""},
        {L"https://stats.example?x=1", ""},
        {L"https://stats.example#x", ""},
        {L"https://stats.example\\@evil.example", ""},
        {L"https://stats.example evil.example", ""},
    };
    for (const auto& [host, endpoint] : cases) {
        d.statisticsHost = host;
        EXPECT_EQ(d.StatisticsEndpoint(), endpoint) << platform::WideToUtf8(host);
    }
}

TEST(DeployConfig, ReadsTheVoiceServerOnlyFromItsOwnSection) {
    qmtest::TempDir dir;
    std::string path = dir.File("deploy.ini");
    qmtest::WriteFile(path, "[voice]\r\nhost = 127.0.0.1:64738\r\nfingerprint=AB:cd\r\n");
    DeployConfig d = DeployConfig::LoadFrom(platform::Utf8ToWide(path));
    EXPECT_TRUE(d.hasVoice);
    EXPECT_EQ(d.voiceHost, L"127.0.0.1:64738");
    EXPECT_EQ(d.voiceFingerprint, L"AB:cd");
    qmtest::WriteFile(path, "[frontend]\r\ndefault=web.example\r\nhost=voice.example\r\n");
    d = DeployConfig::LoadFrom(platform::Utf8ToWide(path));
    EXPECT_FALSE(d.hasVoice);
    EXPECT_TRUE(d.voiceHost.empty());
}

TEST(DeployConfig, TlsExceptionsNameAHostAndAFingerprintOrAnyAndNothingElse) {
    qmtest::TempDir dir;
    std::string path = dir.File("deploy.ini");
    std::string pin(64, 'a');
    std::string printed;  // "AA:AA:...", as tools print a fingerprint
    for (int i = 0; i < 32; ++i) printed += (i ? ":" : "") + std::string("AA");
    qmtest::WriteFile(path, "[frontend]\ndefault=web.example\n[tls_exceptions]\nFront.Example = " + printed +
                                "\nlab.example=ANY\nshort.example=abcd\n=any\nbad host=any\nnovalue.example=\n");
    DeployConfig d = DeployConfig::LoadFrom(platform::Utf8ToWide(path));
    ASSERT_EQ(d.tlsExceptions.size(), 2u);
    EXPECT_EQ(d.tlsExceptions[0].host, "front.example");
    EXPECT_EQ(d.tlsExceptions[0].sha256, pin);
    EXPECT_EQ(d.tlsExceptions[1].host, "lab.example");
    EXPECT_EQ(d.tlsExceptions[1].sha256, "") << "any certificate";
    // Without the section nothing is excepted.
    qmtest::WriteFile(path, "[frontend]\ndefault=web.example\n");
    EXPECT_TRUE(DeployConfig::LoadFrom(platform::Utf8ToWide(path)).tlsExceptions.empty());
}

TEST(DeployConfig, LaunchSchemesAreSchemeNamesOtherThanThoseThePageShowsOrLocalFiles) {
    qmtest::TempDir dir;
    std::string path = dir.File("deploy.ini");
    qmtest::WriteFile(path, "[frontend]\ndefault=web.example\n[launch]\n"
                            "schemes = Example-App, steam:;x+y.z-1 FILE,javascript 1bad,ba d/,example-app\n");
    DeployConfig d = DeployConfig::LoadFrom(platform::Utf8ToWide(path));
    EXPECT_EQ(d.launchSchemes, (std::vector<std::string>{"example-app", "steam", "x+y.z-1", "ba"}));
    qmtest::WriteFile(path, "[frontend]\ndefault=web.example\n");
    EXPECT_TRUE(DeployConfig::LoadFrom(platform::Utf8ToWide(path)).launchSchemes.empty()) << "none by default";
}

TEST(DeployConfig, MissingOrMalformedFilesGiveEmptyHosts) {
    qmtest::TempDir dir;
    EXPECT_TRUE(DeployConfig::LoadFrom(platform::Utf8ToWide(dir.File("absent.ini"))).frontendDefault.empty());
    std::string path = dir.File("deploy.ini");
    qmtest::WriteFile(path, std::string("\x00\xFF\x81garbage\n[[[", 13));
    DeployConfig d = DeployConfig::LoadFrom(platform::Utf8ToWide(path));
    EXPECT_TRUE(d.frontendDefault.empty());
    EXPECT_TRUE(d.statisticsHost.empty());
    EXPECT_TRUE(CClientConfig::LookupChannel("83302ACB1052", d).webUrl.empty());
}
