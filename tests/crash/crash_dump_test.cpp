// End-to-end: programs that install the crash-dump writer fail in every way it
// handles; each must leave exactly one well-formed dump with the right name,
// end with its signal, and lldb must show the failing function.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/crash/minidump_reader.h"
#include "tests/crash/dump_checks.h"
#include "tests/support/process.h"

namespace {

using qmtest::Minidump;

const std::string kTargetDir = QM_CRASH_TARGET_DIR;
constexpr auto kCrashTimeout = std::chrono::seconds(60);
constexpr std::uint32_t kElfBuildIdSignature = 0x4270454c;
constexpr std::uint32_t kLinuxCpuInfo = 0x47670003, kLinuxStatus = 0x47670004, kLinuxCmdLine = 0x47670006,
                        kLinuxEnviron = 0x47670007, kLinuxAuxv = 0x47670008, kLinuxMaps = 0x47670009;

// A program of tests/crash placed in `dir` (a hard link, so that the dump goes
// beside it), or an empty string.
std::string PlaceProgram(const std::string& program, const std::string& dir) {
    std::string from = kTargetDir + "/" + program;
    std::string to = dir + "/" + program;
    if (link(from.c_str(), to.c_str()) == 0) return to;
    if (!qmtest::WriteFile(to, qmtest::ReadFile(from)) || chmod(to.c_str(), 0755) != 0) return "";
    return to;
}

struct CrashRun {
    std::unique_ptr<qmtest::TempDir> dir;
    std::string exe;
    int exitCode = -1;
    std::string output;
    std::vector<long> tids;  // threads that reported before failing
    std::vector<std::uint64_t> functions;
    time_t before = 0, after = 0;

    std::string DumpDir() const { return dir->File("Dump"); }
    std::vector<std::string> Dumps() const { return qmtest::ListDir(DumpDir()); }
};

CrashRun RunCrash(const std::string& program, const std::vector<std::string>& args) {
    CrashRun run;
    run.dir = std::make_unique<qmtest::TempDir>();
    run.exe = PlaceProgram(program, run.dir->path());
    std::vector<std::string> argv{run.exe};
    argv.insert(argv.end(), args.begin(), args.end());
    run.before = time(nullptr);
    run.exitCode = qmtest::RunProcess(argv, kCrashTimeout, {}, &run.output);
    run.after = time(nullptr);
    std::istringstream lines(run.output);
    std::string line;
    while (std::getline(lines, line)) {
        long tid = 0;
        void* fn = nullptr;
        if (std::sscanf(line.c_str(), "tid=%ld fn=%p", &tid, &fn) == 2) {
            run.tids.push_back(tid);
            run.functions.push_back(reinterpret_cast<std::uint64_t>(fn));
        }
    }
    return run;
}

// The one dump a run left, checked against the name rule; empty when there is
// not exactly one or its name is wrong.
std::string SingleDump(const CrashRun& run, const std::string& namePrefix) {
    return qmtest::SingleDumpIn(run.DumpDir(), namePrefix, run.before, run.after);
}

// The run's one dump, read (see qmtest::LoadSingleDump).
bool LoadDump(const CrashRun& run, Minidump& dump, std::string* path = nullptr,
              const std::string& namePrefix = "crash_target_v2.3.4.5") {
    return qmtest::LoadSingleDump(run.DumpDir(), namePrefix, run.before, run.after, dump, path);
}

using qmtest::HaveLldb;
using qmtest::Lldb;

// The line of lldb's backtrace that shows frame `index`.
std::string FrameLine(const std::string& out, int index) {
    std::string tag = "frame #" + std::to_string(index) + ": ";
    size_t at = out.find(tag);
    if (at == std::string::npos) return "";
    return out.substr(at, out.find('\n', at) - at);
}

size_t CountOccurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size())) ++n;
    return n;
}

// ---------------------------------------------------------------------------
// One crash per fatal signal and place, each checked the same way.

