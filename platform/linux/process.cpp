#include "platform/process.h"

#include <dirent.h>
#include <gio/gio.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <cstdlib>
#include <cstring>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <thread>

#include "platform/paths.h"
#include "platform/text.h"

extern char** environ;

namespace platform {
namespace {

thread_local std::string t_lastOpenError;

bool LaunchWithGio(const std::string& uri) {
    GError* error = nullptr;
    gboolean ok = g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error);
    if (error) {
        t_lastOpenError = error->message ? error->message : "unknown error";
        g_error_free(error);
    } else if (!ok) {
        t_lastOpenError = "unknown error";
    }
    return ok;
}

std::atomic<UriLauncher> g_uriLauncher{&LaunchWithGio};

bool IsWindowsPath(const std::string& s) {
    return s.size() >= 3 && std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':' &&
           (s[2] == '\\' || s[2] == '/');
}

bool ReadSmallFile(const std::string& path, std::string& out) {
    out.clear();
    FILE* f = std::fopen(path.c_str(), "rbe");
    if (!f) return false;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    std::fclose(f);
    return true;
}

// Reaps children we never wait for, so that spawned programs leave no zombies.
void ReapInBackground(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

}  // namespace

bool SpawnProcess(const std::wstring& path, const std::vector<std::wstring>& arguments,
                  const std::wstring& workingDir, std::string* error) {
    std::vector<std::string> args;
    args.push_back(NativePath(path));
    for (const auto& a : arguments) args.push_back(WideToUtf8(a));
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::string cwd = NativePath(workingDir);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    // Whatever a library opened without close-on-exec stays with us.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    // The engine and the UI library ignore SIGPIPE and our threads block
    // signals: none of that is the program's business.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0].c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0 || pid <= 0) {
        if (error) *error = std::strerror(rc != 0 ? rc : EINVAL);
        return false;
    }
    // glibc's posix_spawn reports a failed exec as its result.
    ReapInBackground(pid);
    return true;
}

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
    std::vector<std::wstring> out;
    std::wstring cur;
    bool inQuotes = false, have = false;
    for (wchar_t c : commandLine) {
        if (c == L'"') {
            inQuotes = !inQuotes;
            have = true;
        } else if ((c == L' ' || c == L'\t') && !inQuotes) {
            if (have) out.push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have) out.push_back(cur);
    return out;
}

bool OpenWithSystem(const std::string& uri) {
    t_lastOpenError.clear();
    bool ok = g_uriLauncher.load()(uri);
    if (!ok && t_lastOpenError.empty()) t_lastOpenError = "refused";
    return ok;
}

std::string LastOpenError() { return t_lastOpenError; }

void OpenWithSystemInBackground(const std::string& uri,
                                std::function<void(bool ok, const std::string& error)> done) {
    UriLauncher launcher = g_uriLauncher.load();
    if (launcher != &LaunchWithGio) {
        bool ok = OpenWithSystem(uri);
        if (done) done(ok, t_lastOpenError);
        return;
    }
    // Finding the handler reads the desktop's application folders and
    // starting it forks: both on GIO's worker thread, not the caller's.
    using Done = std::function<void(bool, const std::string&)>;
    g_app_info_launch_default_for_uri_async(
        uri.c_str(), nullptr, nullptr,
        [](GObject*, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Done> done(static_cast<Done*>(data));
            GError* error = nullptr;
            gboolean ok = g_app_info_launch_default_for_uri_finish(result, &error);
            std::string why = error && error->message ? error->message : (ok ? "" : "unknown error");
            if (error) g_error_free(error);
            if (*done) (*done)(ok, why);
        },
        new Done(std::move(done)));
}

std::string FileUri(const std::string& nativePath) {
    gchar* uri = g_filename_to_uri(nativePath.c_str(), nullptr, nullptr);
    std::string out = uri ? uri : "";
    g_free(uri);
    return out;
}

UriLauncher SetUriLauncher(UriLauncher launcher) {
    return g_uriLauncher.exchange(launcher ? launcher : &LaunchWithGio);
}

std::vector<std::string> CurrentProcessArguments() {
    std::vector<std::string> args;
    std::string raw;
    if (!ReadSmallFile("/proc/self/cmdline", raw)) return args;
    size_t start = 0;
    while (start < raw.size()) {
        size_t end = raw.find('\0', start);
        if (end == std::string::npos) end = raw.size();
        args.push_back(raw.substr(start, end - start));
        start = end + 1;
    }
    return args;
}

bool HasProcessTypeSwitch(const std::vector<std::string>& args) {
    for (size_t i = 1; i < args.size(); ++i)
        if (args[i].compare(0, 7, "--type=") == 0) return true;
    return false;
}

bool IsEngineHelperProcess() { return HasProcessTypeSwitch(CurrentProcessArguments()); }

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }
std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(syscall(SYS_gettid)); }

bool QueryProcessImage(std::uint32_t pid, std::wstring& path) {
    path.clear();
    std::string base = "/proc/" + std::to_string(pid);
    std::string cmdline;
    if (ReadSmallFile(base + "/cmdline", cmdline) && !cmdline.empty()) {
        std::string argv0 = cmdline.substr(0, cmdline.find('\0'));
        if (IsWindowsPath(argv0)) {
            path = Utf8ToWide(argv0);
            return !path.empty();
        }
    }
    char buf[PATH_MAX];
    ssize_t n = readlink((base + "/exe").c_str(), buf, sizeof(buf) - 1);
    if (n <= 0) return false;
    path = FromNativePath(std::string(buf, static_cast<size_t>(n)));
    return !path.empty();
}

std::vector<ProcessEntry> SnapshotProcesses() {
    std::vector<ProcessEntry> out;
    DIR* d = opendir("/proc");
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        char* end = nullptr;
        unsigned long pid = std::strtoul(e->d_name, &end, 10);
        if (!end || *end != '\0' || pid == 0) continue;
        ProcessEntry p;
        p.pid = static_cast<std::uint32_t>(pid);
        std::string base = std::string("/proc/") + e->d_name;
        std::string stat;
        if (!ReadSmallFile(base + "/stat", stat)) continue;  // gone
        // "pid (comm) state ppid ...": comm may hold blanks and parentheses.
        size_t open = stat.find('('), close = stat.rfind(')');
        std::string comm;
        if (open != std::string::npos && close != std::string::npos && close > open) {
            comm = stat.substr(open + 1, close - open - 1);
            char state = 0;
            unsigned long ppid = 0;
            if (std::sscanf(stat.c_str() + close + 1, " %c %lu", &state, &ppid) == 2)
                p.parentPid = static_cast<std::uint32_t>(ppid);
        }
        std::string cmdline, name;
        if (ReadSmallFile(base + "/cmdline", cmdline) && !cmdline.empty()) {
            std::string argv0 = cmdline.substr(0, cmdline.find('\0'));
            size_t sep = argv0.find_last_of("\\/");
            name = sep == std::string::npos ? argv0 : argv0.substr(sep + 1);
        }
        if (name.empty()) name = comm;
        p.exeName = Utf8ToWide(name);
        if (p.exeName.empty()) p.exeName = AnsiToWide(name);
        p.imageReadable = QueryProcessImage(p.pid, p.imagePath);
        out.push_back(std::move(p));
    }
    closedir(d);
    std::sort(out.begin(), out.end(), [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
    return out;
}

}  // namespace platform
