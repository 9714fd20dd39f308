// Where the client writes: beside an executable folder that is the user's
// alone, else in the user's XDG folders with their defaults.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include "platform/state_dirs.h"
#include "platform/text.h"
#include "tests/support/process.h"

namespace {

using platform::ResolveStateDirs;
using platform::StateDirs;

platform::EnvLookup Env(std::map<std::string, std::string> values) {
    return [values](const char* name) {
        auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    };
}

TEST(StateDirs, AWritableFolderKeepsEverythingBesideTheExecutable) {
    StateDirs dirs = ResolveStateDirs(L"/home/u/app/qm_main", true, Env({{"XDG_STATE_HOME", "/s"}}));
    EXPECT_TRUE(dirs.besideExecutable);
    EXPECT_EQ(dirs.logDir, L"/home/u/app/LOG");
    EXPECT_EQ(dirs.dumpDir, L"/home/u/app/Dump");
    EXPECT_EQ(dirs.ProfileDirFor(L"/home/u/app/qm_main"), L"/home/u/app/tmp/qm_main");
    EXPECT_EQ(dirs.startIniPath, L"/home/u/app/out_start.ini");
}

TEST(StateDirs, AReadOnlyFolderUsesTheUsersXdgFolders) {
    StateDirs dirs = ResolveStateDirs(L"/opt/quenor/qm_main", false,
                                      Env({{"HOME", "/home/u"},
                                           {"XDG_STATE_HOME", "/x/state"},
                                           {"XDG_DATA_HOME", "/x/data"},
                                           {"XDG_RUNTIME_DIR", "/run/user/1000"}}));
    EXPECT_FALSE(dirs.besideExecutable);
    EXPECT_EQ(dirs.logDir, L"/x/state/quenor/LOG");
    EXPECT_EQ(dirs.dumpDir, L"/x/state/quenor/Dump");
    EXPECT_EQ(dirs.ProfileDirFor(L"/opt/quenor/qm_main"), L"/x/data/quenor/tmp/qm_main");
    EXPECT_EQ(dirs.startIniPath, L"/run/user/1000/quenor/out_start.ini");
    // The web cache goes where caches go; beside the executable it stays in the profile.
    EXPECT_EQ(dirs.CacheDirFor(L"/opt/quenor/qm_main"), L"/home/u/.cache/quenor/qm_main");
    EXPECT_EQ(ResolveStateDirs(L"/a/qm_main", true, Env({})).CacheDirFor(L"/a/qm_main"), L"/a/tmp/qm_main");
}

TEST(StateDirs, UnsetOrRelativeVariablesFallBackToTheDefaultsUnderHome) {
    StateDirs dirs = ResolveStateDirs(L"/opt/quenor/qm_main", false,
                                      Env({{"HOME", "/home/u"}, {"XDG_DATA_HOME", "relative/data"}}));
    EXPECT_EQ(dirs.logDir, L"/home/u/.local/state/quenor/LOG");
    EXPECT_EQ(dirs.dumpDir, L"/home/u/.local/state/quenor/Dump");
    EXPECT_EQ(dirs.profileRoot, L"/home/u/.local/share/quenor/tmp");
    // No runtime folder: the start channel goes to the state folder.
    EXPECT_EQ(dirs.startIniPath, L"/home/u/.local/state/quenor/out_start.ini");

    // Without HOME the account's home directory stands in.
    StateDirs noHome = ResolveStateDirs(L"/opt/quenor/qm_main", false, Env({}));
    const std::wstring tail = L"/.local/state/quenor/LOG";
    ASSERT_GT(noHome.logDir.size(), tail.size());
    EXPECT_EQ(noHome.logDir.front(), L'/');
    EXPECT_EQ(noHome.logDir.substr(noHome.logDir.size() - tail.size()), tail);
}

TEST(StateDirs, TheProfileIsNamedAfterTheExecutableWithoutExtension) {
    StateDirs dirs = ResolveStateDirs(L"/a/qm_main.bin", true, Env({}));
    EXPECT_EQ(dirs.ProfileDirFor(L"/a/qm_main.bin"), L"/a/tmp/qm_main");
    std::wstring longName(300, L'n');
    EXPECT_EQ(dirs.ProfileDirFor(L"/a/" + longName), L"/a/tmp/" + std::wstring(255, L'n'));
}

// The executable's folder, examined for real: only a folder of the user's
// that nobody else can write into, with nothing of anyone else's in the
// client's place, holds the client's files.
class StateDirsOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "a second owner needs root";
        ASSERT_EQ(mkdir(app_.c_str(), 0755), 0);
    }
    std::string Why() { return platform::StateDirsFor(platform::Utf8ToWide(app_ + "/qm_main")).whyNotBeside; }
    void PlantAsOther(const std::string& path, bool folder) {
        if (folder) ASSERT_EQ(mkdir(path.c_str(), 0777), 0);
        else ASSERT_TRUE(qmtest::WriteFile(path, ""));
        ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    }
    qmtest::TempDir dir_;
    std::string app_ = dir_.File("app");
};