struct SignalCase {
    const char* name;
    std::vector<std::string> args;
    int signo;
    const char* function;
    bool faultsInFunction;       // the exception's instruction lies in `function`
    std::int32_t siCode;         // expected si_code
    std::uint64_t faultAddress;  // expected si_addr (0: the instruction itself, checked separately)
};

std::string PluginPath() { return kTargetDir + "/crash_plugin.so"; }

std::vector<SignalCase> SignalCases() {
    return {
        {"SegvOnMainThread", {"segv-main"}, SIGSEGV, "QmCrashTestSegvMain", true, SEGV_MAPERR, 0x10},
        {"SegvOnWorkerThread", {"segv-worker"}, SIGSEGV, "QmCrashTestSegvWorker", true, SEGV_MAPERR, 0x10},
        {"SegvInLoadedLibrary", {"plugin", PluginPath()}, SIGSEGV, "QmCrashPluginFault", true, SEGV_MAPERR, 0x20},
        {"Abort", {"abort"}, SIGABRT, "QmCrashTestAbort", false, SI_TKILL, 0},
        {"IntegerDivisionByZero", {"fpe"}, SIGFPE, "QmCrashTestDivide", true, FPE_INTDIV, 0},
        {"IllegalInstruction", {"ill"}, SIGILL, "QmCrashTestIllegal", true, ILL_ILLOPN, 0},
        {"BusError", {"bus"}, SIGBUS, "QmCrashTestBusError", true, BUS_ADRERR, 0},
    };
}

class FatalSignalTest : public ::testing::TestWithParam<SignalCase> {
protected:
    // One run per case, shared by the checks below.
    static const CrashRun& Run(const SignalCase& c) {
        static std::map<std::string, CrashRun> runs;
        auto it = runs.find(c.name);
        if (it == runs.end()) it = runs.emplace(c.name, RunCrash("crash_target", c.args)).first;
        return it->second;
    }
};

TEST_P(FatalSignalTest, EndsWithTheSignalLeavingOneDumpNamedAfterTheProgram) {
    const CrashRun& run = Run(GetParam());
    EXPECT_EQ(run.exitCode, 128 + GetParam().signo) << run.output;
    ASSERT_EQ(run.tids.size(), 1u) << run.output;
    SingleDump(run, "crash_target_v2.3.4.5");
}

