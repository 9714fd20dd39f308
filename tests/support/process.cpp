#include "tests/support/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace qmtest {

std::vector<std::string> ListDir(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

void RemoveTree(const std::string& path) {
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        for (const auto& n : ListDir(path)) RemoveTree(path + "/" + n);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

bool CopyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
    struct stat st{};
    if (stat(from.c_str(), &st) == 0) chmod(to.c_str(), st.st_mode & 07777);
    return static_cast<bool>(out);
}

// Hard links keep /proc/self/exe and module paths inside the copy; a file that
// a test changes must therefore be replaced (WriteFile does), never edited in place.
void LinkTree(const std::string& from, const std::string& to, const std::vector<std::string>& omit,
              const std::string& rel = "") {
    mkdir(to.c_str(), 0755);
    DIR* d = opendir(from.c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        std::string relName = rel.empty() ? n : rel + "/" + n;
        bool skip = false;
        for (const auto& o : omit) skip = skip || o == relName;
        if (skip) continue;
        std::string src = from + "/" + n, dst = to + "/" + n;
        struct stat st{};
        if (stat(src.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (n == "LOG" || n == "Dump" || n == "tmp") continue;  // state of other runs
            LinkTree(src, dst, omit, relName);
        } else if (link(src.c_str(), dst.c_str()) != 0) {
            CopyFile(src, dst);
        }
    }
    closedir(d);
}

}  // namespace

std::string BinDir() { return QM_TEST_BIN_DIR; }
std::string SourceDir() { return QM_TEST_SOURCE_DIR; }
std::string TestDataDir() { return std::string(QM_TEST_SOURCE_DIR) + "/tests/data"; }

ExecPlan::ExecPlan(std::vector<std::string> argv, const std::map<std::string, std::string>& env, bool clean)
    : args_(std::move(argv)) {
    std::map<std::string, std::string> vars;
    if (!clean) {
        for (char** e = environ; e && *e; ++e) {
            std::string entry(*e);
            size_t eq = entry.find('=');
            if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    for (const auto& kv : env) {
        if (kv.second.empty()) vars.erase(kv.first);
        else vars[kv.first] = kv.second;
    }
    for (const auto& kv : vars) vars_.push_back(kv.first + "=" + kv.second);
    path_ = args_.empty() ? "" : args_[0];
    if (!path_.empty() && path_.find('/') == std::string::npos) {
        auto found = vars.find("PATH");
        std::string dirs = found != vars.end() ? found->second : "/usr/bin:/bin";
        for (size_t from = 0; from <= dirs.size();) {
            size_t to = dirs.find(':', from);
            if (to == std::string::npos) to = dirs.size();
            std::string candidate = (to > from ? dirs.substr(from, to - from) : ".") + "/" + path_;
            if (access(candidate.c_str(), X_OK) == 0) {
                path_ = candidate;
                break;
            }
            from = to + 1;
        }
    }
    for (std::string& a : args_) argv_.push_back(a.data());
    argv_.push_back(nullptr);
    for (std::string& v : vars_) envp_.push_back(v.data());
    envp_.push_back(nullptr);
}

void ExecPlan::Exec() const {
    if (!path_.empty()) execve(path_.c_str(), argv_.data(), envp_.data());
}

void KeepAcrossExec(int fd) { fcntl(fd, F_SETFD, 0); }

ChildProcess::~ChildProcess() { Kill(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), exitCode_(other.exitCode_), stderrFd_(other.stderrFd_), logFile_(std::move(other.logFile_)) {
    other.pid_ = -1;
}

namespace {

const char kSanitizerSuffix[] = ".sanitizer";
const char* const kSanitizerOptions[] = {"ASAN_OPTIONS", "UBSAN_OPTIONS"};

// The sanitizers' options of this test with their reports sent beside
// `logFile`. Reports written to the child's standard error interleave with
// what its other threads and processes write there, and a report that
// another thread's exit cuts short cannot be told from the rest.
void AddSanitizerLogPath(std::map<std::string, std::string>& env, const std::string& logFile) {
    for (const char* name : kSanitizerOptions) {
        auto given = env.find(name);
        std::string value = given != env.end() ? given->second : (std::getenv(name) ? std::getenv(name) : "");
        if (value.empty() || value.find("log_path=") != std::string::npos) continue;
        env[name] = value + ":log_path=" + logFile + kSanitizerSuffix;
    }
}

}  // namespace

std::string SanitizerReports(const std::string& logFile) {
    size_t slash = logFile.rfind('/');
    std::string dir = slash == std::string::npos ? "." : logFile.substr(0, slash);
    std::string prefix = (slash == std::string::npos ? logFile : logFile.substr(slash + 1)) + kSanitizerSuffix;
    std::string reports;
    for (const std::string& name : ListDir(dir)) {
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        reports += "---- sanitizer report " + name + " ----\n" + ReadFile(dir + "/" + name);
    }
    return reports;
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                         const std::string& logFile, const std::string& workingDir) {
    std::map<std::string, std::string> childEnv = env;
    logFile_ = logFile;
    if (!logFile.empty()) AddSanitizerLogPath(childEnv, logFile);
    ExecPlan plan(argv, childEnv);
    int log = logFile.empty() ? -1 : open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    pid_ = fork();
    if (pid_ < 0) {
        if (log >= 0) close(log);
        return false;
    }
    if (pid_ == 0) {
        setpgid(0, 0);
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
        }
        if (stderrFd_ >= 0) dup2(stderrFd_, 2);
        if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) _exit(126);
        plan.Exec();
        _exit(127);
    }
    if (log >= 0) close(log);
    exitCode_ = -1;
    return true;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return exitCode_;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid_ = -1;
            if (!logFile_.empty()) {
                std::string reports = SanitizerReports(logFile_);
                if (!reports.empty())
                    std::fprintf(stderr, "the child writing to %s (ended with code %d) left sanitizer reports:\n%s\n",
                                 logFile_.c_str(), exitCode_, reports.c_str());
            }
            return exitCode_;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool ChildProcess::Running() { return pid_ > 0 && Wait(std::chrono::milliseconds(0)) == -1; }

std::string ChildProcess::Describe() const {
    if (pid_ <= 0) return "no process";
    std::string proc = "/proc/" + std::to_string(pid_);
    char exe[4096];
    ssize_t n = readlink((proc + "/exe").c_str(), exe, sizeof(exe) - 1);
    std::string program = n > 0 ? std::string(exe, static_cast<size_t>(n)) : "?";
    std::string stat = ReadFile(proc + "/stat");
    size_t close = stat.rfind(')');
    std::string state = close != std::string::npos && close + 2 < stat.size() ? stat.substr(close + 2, 1) : "?";
    return "process " + std::to_string(pid_) + " runs " + program + ", state " + state + ", waiting in " +
           ReadFile(proc + "/wchan");
}

void ChildProcess::Signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
}

void ChildProcess::Kill() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGKILL);  // the whole group: the client's engine processes too
    kill(pid_, SIGKILL);
    Wait(std::chrono::milliseconds(5000));
}

int RunProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
               const std::map<std::string, std::string>& env, std::string* output) {
    TempDir tmp;
    std::string log = tmp.File("out.txt");
    ChildProcess child;
    if (!child.Start(argv, env, log)) return -1;
    int code = child.Wait(timeout);
    if (code == -1) child.Kill();
    if (output) *output = ReadFile(log);
    return code;
}

TempDir::TempDir() {
    std::string base = QM_TEST_TMP_DIR;
    mkdir(base.c_str(), 0755);
    std::string templ = base + "/t.XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) path_ = buf.data();
}

TempDir::~TempDir() {
    if (!path_.empty() && !std::getenv("QM_KEEP_TEST_DIRS")) RemoveTree(path_);
}

ClientInstall::ClientInstall(const std::vector<std::string>& omit) { LinkTree(BinDir(), dir_.path(), omit); }

std::map<std::string, std::string> ClientInstall::PrepareHome() const {
    std::string home = Path("home");
    mkdir(home.c_str(), 0755);
    mkdir((home + "/Desktop").c_str(), 0755);
    return {{"HOME", home}, {"XDG_CONFIG_HOME", home + "/.config"}, {"QM_REGISTRY_FILE", home + "/none.reg"}};
}

bool ClientInstall::WriteDeploy(int statsPort, const std::string& extraSections) const {
    return WriteFile(Path("deploy.ini"), "[frontend]\ndefault=127.0.0.1:1\n[statistics]\nhost=127.0.0.1:" +
                                             std::to_string(statsPort) + "\n" + extraSections);
}

std::vector<std::string> ClientInstall::ClientArgv(const std::string& url, const std::vector<std::string>& extra) const {
    std::vector<std::string> argv{Path("qm_main"), "*url:\"" + url + "\""};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
}

ScopedEnv::ScopedEnv(const std::string& name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name.c_str())) previous_ = old, hadPrevious_ = true;
    setenv(name.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (hadPrevious_) setenv(name_.c_str(), previous_.c_str(), 1);
    else unsetenv(name_.c_str());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::string tmp = path + ".new";
    {
        std::ofstream out(tmp, std::ios::binary);
        out << bytes;
        if (!out) return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

bool SetFileAge(const std::string& path, int secondsAgo) {
    timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= secondsAgo;
    times[1] = times[0];
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool ReplaceKeepingTime(const std::string& path, const std::string& bytes, bool inPlace) {
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) return false;
    if (inPlace) {
        int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
        if (fd < 0) return false;
        bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        ok = close(fd) == 0 && ok;
        if (!ok) return false;
    } else if (!WriteFile(path, bytes)) {
        return false;
    }
    timespec times[2] = {st.st_atim, st.st_mtim};
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool Exists(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0;
}

std::string ReadLineAndClose(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') line += c;
    close(fd);
    return line;
}

bool WaitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace qmtest
