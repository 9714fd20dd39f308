// The voice client's identity key: kept by its user alone. A key file that
// another user owns, or that others may read, is never taken: whoever put it
// there (or read it) would hold the user's identity on the voice server.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "outside/qm_nim/net/client_identity.h"
#include "tests/support/process.h"

namespace qmnim::net {
namespace {

std::string HashIn(const std::string& folder) {
    std::string error;
    std::unique_ptr<ClientIdentity> identity = ClientIdentity::LoadOrCreate(folder, error);
    EXPECT_TRUE(identity) << error;
    return identity ? identity->Hash() : std::string();
}

unsigned Mode(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFFu;
}

TEST(ClientIdentity, IsMadeOnceAndKeptPrivate) {
    qmtest::TempDir dir;
    const std::string folder = dir.File("profile");
    std::string first = HashIn(folder);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(HashIn(folder), first);
    EXPECT_EQ(Mode(folder), 0700u);
    EXPECT_EQ(Mode(folder + "/" + ClientIdentity::kFileName), 0600u);
}

TEST(ClientIdentity, AKeyOthersMayReadIsReplacedNotUsed) {
    qmtest::TempDir dir;
    const std::string folder = dir.File("profile");
    const std::string file = folder + "/" + ClientIdentity::kFileName;
    std::string first = HashIn(folder);
    ASSERT_EQ(chmod(file.c_str(), 0644), 0);
    std::string second = HashIn(folder);
    EXPECT_NE(second, first);
    EXPECT_EQ(Mode(file), 0600u);
    EXPECT_EQ(HashIn(folder), second);
}

TEST(ClientIdentity, AnotherUsersKeyIsReplacedNotUsed) {
    if (geteuid() != 0) GTEST_SKIP() << "a second owner needs root";
    qmtest::TempDir dir, planterDir;
    const std::string folder = dir.File("profile");
    const std::string file = folder + "/" + ClientIdentity::kFileName;
    // The planter's key, valid and 0600, but theirs.
    std::string planted = HashIn(planterDir.File("p"));
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_TRUE(qmtest::WriteFile(file, qmtest::ReadFile(planterDir.File("p/") + ClientIdentity::kFileName)));
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    std::string own = HashIn(folder);
    EXPECT_NE(own, planted);
    struct stat st{};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, geteuid());
}

}  // namespace
}  // namespace qmnim::net