TEST_P(FatalSignalTest, DumpDescribesTheFaultAndTheProcess) {
    const SignalCase& c = GetParam();
    const CrashRun& run = Run(c);
    ASSERT_EQ(run.tids.size(), 1u) << run.output;
    std::string path;
    Minidump dump;
    ASSERT_TRUE(LoadDump(run, dump, &path));

    EXPECT_GE(dump.timeDateStamp, static_cast<std::uint32_t>(run.before));
    EXPECT_LE(dump.timeDateStamp, static_cast<std::uint32_t>(run.after));
    EXPECT_EQ(dump.architecture, 9);  // x86-64
    EXPECT_EQ(dump.platformId, 0x8201u);  // Linux
    EXPECT_GE(dump.processors, 1u);
    EXPECT_EQ(dump.osDescription.rfind("Linux ", 0), 0u) << dump.osDescription;

    // The exception: signal, code, address, thread and instruction.
    ASSERT_TRUE(dump.exception.has_value());
    const auto& x = *dump.exception;
    EXPECT_EQ(x.code, static_cast<std::uint32_t>(c.signo));
    EXPECT_EQ(x.flags, c.siCode);
    EXPECT_EQ(x.threadId, static_cast<std::uint32_t>(run.tids[0]));
    if (c.faultAddress) { EXPECT_EQ(x.address, c.faultAddress); }
    if (c.signo == SIGFPE || c.signo == SIGILL) { EXPECT_EQ(x.address, x.rip); }
    if (c.signo == SIGBUS) { EXPECT_NE(x.address, 0u); }
    if (c.signo == SIGABRT) { EXPECT_EQ(x.address, 0u); }
    if (c.faultsInFunction) {
        EXPECT_GE(x.rip, run.functions[0]);
        EXPECT_LT(x.rip, run.functions[0] + 512);
    }
    std::string code;
    EXPECT_TRUE(dump.ReadMemory(x.rip - 16, 32, code)) << "no memory around the failing instruction";

    // The failing thread comes first, with its stack from the stack pointer up.
    ASSERT_FALSE(dump.threads.empty());
    const qmtest::DumpThread& crashed = dump.threads[0];
    EXPECT_EQ(crashed.id, x.threadId);
    EXPECT_EQ(crashed.rip, x.rip);
    EXPECT_EQ(crashed.contextFlags & 0x0010000f, 0x0010000fu);
    EXPECT_LE(crashed.stackStart, crashed.rsp);
    EXPECT_GT(crashed.stackStart + crashed.stackSize, crashed.rsp);
    std::string top;
    EXPECT_TRUE(dump.ReadMemory(crashed.rsp, 8, top)) << "stack not in the memory list";
    EXPECT_NE(crashed.teb, 0u);
    EXPECT_NE(dump.Thread(dump.processId), nullptr) << "main thread missing";

    // Modules: the program with its build id and version; the failing code's module.
    const qmtest::DumpModule* exe = dump.ModuleNamed("crash_target");
    ASSERT_NE(exe, nullptr);
    EXPECT_EQ(exe->path, run.exe);
    EXPECT_EQ(exe->cvSignature, kElfBuildIdSignature);
    EXPECT_EQ(exe->buildId, qmtest::ElfBuildId(run.exe));
    EXPECT_FALSE(exe->buildId.empty());
    EXPECT_EQ(exe->fileVersion, "2.3.4.5");
    ASSERT_NE(dump.ModuleNamed("libc.so.6"), nullptr);
    if (c.faultsInFunction) {
        const qmtest::DumpModule* faulting = dump.ModuleAt(x.rip);
        ASSERT_NE(faulting, nullptr);
        bool inPlugin = c.args[0] == "plugin";
        EXPECT_EQ(faulting->path, inPlugin ? PluginPath() : run.exe);
        if (inPlugin) { EXPECT_EQ(faulting->buildId, qmtest::ElfBuildId(PluginPath())); }
    }

    // The Linux streams.
    EXPECT_NE(dump.streams[kLinuxMaps].find(run.exe), std::string::npos);
    EXPECT_NE(dump.streams[kLinuxStatus].find("Pid:\t" + std::to_string(dump.processId)), std::string::npos);
    EXPECT_NE(dump.streams[kLinuxCmdLine].find(c.args[0]), std::string::npos);
    EXPECT_FALSE(dump.streams[kLinuxCpuInfo].empty());
    EXPECT_FALSE(dump.streams[kLinuxEnviron].empty());
    EXPECT_FALSE(dump.streams[kLinuxAuxv].empty());
    EXPECT_EQ(dump.streams[kLinuxAuxv].size() % 16, 0u);
}

TEST_P(FatalSignalTest, LldbShowsTheFailingFunction) {
    if (!HaveLldb()) GTEST_SKIP() << "lldb is not installed (scripts/setup.sh installs it)";
    const SignalCase& c = GetParam();
    const CrashRun& run = Run(c);
    std::string path = SingleDump(run, "crash_target_v2.3.4.5");
    ASSERT_FALSE(path.empty());
    std::string out = Lldb(path, run.exe, {"thread backtrace"});
    EXPECT_NE(out.find("stop reason = signal SIG"), std::string::npos) << out;
    EXPECT_NE(out.find(c.function), std::string::npos) << out;
    if (c.faultsInFunction) {
        // The failing function is the innermost frame, and the caller is found.
        EXPECT_NE(FrameLine(out, 0).find(c.function), std::string::npos) << out;
        EXPECT_NE(FrameLine(out, 1), "") << out;
    }
}