TEST_F(StateDirsOnDisk, AFolderOthersMayWriteIntoOrThatIsAnotherUsersIsNotUsed) {
    EXPECT_EQ(Why(), "");
    ASSERT_EQ(chmod(app_.c_str(), 0775), 0);
    EXPECT_NE(Why().find(app_ + " may be written by other users (mode 0775)"), std::string::npos) << Why();
    StateDirs dirs = platform::StateDirsFor(platform::Utf8ToWide(app_ + "/qm_main"));
    EXPECT_FALSE(dirs.besideExecutable);
    ASSERT_EQ(chmod(app_.c_str(), 0755), 0);
    ASSERT_EQ(chown(app_.c_str(), 65534, 65534), 0);
    EXPECT_NE(Why().find("belongs to user 65534"), std::string::npos) << Why();
}

TEST_F(StateDirsOnDisk, AnythingOfAnotherUserInTheClientsPlaceSendsEverythingToTheUsersFolders) {
    for (const char* planted : {"LOG", "Dump", "tmp", "out_start.ini", "tmp/qm_main/Cookies"}) {
        SCOPED_TRACE(planted);
        qmtest::RunProcess({"/bin/rm", "-rf", app_}, std::chrono::seconds(30));
        ASSERT_EQ(mkdir(app_.c_str(), 0755), 0);
        std::string path = app_ + "/" + planted;
        if (std::string(planted) == "tmp/qm_main/Cookies") {
            ASSERT_EQ(mkdir((app_ + "/tmp").c_str(), 0700), 0);
            ASSERT_EQ(mkdir((app_ + "/tmp/qm_main").c_str(), 0700), 0);
        }
        PlantAsOther(path, std::string(planted).find('.') == std::string::npos &&
                               std::string(planted).find("Cookies") == std::string::npos);
        std::string why = Why();
        EXPECT_NE(why.find(path + " belongs to user 65534"), std::string::npos) << why;
    }
}

TEST_F(StateDirsOnDisk, PreparingAFolderNeverChangesTheFolderItHangsFrom) {
    StateDirs dirs = platform::StateDirsFor(platform::Utf8ToWide(app_ + "/qm_main"));
    ASSERT_TRUE(dirs.besideExecutable) << dirs.whyNotBeside;
    std::string why;
    EXPECT_TRUE(dirs.PrepareFolder(platform::Utf8ToWide(app_), &why)) << why;
    EXPECT_TRUE(dirs.PrepareFolder(dirs.ProfileDirFor(platform::Utf8ToWide(app_ + "/qm_main")), &why)) << why;
    struct stat st{};
    ASSERT_EQ(stat(app_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(stat((app_ + "/tmp/qm_main").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST(StateDirs, TheProbeFollowsTheFolder) {
    qmtest::TempDir dir;
    std::wstring folder(dir.path().begin(), dir.path().end());
    EXPECT_EQ(platform::StateDirsFor(folder + L"/qm_main").logDir, folder + L"/LOG");
    // A folder that does not exist cannot be written into.
    StateDirs missing = platform::StateDirsFor(L"/nonexistent-folder-of-the-test/qm_main");
    EXPECT_FALSE(missing.besideExecutable);
}

}  // namespace
