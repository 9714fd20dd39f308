// Music player detection with real processes: copies of a small program run
// under the players' executable names.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <memory>

#include <json/reader.h>

#include "core/services/nim/nim_business.h"
#include "core/services/player/media_players.h"
#include "core/services/player/player_scan.h"
#include "core/services/pool/thread_pool.h"
#include "platform/process.h"
#include "tests/services/services_test_support.h"
#include "tests/support/fake_web_wnd.h"

namespace {

constexpr int kBrowserId = 5;

bool AnyPlayerRuns() {
    for (const platform::ProcessEntry& p : platform::SnapshotProcesses()) {
        for (const MediaPlayerRow& row : MediaPlayerTable()) {
            if (platform::EqualsIgnoreCaseAscii(p.exeName, row.exeName)) return true;
        }
    }
    return false;
}

// A copy of the idle program under `name` in `dir`, started; the constructor
// returns once the process shows under that name.
class FakePlayer {
public:
    FakePlayer(const std::string& dir, const std::string& name, bool exitAtOnce = false) {
        std::filesystem::create_directories(dir);
        path_ = dir + "/" + name;
        std::filesystem::copy_file(QM_SERVICES_IDLE_CHILD, path_, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
        std::vector<std::string> argv = {path_};
        if (exitAtOnce) argv.push_back("exit");
        started_ = child_.Start(argv);
        std::wstring wide = platform::Utf8ToWide(name);
        visible_ = started_ && qmtest::WaitUntil(
                                   [&] {
                                       for (const auto& p : platform::SnapshotProcesses()) {
                                           if (static_cast<int>(p.pid) == child_.pid() && p.exeName == wide &&
                                               (!exitAtOnce || !p.imageReadable))
                                               return true;
                                       }
                                       return false;
                                   },
                                   std::chrono::seconds(20));
    }
    bool ready() const { return visible_; }
    int pid() const { return child_.pid(); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    qmtest::ChildProcess child_;
    bool started_ = false;
    bool visible_ = false;
};

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (AnyPlayerRuns()) GTEST_SKIP() << "a real music player runs on this machine";
        nim_.RegisterCommands(&window_);
    }
    void TearDown() override {
        // Answers come from the worker pool: none may arrive after the fixture is gone.
        EXPECT_TRUE(qmtest::WaitUntil([] { return PlayerScanIdle(); }, std::chrono::seconds(20)));
    }
    static bool PlayerScanIdle() {
        // A request of its own is answered only after every earlier one.
        auto done = std::make_shared<std::promise<void>>();
        auto answered = done->get_future();
        PlayerScan::Get()->Request([done](const Json::Value&) { done->set_value(); });
        return answered.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    }
    // Sends "_nim_enum_player" and waits for its one answer.
    void SendAndWait() {
        replies_.Clear();
        window_.Send("_nim_enum_player", "");
        EXPECT_TRUE(replies_.WaitFor("_nim_enum_player", 1, std::chrono::seconds(20)));
    }
    // The data member of the single "_nim_enum_player" reply.
    Json::Value Enumerate() {
        SendAndWait();
        auto replies = replies_.Replies();
        EXPECT_EQ(replies.size(), 1u);
        if (replies.empty()) return Json::Value("no reply");
        EXPECT_EQ(replies[0].browserId, kBrowserId);
        Json::Value v;
        Json::Reader reader;
        EXPECT_TRUE(reader.parse(platform::WideToUtf8(replies[0].text), v));
        EXPECT_EQ(v["result"]["cbfn"].asString(), "_nim_enum_player");
        return v["result"]["data"];
    }

    qmtest::LogCapture log_;
    qmtest::ReplyRecorder replies_;
    qmtest::FakeWebWnd window_{kBrowserId};
    NimBusiness nim_;  // the player command needs no voice module
    qmtest::TempDir dir_;
};

TEST_F(PlayerTest, NoneRunningGivesNullDataAndFourLogLines) {
    SendAndWait();
    auto replies = replies_.Replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].text, L"{\"result\":{\"cbfn\":\"_nim_enum_player\",\"data\":null}}\n");
    EXPECT_EQ(log_.Lines(), (std::vector<std::string>{
                                "NimBusiness Enum Player",
                                "NimBusiness >> Can't Find Process QQMusic.exe",
                                "NimBusiness >> Can't Find Process cloudmusic.exe",
                                "NimBusiness >> Can't Find Process NeteaseMusic.exe",
                                "NimBusiness >> Can't Find Process KuGou.exe",
                            }));
}