INSTANTIATE_TEST_SUITE_P(Crash, FatalSignalTest, ::testing::ValuesIn(SignalCases()),
                         [](const ::testing::TestParamInfo<SignalCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------

TEST(CrashDumpTest, ProgramWithoutVersionNoteGetsAnEmptyVersion) {
    CrashRun run = RunCrash("crash_target_plain", {"segv-main"});
    EXPECT_EQ(run.exitCode, 128 + SIGSEGV);
    Minidump dump;
    ASSERT_TRUE(LoadDump(run, dump, nullptr, "crash_target_plain_v"));
    const qmtest::DumpModule* exe = dump.ModuleNamed("crash_target_plain");
    ASSERT_NE(exe, nullptr);
    EXPECT_EQ(exe->fileVersion, "");
}

TEST(CrashDumpTest, EveryThreadOfAThirtyThreadProcessIsDumped) {
    CrashRun run = RunCrash("crash_target", {"threads", "30"});
    EXPECT_EQ(run.exitCode, 128 + SIGSEGV) << run.output;
    std::string path;
    Minidump dump;
    ASSERT_TRUE(LoadDump(run, dump, &path));
    ASSERT_EQ(dump.threads.size(), 30u);
    std::set<std::uint32_t> ids;
    for (const auto& t : dump.threads) {
        ids.insert(t.id);
        EXPECT_EQ(t.contextFlags & 0x0010000f, 0x0010000fu) << t.id;
        EXPECT_GT(t.stackSize, 0u) << t.id;
        EXPECT_LE(t.stackStart, t.rsp) << t.id;
        EXPECT_GT(t.stackStart + t.stackSize, t.rsp) << t.id;
        EXPECT_NE(dump.ModuleAt(t.rip), nullptr) << "thread " << t.id << " stopped outside any module";
    }
    EXPECT_EQ(ids.size(), 30u);
    ASSERT_TRUE(dump.exception.has_value());
    EXPECT_EQ(dump.threads[0].id, dump.exception->threadId);

    if (!HaveLldb()) GTEST_SKIP() << "lldb is not installed";
    std::string out = Lldb(path, run.exe, {"thread list", "thread backtrace all"});
    EXPECT_EQ(CountOccurrences(out, ": tid = "), 30u) << out;  // one line per thread in "thread list"
    // The idle threads were stopped while waiting, several frames deep.
    EXPECT_GE(CountOccurrences(out, "Park("), 29u) << out;
}

TEST(CrashDumpTest, StackOverflowOnTheMainThreadIsDumped) {
    CrashRun run = RunCrash("crash_target", {"overflow-main"});
    EXPECT_EQ(run.exitCode, 128 + SIGSEGV);
    std::string path = SingleDump(run, "crash_target_v2.3.4.5");
    ASSERT_FALSE(path.empty());
    if (!HaveLldb()) GTEST_SKIP() << "lldb is not installed";
    std::string out = Lldb(path, run.exe, {"thread backtrace -c 3"});
    EXPECT_NE(FrameLine(out, 0).find("QmCrashTestRecurse"), std::string::npos) << out;
    EXPECT_NE(FrameLine(out, 1).find("QmCrashTestRecurse"), std::string::npos) << out;
}

// A thread started after the writer was installed has its own alternate stack.
TEST(CrashDumpTest, StackOverflowOnALaterThreadIsDumped) {
    CrashRun run = RunCrash("crash_target", {"overflow-worker"});
    EXPECT_EQ(run.exitCode, 128 + SIGSEGV);
    std::string path;
    Minidump dump;
    ASSERT_TRUE(LoadDump(run, dump, &path));
    ASSERT_TRUE(dump.exception.has_value());
    EXPECT_NE(dump.exception->threadId, dump.processId);
    if (!HaveLldb()) GTEST_SKIP() << "lldb is not installed";
    std::string out = Lldb(path, run.exe, {"thread backtrace -c 3"});
    EXPECT_NE(FrameLine(out, 1).find("QmCrashTestRecurse"), std::string::npos) << out;
}

TEST(CrashDumpTest, SignalSentByTheProcessItselfIsDumped) {
    CrashRun run = RunCrash("crash_target", {"raise-segv"});
    EXPECT_EQ(run.exitCode, 128 + SIGSEGV);
    Minidump dump;
    ASSERT_TRUE(LoadDump(run, dump));
    ASSERT_TRUE(dump.exception.has_value());
    EXPECT_EQ(dump.exception->code, static_cast<std::uint32_t>(SIGSEGV));
    EXPECT_EQ(dump.exception->flags, SI_TKILL);
    EXPECT_EQ(dump.exception->address, 0u);
}

TEST(CrashDumpTest, TwoThreadsFailingAtOnceLeaveOneDump) {
    CrashRun run = RunCrash("crash_target", {"two-threads"});
    EXPECT_EQ(run.exitCode, 128 + SIGSEGV) << run.output;
    Minidump dump;
    ASSERT_TRUE(LoadDump(run, dump));
    ASSERT_TRUE(dump.exception.has_value());
    std::set<std::uint32_t> reported;
    for (long tid : run.tids) reported.insert(static_cast<std::uint32_t>(tid));
    EXPECT_TRUE(reported.count(dump.exception->threadId));
    for (std::uint32_t tid : reported) EXPECT_NE(dump.Thread(tid), nullptr) << tid;
}

TEST(CrashDumpTest, TwoCrashesInTheSameSecondLeaveOneCompleteFile) {
    // Both programs fail 300 ms into the same wall-clock second; should they
    // land in different seconds after all, the pair is run again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        qmtest::TempDir dir;
        std::string exe = PlaceProgram("crash_target", dir.path());
        ASSERT_FALSE(exe.empty());
        auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
        std::string at = std::to_string((now / 1000 + 2) * 1000 + 300);
        qmtest::ChildProcess first, second;
        ASSERT_TRUE(first.Start({exe, "at", at, "threads", "8"}));
        ASSERT_TRUE(second.Start({exe, "at", at, "segv-main"}));
        EXPECT_EQ(first.Wait(kCrashTimeout), 128 + SIGSEGV);
        EXPECT_EQ(second.Wait(kCrashTimeout), 128 + SIGSEGV);

        std::vector<std::string> files = qmtest::ListDir(dir.File("Dump"));
        ASSERT_GE(files.size(), 1u);
        ASSERT_LE(files.size(), 2u) << ::testing::PrintToString(files);
        for (const auto& f : files) EXPECT_EQ(f.rfind("crash_target_v2.3.4.5_", 0), 0u) << f;
        if (files.size() == 2) continue;  // different seconds: no clash to look at
        Minidump dump;
        ASSERT_TRUE(qmtest::LoadDumpFile(dir.File("Dump/" + files[0]), dump));
        // One of the two, whole: 8 threads from the first or 1 from the second.
        EXPECT_TRUE(dump.threads.size() == 8 || dump.threads.size() == 1) << dump.threads.size();
        return;
    }
    GTEST_SKIP() << "the two crashes never fell into the same second";
}

// Where ptrace is refused (a strict Yama policy, a sandbox), the other threads
// cannot be stopped, but the failing thread is still dumped from the writer's
// own copy of the memory.
TEST(CrashDumpTest, WithoutPtraceRightsTheFailingThreadIsStillDumped) {
    CrashRun run = RunCrash("crash_target", {"no-ptrace", "threads", "5"});
    EXPECT_EQ(run.exitCode, 128 + SIGSEGV) << run.output;
    std::string path;
    Minidump dump;
    ASSERT_TRUE(LoadDump(run, dump, &path));
    ASSERT_EQ(dump.threads.size(), 1u);
    const qmtest::DumpThread& crashed = dump.threads[0];
    EXPECT_EQ(crashed.id, static_cast<std::uint32_t>(run.tids.at(0)));
    std::string top;
    EXPECT_TRUE(dump.ReadMemory(crashed.rsp, 64, top));
    EXPECT_NE(top, std::string(64, '\0')) << "the stack was not read";
    const qmtest::DumpModule* exe = dump.ModuleNamed("crash_target");
    ASSERT_NE(exe, nullptr);
    EXPECT_EQ(exe->buildId, qmtest::ElfBuildId(run.exe));
    if (!HaveLldb()) GTEST_SKIP() << "lldb is not installed";
    std::string out = Lldb(path, run.exe, {"thread backtrace"});
    EXPECT_NE(FrameLine(out, 0).find("QmCrashTestSegvMain"), std::string::npos) << out;
    EXPECT_NE(FrameLine(out, 1).find("main"), std::string::npos) << out;
}

// The writer is a child of the failing process; an application that ignores
// SIGCHLD (and so lets the kernel reap its children) must not lose the dump.
TEST(CrashDumpTest, ApplicationIgnoringChildSignalsStillGetsItsDump) {
    CrashRun run = RunCrash("crash_target", {"sigchld-ignored", "segv-main"});
    EXPECT_EQ(run.exitCode, 128 + SIGSEGV);
    EXPECT_FALSE(SingleDump(run, "crash_target_v2.3.4.5").empty());
}

TEST(CrashDumpTest, UnusableDumpDirectoryStillEndsTheProcessWithItsSignal) {
    qmtest::TempDir dir;
    std::string exe = PlaceProgram("crash_target", dir.path());
    ASSERT_TRUE(qmtest::WriteFile(dir.File("Dump"), "not a directory"));
    EXPECT_EQ(qmtest::RunProcess({exe, "segv-main"}, kCrashTimeout), 128 + SIGSEGV);
    EXPECT_EQ(qmtest::ReadFile(dir.File("Dump")), "not a directory");
    EXPECT_EQ(qmtest::ListDir(dir.path()), (std::vector<std::string>{"Dump", "crash_target"}));
}

TEST(CrashDumpTest, DumpOnRequestHasEveryThreadAndNoException) {
    qmtest::TempDir dir;
    std::string exe = PlaceProgram("crash_target", dir.path());
    std::string out;
    ASSERT_EQ(qmtest::RunProcess({exe, "dump-now", dir.File("now.dmp"), "12"}, kCrashTimeout, {}, &out), 0) << out;
    Minidump dump;
    ASSERT_TRUE(qmtest::LoadDumpFile(dir.File("now.dmp"), dump));
    EXPECT_FALSE(dump.exception.has_value());
    EXPECT_EQ(dump.threads.size(), 12u);
    EXPECT_EQ(qmtest::ListDir(dir.path()), (std::vector<std::string>{"crash_target", "now.dmp"}));
}

// A dump folder another user put beside the program (0777, theirs) would hand
// them the process's memory: the dumps go to the user's state folder instead.
TEST(CrashDumpTest, APlantedDumpFolderIsNotUsed) {
    if (geteuid() != 0) GTEST_SKIP() << "a second owner needs root";
    qmtest::TempDir dir, state;
    std::string exe = PlaceProgram("crash_target", dir.path());
    ASSERT_EQ(mkdir(dir.File("Dump").c_str(), 0777), 0);
    ASSERT_EQ(chmod(dir.File("Dump").c_str(), 0777), 0);
    ASSERT_EQ(chown(dir.File("Dump").c_str(), 65534, 65534), 0);
    time_t before = time(nullptr);
    EXPECT_EQ(qmtest::RunProcess({exe, "segv-main"}, kCrashTimeout, {{"XDG_STATE_HOME", state.path()}}),
              128 + SIGSEGV);
    EXPECT_TRUE(qmtest::ListDir(dir.File("Dump")).empty());
    std::string dumpDir = state.File("quenor/Dump");
    EXPECT_FALSE(qmtest::SingleDumpIn(dumpDir, "crash_target_v2.3.4.5", before, time(nullptr)).empty())
        << "no dump in " << dumpDir;
    struct stat st{};
    ASSERT_EQ(stat(dumpDir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

}  // namespace
