// Where the client writes: beside a writable executable folder, else in the
// user's XDG folders with their defaults.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/state_dirs.h"
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

TEST(StateDirs, TheProbeFollowsTheFolder) {
    qmtest::TempDir dir;
    std::wstring folder(dir.path().begin(), dir.path().end());
    EXPECT_EQ(platform::StateDirsFor(folder + L"/qm_main").logDir, folder + L"/LOG");
    // A folder that does not exist cannot be written into.
    StateDirs missing = platform::StateDirsFor(L"/nonexistent-folder-of-the-test/qm_main");
    EXPECT_FALSE(missing.besideExecutable);
}

}  // namespace