TEST_F(PlayerTest, NamesMatchWithoutRegardToCase) {
    FakePlayer qq(dir_.File("qq"), "QQMUSIC.EXE");
    FakePlayer kugou(dir_.File("kg"), "kugou.exe");
    ASSERT_TRUE(qq.ready() && kugou.ready());
    Json::Value data = Enumerate();
    ASSERT_TRUE(data.isObject());
    EXPECT_EQ(data.getMemberNames(), (std::vector<std::string>{"KuGou", "QQMusic"}));
    EXPECT_EQ(data["QQMusic"].asString(), qq.path());
    EXPECT_EQ(data["KuGou"].asString(), kugou.path());
    EXPECT_EQ(FindProcessImagePath(L"QQMusic.exe"), qq.path());
}

TEST_F(PlayerTest, FirstOfTwoSameNamedProcessesWins) {
    FakePlayer first(dir_.File("a"), "QQMusic.exe");
    ASSERT_TRUE(first.ready());
    FakePlayer second(dir_.File("b"), "QQMusic.exe");
    ASSERT_TRUE(second.ready());
    const FakePlayer& lower = first.pid() < second.pid() ? first : second;
    EXPECT_EQ(Enumerate()["QQMusic"].asString(), lower.path());
}

TEST_F(PlayerTest, NeteaseMusicTakesTheCloudMusicKeyFromCloudmusic) {
    FakePlayer cloud(dir_.File("c"), "cloudmusic.exe");
    ASSERT_TRUE(cloud.ready());
    EXPECT_EQ(Enumerate()["CloudMusic"].asString(), cloud.path());
    FakePlayer netease(dir_.File("n"), "NeteaseMusic.exe");
    ASSERT_TRUE(netease.ready());
    Json::Value data = Enumerate();
    EXPECT_EQ(data.getMemberNames(), (std::vector<std::string>{"CloudMusic"}));
    EXPECT_EQ(data["CloudMusic"].asString(), netease.path());
}

TEST_F(PlayerTest, PathsKeepCharactersTheAnsiCodePageLacks) {
    std::string dir = dir_.File("caf\xC3\xA9-\xE4\xB8\xAD");
    FakePlayer qq(dir, "QQMusic.exe");
    ASSERT_TRUE(qq.ready());
    EXPECT_EQ(Enumerate()["QQMusic"].asString(), qq.path());
    // The ANSI form of the lookup can only approximate it.
    EXPECT_EQ(FindProcessImagePath(L"QQMusic.exe"),
              platform::WideToAnsi(platform::Utf8ToWide(qq.path())));
}

TEST_F(PlayerTest, UnreadableProcessIsLeftOutWithOneLogLine) {
    // A program that has ended but was not yet collected has no image any more.
    FakePlayer gone(dir_.File("z"), "QQMusic.exe", /*exitAtOnce=*/true);
    ASSERT_TRUE(gone.ready());
    EXPECT_TRUE(Enumerate().isNull());
    EXPECT_EQ(log_.CountLine("NimBusiness >> Can't Open Process QQMusic.exe"), 1u);
    EXPECT_EQ(log_.CountLine("NimBusiness >> Can't Find Process QQMusic.exe"), 0u);
}

TEST_F(PlayerTest, NativeLinuxPlayersAreFoundByTheirNameWithoutExe) {
    FakePlayer qq(dir_.File("native"), "qqmusic");
    FakePlayer netease(dir_.File("native2"), "NeteaseMusic");
    ASSERT_TRUE(qq.ready() && netease.ready());
    Json::Value data = Enumerate();
    EXPECT_EQ(data["QQMusic"].asString(), qq.path());
    EXPECT_EQ(data["CloudMusic"].asString(), netease.path());
    // Only the whole name counts.
    FakePlayer other(dir_.File("other"), "kugou2");
    ASSERT_TRUE(other.ready());
    EXPECT_FALSE(Enumerate().isMember("KuGou"));
}

