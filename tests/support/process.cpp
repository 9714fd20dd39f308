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
    std::vector<std::string> args = argv;
    std::vector<char*> cargv;
    for (auto& a : args) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        setpgid(0, 0);
        for (const auto& kv : childEnv) {
            if (kv.second.empty()) unsetenv(kv.first.c_str());
            else setenv(kv.first.c_str(), kv.second.c_str(), 1);
        }
        if (!logFile.empty()) {
            int fd = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
                close(fd);
            }
        }
        if (stderrFd_ >= 0) dup2(stderrFd_, 2);
        if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) _exit(126);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
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
