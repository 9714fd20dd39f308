// What another local user can put where the client writes: a file or folder
// of theirs, a link, a FIFO, a second name. The tests run as root and plant
// as user 65534; without root they are skipped.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "platform/private_files.h"
#include "platform/text.h"
#include "tests/support/process.h"

using namespace std::chrono_literals;

namespace {

constexpr uid_t kOther = 65534;

std::wstring W(const std::string& path) { return platform::Utf8ToWide(path); }

unsigned Mode(const std::string& path) {
    struct stat st{};
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFFu;
}

uid_t Owner(const std::string& path) {
    struct stat st{};
    return lstat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

// A file (or folder) of the other user, open to everybody.
void Plant(const std::string& path, bool folder = false) {
    if (folder) ASSERT_EQ(mkdir(path.c_str(), 0777), 0) << path;
    else ASSERT_TRUE(qmtest::WriteFile(path, ""));
    ASSERT_EQ(chmod(path.c_str(), folder ? 0777 : 0666), 0);
    ASSERT_EQ(lchown(path.c_str(), kOther, kOther), 0);
}

class PrivateFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "planting files of another user needs root";
    }
    qmtest::TempDir dir_;
};

TEST_F(PrivateFiles, AFileForWritingThatIsNotPlainlyTheUsersIsRefusedAndLeftUntouched) {
    const std::string foreign = dir_.File("foreign.log"), target = dir_.File("target"), linkPath = dir_.File("link.log"),
                      fifo = dir_.File("fifo.log"), twice = dir_.File("twice.log");
    Plant(foreign);
    ASSERT_TRUE(qmtest::WriteFile(target, "secret of nobody"));
    ASSERT_EQ(symlink(target.c_str(), linkPath.c_str()), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(qmtest::WriteFile(twice, ""));
    ASSERT_EQ(link(twice.c_str(), dir_.File("second-name").c_str()), 0);

    struct Case {
        std::string path, why;
    };
    for (const Case& c : {Case{foreign, "belongs to user 65534"}, Case{linkPath, "symbolic link"},
                          Case{fifo, "not a regular file"}, Case{twice, "hard links"}}) {
        std::string why;
        auto started = std::chrono::steady_clock::now();
        std::FILE* f = platform::OpenFileForAppend(W(c.path), &why);
        EXPECT_EQ(f, nullptr) << c.path;
        if (f) std::fclose(f);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "waited on " << c.path;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.path << ": " << why;
        EXPECT_FALSE(platform::EnsurePrivateFile(W(c.path), &why)) << c.path;
    }
    EXPECT_EQ(qmtest::ReadFile(foreign), "");
    EXPECT_EQ(Mode(foreign), 0666u);  // someone else's file is not changed either
    EXPECT_EQ(qmtest::ReadFile(target), "secret of nobody");

    // Replacing a whole file puts a new file of the user's in its place.
    ASSERT_TRUE(platform::WriteFileBytes(W(foreign), "mine"));
    EXPECT_EQ(Owner(foreign), 0u);
    EXPECT_EQ(Mode(foreign), 0600u);
    EXPECT_EQ(qmtest::ReadFile(foreign), "mine");
}

TEST_F(PrivateFiles, TheUsersOwnFilesAreNarrowedAndNewOnesMadePrivate) {
    const std::string own = dir_.File("own.log"), fresh = dir_.File("fresh.log");
    ASSERT_TRUE(qmtest::WriteFile(own, "a"));
    ASSERT_EQ(chmod(own.c_str(), 0666), 0);
    mode_t old = umask(0);
    std::FILE* f = platform::OpenFileForAppend(W(own));
    std::FILE* g = platform::OpenFileForAppend(W(fresh));
    umask(old);
    ASSERT_NE(f, nullptr);
    ASSERT_NE(g, nullptr);
    std::fputs("b", f);
    std::fclose(f);
    std::fclose(g);
    EXPECT_EQ(qmtest::ReadFile(own), "ab");
    EXPECT_EQ(Mode(own), 0600u);
    EXPECT_EQ(Mode(fresh), 0600u);
}

TEST_F(PrivateFiles, PrivateFoldersNarrowTheClientsOwnLevelsAndNeverTheBase) {
    const std::string base = dir_.File("app");
    ASSERT_EQ(mkdir(base.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((base + "/tmp").c_str(), 0777), 0);
    ASSERT_EQ(chmod((base + "/tmp").c_str(), 0777), 0);
    std::string why;
    ASSERT_TRUE(platform::MakePrivateFolder(W(base), W(base + "/tmp/qm_main"), &why)) << why;
    EXPECT_EQ(Mode(base), 0755u);
    EXPECT_EQ(Mode(base + "/tmp"), 0700u);
    EXPECT_EQ(Mode(base + "/tmp/qm_main"), 0700u);
    // The base alone is only checked.
    ASSERT_TRUE(platform::MakePrivateFolder(W(base), W(base), &why)) << why;
    EXPECT_EQ(Mode(base), 0755u);
    // A missing base is made, private.
    ASSERT_TRUE(platform::MakePrivateFolder(W(dir_.File("new/state")), W(dir_.File("new/state/quenor/LOG")), &why));
    EXPECT_EQ(Mode(dir_.File("new/state")), 0700u);
    EXPECT_EQ(Mode(dir_.File("new/state/quenor/LOG")), 0700u);
}

TEST_F(PrivateFiles, AFolderLevelOfAnotherUserOrALinkIsRefusedByName) {
    const std::string base = dir_.File("app");
    ASSERT_EQ(mkdir(base.c_str(), 0755), 0);
    Plant(base + "/LOG", true);
    std::string why;
    EXPECT_FALSE(platform::MakePrivateFolder(W(base), W(base + "/LOG"), &why));
    EXPECT_NE(why.find(base + "/LOG belongs to user 65534"), std::string::npos) << why;
    EXPECT_EQ(Mode(base + "/LOG"), 0777u);

    ASSERT_EQ(mkdir(dir_.File("elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(symlink(dir_.File("elsewhere").c_str(), (base + "/Dump").c_str()), 0);
    EXPECT_FALSE(platform::MakePrivateFolder(W(base), W(base + "/Dump"), &why));
    EXPECT_NE(why.find("symbolic link"), std::string::npos) << why;
}

TEST_F(PrivateFiles, OwnershipIsCheckedAllTheWayDownWithoutChangingAnything) {
    const std::string tree = dir_.File("tmp");
    ASSERT_EQ(mkdir(tree.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((tree + "/qm_main").c_str(), 0755), 0);
    ASSERT_TRUE(qmtest::WriteFile(tree + "/qm_main/SessionCookies", "x"));
    std::string why;
    EXPECT_TRUE(platform::OwnedThroughout(W(tree), &why)) << why;
    EXPECT_TRUE(platform::OwnedThroughout(W(dir_.File("missing")), &why));
    Plant(tree + "/qm_main/Cookies");
    EXPECT_FALSE(platform::OwnedThroughout(W(tree), &why));
    EXPECT_NE(why.find(tree + "/qm_main/Cookies belongs to user 65534"), std::string::npos) << why;
    EXPECT_EQ(Mode(tree), 0755u);
}

TEST_F(PrivateFiles, AFolderIsClosedToOthersOnlyWhenTheUserAloneMayWriteIntoIt) {
    const std::string folder = dir_.File("app");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    std::string why;
    EXPECT_TRUE(platform::FolderClosedToOthers(W(folder), &why)) << why;
    for (mode_t open : {0775, 0757, 01777}) {
        ASSERT_EQ(chmod(folder.c_str(), open), 0);
        EXPECT_FALSE(platform::FolderClosedToOthers(W(folder), &why)) << std::oct << open;
        EXPECT_NE(why.find("may be written by other users"), std::string::npos) << why;
    }
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(chown(folder.c_str(), kOther, kOther), 0);
    EXPECT_FALSE(platform::FolderClosedToOthers(W(folder), &why));
    EXPECT_NE(why.find("belongs to user 65534"), std::string::npos) << why;
}

TEST_F(PrivateFiles, AnOwnPrivateFileIsReadOnlyWhenNobodyElseOwnsOrReachesIt) {
    const std::string key = dir_.File("key.pem");
    ASSERT_TRUE(qmtest::WriteFile(key, "KEY"));
    ASSERT_EQ(chmod(key.c_str(), 0600), 0);
    std::string out, why;
    EXPECT_EQ(platform::ReadOwnPrivateFile(W(key), out, 1024, &why), platform::ReadStatus::Ok) << why;
    EXPECT_EQ(out, "KEY");

    ASSERT_EQ(chmod(key.c_str(), 0640), 0);
    EXPECT_EQ(platform::ReadOwnPrivateFile(W(key), out, 1024, &why), platform::ReadStatus::NotOwn);
    EXPECT_NE(why.find("mode 0640"), std::string::npos) << why;
    EXPECT_TRUE(out.empty());
    ASSERT_EQ(chmod(key.c_str(), 0600), 0);
    ASSERT_EQ(chown(key.c_str(), kOther, kOther), 0);
    EXPECT_EQ(platform::ReadOwnPrivateFile(W(key), out, 1024, &why), platform::ReadStatus::NotOwn);
    EXPECT_NE(why.find("belongs to user 65534"), std::string::npos) << why;

    const std::string mine = dir_.File("mine.pem"), linkPath = dir_.File("link.pem");
    ASSERT_TRUE(qmtest::WriteFile(mine, "MINE"));
    ASSERT_EQ(chmod(mine.c_str(), 0600), 0);
    ASSERT_EQ(symlink(mine.c_str(), linkPath.c_str()), 0);
    EXPECT_NE(platform::ReadOwnPrivateFile(W(linkPath), out, 1024, &why), platform::ReadStatus::Ok);
    EXPECT_EQ(platform::ReadOwnPrivateFile(W(mine), out, 2, &why), platform::ReadStatus::TooLarge);

    // Read without waiting: a FIFO nobody writes to is no file.
    const std::string fifo = dir_.File("memo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(platform::ReadOwnPrivateFile(W(fifo), out, 1024, &why), platform::ReadStatus::NotAFile);
    EXPECT_FALSE(platform::ReadFileBytes(W(fifo), out));
}

}  // namespace
