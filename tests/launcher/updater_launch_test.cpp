// The updater launch and the program starter behind it, with the real
// qm_update stand-in: it appends one line per start to $QM_UPDATE_MARKER.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "common/log_record.h"
#include "launcher/process_helpers.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tests/support/logs.h"
#include "tests/support/process.h"
#include "tests/support/text.h"

using namespace std::chrono_literals;

namespace {

std::vector<std::string> g_opened;
bool RecordOpen(const std::string& uri) {
    g_opened.push_back(uri);
    return true;
}
bool RefuseOpen(const std::string& uri) {
    g_opened.push_back(uri);
    return false;
}

// A private desktop for the real opener: a handler for shell scripts and text
// that appends the address it gets to "opened.txt". GLib reads these folders
// once per process, so they are set before any test runs.
qmtest::TempDir* g_desktop = nullptr;

class PrivateDesktop : public ::testing::Environment {
public:
    void SetUp() override {
        g_desktop = new qmtest::TempDir();
        std::string data = g_desktop->File("data"), config = g_desktop->File("config");
        std::filesystem::create_directories(data + "/applications");
        std::filesystem::create_directories(config);
        std::string handler = g_desktop->File("handler.sh");
        qmtest::WriteFile(handler, "#!/bin/sh\necho \"$1\" >> " + g_desktop->File("opened.txt") + "\n");
        chmod(handler.c_str(), 0755);
        qmtest::WriteFile(data + "/applications/qmtest-open.desktop",
                          "[Desktop Entry]\nType=Application\nName=qmtest open\nExec=" + handler +
                              " %u\nMimeType=application/x-shellscript;text/plain;\n");
        qmtest::WriteFile(config + "/mimeapps.list",
                          "[Default Applications]\napplication/x-shellscript=qmtest-open.desktop\n"
                          "text/plain=qmtest-open.desktop\n");
        setenv("XDG_DATA_HOME", data.c_str(), 1);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        setenv("XDG_DATA_DIRS", "/usr/share", 1);  // the MIME database, no other handlers
        setenv("XDG_CONFIG_DIRS", config.c_str(), 1);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    void TearDown() override { delete g_desktop; }
};
const auto* const kDesktop = ::testing::AddGlobalTestEnvironment(new PrivateDesktop);

class UpdaterLaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        marker_ = dir_.File("marker.txt");
        setenv("QM_UPDATE_MARKER", marker_.c_str(), 1);
        previousOpener_ = platform::SetUriLauncher(RecordOpen);
        g_opened.clear();
    }
    void TearDown() override {
        platform::SetUriLauncher(previousOpener_);
        unsetenv("QM_UPDATE_MARKER");
    }

    // A copy of the updater in its own folder (as beside the launcher).
    std::string PlaceUpdater(const std::string& folder) {
        std::filesystem::create_directories(folder);
        std::string to = folder + "/qm_update";
        std::string from = qmtest::BinDir() + "/qm_update";
        if (link(from.c_str(), to.c_str()) != 0) {
            qmtest::WriteFile(to, qmtest::ReadFile(from));
            chmod(to.c_str(), 0755);
        }
        return to;
    }

    // Waits for the first line, then until no process of `program` runs any
    // more, so that a second start would have written its line too.
    std::vector<std::string> SettledMarker(const std::string& program) {
        EXPECT_TRUE(qmtest::WaitUntil([&] { return !qmtest::ReadFile(marker_).empty(); }, 30s));
        std::wstring image = platform::Utf8ToWide(program);
        EXPECT_TRUE(qmtest::WaitUntil(
            [&] {
                for (const auto& p : platform::SnapshotProcesses())
                    if (p.imagePath == image) return false;
                return true;
            },
            30s));
        return qmtest::Lines(qmtest::ReadFile(marker_));
    }

    qmtest::TempDir dir_;
    std::string marker_;
    platform::UriLauncher previousOpener_ = nullptr;
};

