// Programs started from tests: what reaches the child's environment (a
// variable left over from the developer's session would lead a test's server
// to the desktop's), and what a failure message says about a child.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "tests/support/process.h"
#include "tests/support/session.h"

namespace {

using namespace std::chrono_literals;

std::string RunShell(const std::string& script, const std::map<std::string, std::string>& env) {
    std::string out;
    EXPECT_EQ(qmtest::RunProcess({"sh", "-c", script}, 20s, env, &out), 0) << script;
    return out;
}

TEST(ChildProcess, GetsTheTestsEnvironmentWithItsChangesAndFindsProgramsOnPath) {
    qmtest::ScopedEnv kept("QM_CHILD_KEPT", "kept");
    qmtest::ScopedEnv removed("QM_CHILD_REMOVED", "still here");
    qmtest::ScopedEnv display("DISPLAY", ":99");
    // "sh" is found on PATH; changes are set, an empty value removes.
    EXPECT_EQ(RunShell("echo \"$QM_CHILD_KEPT/$QM_CHILD_SET/${QM_CHILD_REMOVED-gone}\"",
                       {{"QM_CHILD_SET", "set"}, {"QM_CHILD_REMOVED", ""}}),
              "kept/set/gone\n");
    // A server's environment has no session variable left, but what it is given.
    EXPECT_EQ(RunShell("echo \"${DISPLAY-none} $PULSE_SERVER\"",
                       qmtest::ServerEnvironment({{"PULSE_SERVER", "unix:/nowhere"}})),
              "none unix:/nowhere\n");
}

TEST(ChildProcess, ACleanEnvironmentHasOnlyWhatItIsGiven) {
    qmtest::ScopedEnv inherited("QM_CHILD_INHERITED", "1");
    qmtest::TempDir dir;
    const qmtest::ExecPlan plan({"/bin/sh", "-c", "env > " + dir.File("env")}, {{"PATH", "/usr/bin:/bin"}, {"A", "b"}},
                                true);
    pid_t pid = fork();
    if (pid == 0) {
        plan.Exec();
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string env = qmtest::ReadFile(dir.File("env"));
    EXPECT_NE(env.find("A=b\n"), std::string::npos) << env;
    EXPECT_EQ(env.find("QM_CHILD_INHERITED"), std::string::npos) << env;
}

TEST(ChildProcess, DescribesTheProgramItRunsForAFailureMessage) {
    qmtest::ChildProcess child;
    ASSERT_TRUE(child.Start({"/bin/sleep", "30"}));
    // Right after its exec the program may still be running: it is seen asleep once it waits.
    EXPECT_TRUE(qmtest::WaitUntil(
        [&] {
            std::string d = child.Describe();
            return d.find("sleep") != std::string::npos && d.find("state S") != std::string::npos;
        },
        10s))
        << child.Describe();
    child.Kill();
    EXPECT_EQ(child.Describe(), "no process");
}

}  // namespace