TEST_F(PlayerTest, ANativePlayerIsFoundByItsExecutableWhateverItsArgv0) {
    // Launchers often start a player under another argv[0]; the file it runs names it.
    std::filesystem::create_directories(dir_.File("exe"));
    std::string path = dir_.File("exe") + "/KuGou";
    std::filesystem::copy_file(QM_SERVICES_IDLE_CHILD, path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    qmtest::ChildProcess child;
    ASSERT_TRUE(child.Start({"/bin/bash", "-c", "exec -a player-main \"$0\"", path}));
    ASSERT_TRUE(qmtest::WaitUntil(
        [&] {
            for (const auto& p : platform::SnapshotProcesses())
                if (static_cast<int>(p.pid) == child.pid() && p.exeName == L"player-main") return true;
            return false;
        },
        std::chrono::seconds(20)));
    EXPECT_EQ(Enumerate()["KuGou"].asString(), path);
}

TEST_F(PlayerTest, APageAskingInALoopCostsFewScansAndEveryRequestIsAnswered) {
    FakePlayer qq(dir_.File("loop"), "QQMusic.exe");
    ASSERT_TRUE(qq.ready());
    replies_.Clear();
    const std::string kMiss = "NimBusiness >> Can't Find Process KuGou.exe";
    size_t scansBefore = log_.CountLine(kMiss), callsBefore = log_.CountLine("NimBusiness Enum Player");
    constexpr size_t kCalls = 200;
    auto begin = std::chrono::steady_clock::now();
    for (size_t i = 0; i < kCalls; ++i) window_.Send("_nim_enum_player", "");
    auto sent = std::chrono::steady_clock::now() - begin;
    ASSERT_TRUE(replies_.WaitFor("_nim_enum_player", kCalls, std::chrono::seconds(30)));
    for (const std::string& text : replies_.Texts("_nim_enum_player"))
        EXPECT_NE(text.find("\"QQMusic\":\""), std::string::npos) << text;
    // Every scan logs its three misses; the calls share a handful of scans
    // (one per 250 ms at most while they keep coming, plus the first).
    size_t scans = log_.CountLine(kMiss) - scansBefore;
    size_t bound = 2 + static_cast<size_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sent).count() / 250);
    EXPECT_GE(scans, 1u);
    EXPECT_LE(scans, bound);
    EXPECT_EQ(log_.CountLine("NimBusiness Enum Player") - callsBefore, kCalls);
}

// A scanner that is stopped: the client's exit, where what the answers go
// through is about to go. Nothing of it may run once Stop has returned.
TEST(PlayerScanStop, NoAnswerAndNoTaskOfTheScannerComesAfterStop) {
    auto scan = std::make_unique<PlayerScan>();
    std::atomic<int> answers{0};
    std::atomic<bool> stopped{false}, late{false};
    auto count = [&](const Json::Value&) {
        if (stopped.load()) late = true;
        ++answers;
    };
    // One scan ends; the next request waits out the spacing between scans,
    // which the stop cuts short. Then a scan is asked for and stopped at once,
    // under way or not yet started.
    auto first = std::make_shared<std::promise<void>>();
    ASSERT_TRUE(scan->Request([first](const Json::Value&) { first->set_value(); }));
    ASSERT_EQ(first->get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    ASSERT_TRUE(scan->Request(count));
    scan->Stop();
    stopped = true;
    EXPECT_FALSE(scan->Request(count));

    auto other = std::make_unique<PlayerScan>();
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(other->Request(count));
    stopped = false;
    other->Stop();
    stopped = true;
    int answered = answers.load();
    // Freed at once: a task of either that still ran would read freed memory.
    scan.reset();
    other.reset();
    CommonFunc::ThreadPool::Get()->GetPool().wait();
    EXPECT_FALSE(late.load());
    EXPECT_EQ(answers.load(), answered);
}

}  // namespace