TEST_F(UpdaterLaunchTest, StartsTheUpdaterBesideTheLauncherOnceWithoutArguments) {
    std::string exeDir = dir_.File("client");
    std::string updater = PlaceUpdater(exeDir);
    LaunchUpdater(platform::Utf8ToWide(exeDir));
    std::vector<std::string> lines = SettledMarker(updater);
    ASSERT_EQ(lines.size(), 1u) << qmtest::ReadFile(marker_);
    // Quoted path and a blank: no argument at all, and the caller's working directory.
    EXPECT_NE(lines[0].find(" args=0"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(" cwd=" + std::filesystem::current_path().string() + " "), std::string::npos) << lines[0];
    EXPECT_TRUE(g_opened.empty());
}

TEST_F(UpdaterLaunchTest, MissingUpdaterIsSkippedSilently) {
    std::string exeDir = dir_.File("client");
    std::filesystem::create_directories(exeDir);
    LaunchUpdater(platform::Utf8ToWide(exeDir));
    EXPECT_TRUE(g_opened.empty()) << "nothing may be handed to the desktop";
    EXPECT_FALSE(qmtest::Exists(marker_));
}

TEST_F(UpdaterLaunchTest, LaunchProcessPassesParametersAndWorkingDirectory) {
    std::string updater = PlaceUpdater(dir_.File("client"));
    std::string work = dir_.File("work dir");
    std::filesystem::create_directories(work);
    EXPECT_TRUE(LaunchProcess(platform::Utf8ToWide(updater), L"one \"two three\"", platform::Utf8ToWide(work)));
    std::vector<std::string> lines = SettledMarker(updater);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" cwd=" + work + " args=2 [one] [two three]"), std::string::npos) << lines[0];
}

TEST_F(UpdaterLaunchTest, ProgramThatCannotBeStartedGoesToTheDesktopOpenerAsAFileAddress) {
    std::string document = dir_.File("notes.txt");
    ASSERT_TRUE(qmtest::WriteFile(document, "not a program"));
    EXPECT_TRUE(LaunchProcess(platform::Utf8ToWide(document), L"", L""));
    ASSERT_EQ(g_opened.size(), 1u);
    EXPECT_EQ(g_opened[0], "file://" + document);

    // The opener's answer is the result, and a failure is logged.
    qmtest::TempDir logDir;
    qmlog::ResetForTesting();
    qmlog::SetExecutablePathForTesting(platform::Utf8ToWide(logDir.File("qm_main")));
    platform::SetUriLauncher(RefuseOpen);
    EXPECT_FALSE(LaunchProcess(platform::Utf8ToWide(dir_.File("missing")), L"", L""));
    EXPECT_EQ(g_opened.size(), 2u);
    std::string log = qmtest::DailyLogs(logDir.path());
    EXPECT_NE(log.find("<Quenor> cannot start " + dir_.File("missing") + ": No such file or directory; the desktop's "
                       "handler could not open it either (refused)"),
              std::string::npos)
        << log;
    qmlog::ResetForTesting();
    qmlog::SetExecutablePathForTesting(L"");
}

// The real desktop opener (GIO), in a private desktop whose handler for the
// updater's file type records what it was given.
TEST_F(UpdaterLaunchTest, AnUpdaterThatCannotBeSpawnedIsOpenedByTheRealDesktopHandler) {
    platform::SetUriLauncher(nullptr);
    std::string opened = g_desktop->File("opened.txt");
    std::string exeDir = dir_.File("client");
    std::filesystem::create_directories(exeDir);
    // A script without execute permission: the spawn is refused (EACCES).
    std::string updater = exeDir + "/qm_update";
    ASSERT_TRUE(qmtest::WriteFile(updater, "#!/bin/sh\necho update\n"));
    chmod(updater.c_str(), 0644);
    unlink(opened.c_str());
    LaunchUpdater(platform::Utf8ToWide(exeDir));
    ASSERT_TRUE(qmtest::WaitUntil([&] { return !qmtest::ReadFile(opened).empty(); }, 30s))
        << "the desktop's handler was not started";
    // GIO hands a local file to the handler as its path.
    std::vector<std::string> lines = qmtest::Lines(qmtest::ReadFile(opened));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0] == updater || lines[0] == "file://" + updater) << lines[0];
}

TEST_F(UpdaterLaunchTest, FileVersionComesFromTheVersionNote) {
    EXPECT_EQ(GetFileVersionString(platform::Utf8ToWide(qmtest::BinDir() + "/qm_update")),
              platform::Utf8ToWide(QM_PROJECT_VERSION));
    std::string plain = dir_.File("plain.bin");
    ASSERT_TRUE(qmtest::WriteFile(plain, "\x7f" "ELF but nothing else"));
    EXPECT_EQ(GetFileVersionString(platform::Utf8ToWide(plain)), L"");
    EXPECT_EQ(GetFileVersionString(platform::Utf8ToWide(dir_.File("missing"))), L"");
}

}  // namespace
