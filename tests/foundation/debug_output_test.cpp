// The debugger output channel on a standard error that nobody reads: a full
// pipe, a pipe whose reader is gone. Each case runs in a fresh copy of this
// program (standard error is looked at once per process).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/debug_output.h"
#include "tests/support/process.h"

using namespace std::chrono_literals;

namespace {

constexpr char kChildVariable[] = "QM_DEBUG_OUTPUT_CHILD";

// Runs DebugOutputChild.Writes in a new process whose standard error is `fd`;
// its exit code, or -1 when it did not end in time (it is killed then).
int RunWriter(int fd, int closeInChild) {
    const qmtest::ExecPlan plan({"/proc/self/exe", "--gtest_filter=DebugOutputChild.Writes"}, {{kChildVariable, "1"}});
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fd, STDERR_FILENO);
        if (closeInChild >= 0) close(closeInChild);
        plan.Exec();
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + 60s;
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(10ms);
    }
}

}  // namespace

TEST(DebugOutputChild, Writes) {
    if (!std::getenv(kChildVariable)) GTEST_SKIP() << "runs only as the writer of DebugOutput tests";
    for (int i = 0; i < 2000; ++i) platform::OutputDebugStringA("line " + std::to_string(i));
    platform::WriteStandardError(std::string(200000, 'x'));
}

TEST(DebugOutput, AFullPipeNobodyReadsDropsLinesInsteadOfBlocking) {
    int p[2];
    ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
    fcntl(p[1], F_SETFL, O_NONBLOCK);
    std::string block(65536, 'f');
    while (write(p[1], block.data(), block.size()) > 0) {
    }
    fcntl(p[1], F_SETFL, 0);  // handed over blocking, as a shell would
    EXPECT_EQ(RunWriter(p[1], p[0]), 0);
    // The shared description is still blocking: only the writer's own was not.
    EXPECT_EQ(fcntl(p[1], F_GETFL) & O_NONBLOCK, 0);
    close(p[0]);
    close(p[1]);
}

TEST(DebugOutput, APipeWhoseReaderIsGoneEndsNothing) {
    int p[2];
    ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
    close(p[0]);
    EXPECT_EQ(RunWriter(p[1], -1), 0) << "the writer was ended (SIGPIPE is 141)";
    close(p[1]);
}

TEST(DebugOutput, LinesReachAPipeThatIsRead) {
    int p[2];
    ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
    std::string got;
    std::thread reader([&] {
        char buf[65536];
        ssize_t n;
        while ((n = read(p[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
    });
    int code = RunWriter(p[1], p[0]);
    close(p[1]);
    reader.join();
    close(p[0]);
    EXPECT_EQ(code, 0);
    EXPECT_NE(got.find("line 0\n"), std::string::npos);
    EXPECT_NE(got.find("line 1999\n"), std::string::npos);
}
