// Child processes for end-to-end tests: started with arguments and extra
// environment, waited for with a time limit, killed when the test ends.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qmtest {

// A program to start from a forked child, made ready before the fork. A test
// program has threads (its servers, the sanitizer's), and the child of fork()
// inherits every lock as it was at that moment: one that another thread held
// then (the allocator's, the environment's) stays held in the child for ever,
// and a setenv() or malloc() there hangs the child before its exec. After the
// fork only Exec() and async-signal-safe calls (dup2, close, chdir, setpgid,
// prctl) may follow.
class ExecPlan {
public:
    // `env`: changes to this process's environment (an empty value removes a
    // variable), applied to an empty one when `clean`. A program named
    // without a slash is looked for on the resulting PATH now.
    explicit ExecPlan(std::vector<std::string> argv, const std::map<std::string, std::string>& env = {},
                      bool clean = false);
    ExecPlan(const ExecPlan&) = delete;
    ExecPlan& operator=(const ExecPlan&) = delete;
    // In the child: execve(); returns only when that failed.
    void Exec() const;

private:
    std::string path_;
    std::vector<std::string> args_, vars_;
    std::vector<char*> argv_, envp_;
};

// In a forked child before Exec(): `fd` (made close-on-exec in the parent) stays open across the exec.
void KeepAcrossExec(int fd);

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // kills the process if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ChildProcess(ChildProcess&& other) noexcept;

    // argv[0] is the program path. Output goes to `logFile` when given; a
    // sanitizer's reports then go to files beside it (SanitizerReports), one
    // per process of the child's tree, whole even when the child's threads
    // write to the log at the same time, and are printed to the test's
    // standard error once the child has ended.
    bool Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
               const std::string& logFile = "", const std::string& workingDir = "");
    // Standard error of the next Start goes to `fd` (borrowed; after `logFile`).
    void SetStandardError(int fd) { stderrFd_ = fd; }
    // Exit code (128 + signal when killed), or -1 when the time ran out.
    int Wait(std::chrono::milliseconds timeout);
    bool Running();
    void Signal(int sig);
    void Kill();
    int pid() const { return pid_; }
    // For a failure message: the program the process runs now (the test's own
    // until its exec), its state and where in the kernel it waits.
    std::string Describe() const;

private:
    int pid_ = -1;
    int exitCode_ = -1;
    int stderrFd_ = -1;
    std::string logFile_;
};

// The sanitizer reports of the processes started with output to `logFile`
// (empty when there are none, or in a build without sanitizers).
std::string SanitizerReports(const std::string& logFile);

// Runs to completion; -1 on timeout (the process is killed then).
int RunProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
               const std::map<std::string, std::string>& env = {}, std::string* output = nullptr);

// A fresh directory under the build tree's temporary folder, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A copy of the client's bin/ folder (symlinks for the big files), so that a test
// can add, remove or corrupt files beside the executable without touching the build.
class ClientInstall {
public:
    explicit ClientInstall(const std::vector<std::string>& omit = {});
    const std::string& dir() const { return dir_.path(); }
    std::string Path(const std::string& name) const { return dir_.File(name); }

    // A private home in the copy (with the Desktop the shortcut goes to) and no
    // machine registry file: the environment to start the client with.
    std::map<std::string, std::string> PrepareHome() const;
    // "deploy.ini" with an unreachable default front-end and the statistics
    // endpoint on 127.0.0.1:`statsPort`, followed by `extraSections`.
    bool WriteDeploy(int statsPort, const std::string& extraSections = "") const;
    // qm_main on `url` (`*url:"..."`) followed by `extra` switches.
    std::vector<std::string> ClientArgv(const std::string& url, const std::vector<std::string>& extra = {}) const;

private:
    TempDir dir_;
};

std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
// For readers that cache a file by its stamp (inode, size, times): makes the
// file look `secondsAgo` old, then replaces its content keeping that time, in
// place (same inode) or through a new file renamed over it.
bool SetFileAge(const std::string& path, int secondsAgo);
bool ReplaceKeepingTime(const std::string& path, const std::string& bytes, bool inPlace);
// Names in a folder without "." and "..", sorted; empty when it cannot be read.
std::vector<std::string> ListDir(const std::string& path);
// Sets an environment variable for its lifetime; restores or removes it after.
class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_, previous_;
    bool hadPrevious_ = false;
};

// Reads one line from `fd` (a child's pipe), without its '\n', then closes
// `fd`; what came before the end when no line did.
std::string ReadLineAndClose(int fd);

// Polls `predicate` every 20 ms until it holds or the time runs out.
bool WaitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout);

// Folders of the build: bin/ (the deliverables) and the source tree.
std::string BinDir();
std::string SourceDir();
std::string TestDataDir();  // tests/data in the source tree

}  // namespace qmtest
