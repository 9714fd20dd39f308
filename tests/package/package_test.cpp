// The Debian package end to end: built by cpack from this build, checked by
// lintian, unpacked into a temporary root whose folder is made read-only and
// run from there as an unprivileged user on a test page; and installed,
// reinstalled and purged by the real dpkg in a private copy of the machine,
// where root runs it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>

#include "tests/support/http_server.h"
#include "tests/support/process.h"
#include "tests/support/x_probe.h"

using namespace std::chrono_literals;

namespace {

constexpr uid_t kNobody = 65534;
const std::string kPackage = QM_PACKAGE_NAME;

// A page that tells the server it loaded, with the bridge in it.
const char kPage[] = R"(<!doctype html><html><head><title>installed</title></head><body>
<script>
var x = new XMLHttpRequest(); x.open('POST', '/loaded');
x.send(typeof KXVantorAsyn === 'object' ? 'bridge' : 'no bridge');
</script></body></html>)";

// A folder under /tmp, which every user can reach (the build tree may not be).
class OpenTempDir {
public:
    OpenTempDir() {
        char name[] = "/tmp/qm-package.XXXXXX";
        if (mkdtemp(name)) path_ = name;
        chmod(path_.c_str(), 0755);
    }
    ~OpenTempDir() {
        if (path_.empty() || std::getenv("QM_KEEP_TEST_DIRS")) return;
        qmtest::RunProcess({"/bin/chmod", "-R", "u+w", path_}, 60s);
        qmtest::RunProcess({"/bin/rm", "-rf", path_}, 60s);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string RunTool(const std::vector<std::string>& argv, int* code = nullptr, std::chrono::seconds timeout = 300s) {
    std::string out;
    int result = qmtest::RunProcess(argv, timeout, {}, &out);
    if (code) *code = result;
    return out;
}

// Every path under `dir` with its size and change time: what a writer would alter.
std::string Snapshot(const std::string& dir) {
    return RunTool({"/usr/bin/find", dir, "-printf", "%p %s %C@ %m\n"});
}

bool ContainsFile(const std::string& dir, const std::string& prefix, const std::string& suffix) {
    for (const std::string& name : qmtest::ListDir(dir))
        if (name.rfind(prefix, 0) == 0 && name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    return false;
}

class Package : public ::testing::Test {
protected:
    // One package for every test: cpack takes a while.
    static void SetUpTestSuite() {
        out_ = new qmtest::TempDir();
        int code = -1;
        std::string log = RunTool({QM_CPACK_COMMAND, "-G", "DEB", "--config", QM_CPACK_CONFIG, "-B", out_->path()}, &code, 600s);
        ASSERT_EQ(code, 0) << log;
        for (const std::string& name : qmtest::ListDir(out_->path()))
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".deb") == 0) deb_ = out_->File(name);
        ASSERT_FALSE(deb_.empty()) << log;
    }
    static void TearDownTestSuite() { delete out_; }
    void SetUp() override {
        if (deb_.empty()) GTEST_SKIP() << "no package was built";
    }

    static qmtest::TempDir* out_;
    static std::string deb_;
};

qmtest::TempDir* Package::out_ = nullptr;
std::string Package::deb_;

// No errors; and every binary hardened as the release build promises (lintian
// names a binary without checked buffer functions, a read-only relocation
// table or immediate binding, in its informational tags).
TEST_F(Package, LintianReportsNoErrorsAndNoUnhardenedBinary) {
    int code = -1;
    std::string report =
        RunTool({"/usr/bin/lintian", "--fail-on", "error", "--display-info", "--no-tag-display-limit", deb_}, &code);
    EXPECT_EQ(code, 0) << report;
    std::istringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) {
        EXPECT_NE(line.rfind("E: ", 0), 0u) << line;
        EXPECT_EQ(line.find(" hardening-no-"), std::string::npos) << line;
    }
}

TEST_F(Package, HoldsTheFolderTheCommandTheEntryTheIconAndTheDocuments) {
    std::string listing = RunTool({"/usr/bin/dpkg-deb", "--contents", deb_});
    const std::string opt = "./opt/" + kPackage + "/";
    for (const std::string& path :
         {opt + "qm_main", opt + "qm_core.so", opt + "libKXCEF2.so", opt + "libKXUiLib.so", opt + "qm_nim.so",
          opt + "qm_update", opt + "qm_version.so", opt + "webext/qm_main_render.so",
          "./etc/" + kPackage + "/deploy.ini",
          opt + "Skin/Main/ClientMainWnd.xml", opt + "Skin/icons/108.png",
          "./usr/share/applications/" + kPackage + ".desktop",
          "./usr/share/icons/hicolor/48x48/apps/" + kPackage + ".png",
          "./usr/share/icons/hicolor/scalable/apps/" + kPackage + ".svg",
          "./usr/share/doc/" + kPackage + "/copyright", "./usr/share/doc/" + kPackage + "/README.md",
          "./usr/share/man/man1/" + kPackage + ".1.gz"}) {
        EXPECT_NE(listing.find(" " + path + "\n"), std::string::npos) << path << " missing in\n" << listing;
    }
    EXPECT_NE(listing.find("./usr/bin/" + kPackage + " -> /opt/" + kPackage + "/qm_main"), std::string::npos)
        << listing;
    // Dependencies computed from the binaries.
    std::string depends = RunTool({"/usr/bin/dpkg-deb", "--field", deb_, "Depends"});
    for (const char* library : {"libwebkit2gtk-4.1-0", "libgtk-3-0", "libcurl4", "libjsoncpp25", "libc6", "libpulse0"})
        EXPECT_NE(depends.find(library), std::string::npos) << library << " missing in " << depends;
}

TEST_F(Package, RunsFromAReadOnlyFolderAsAnUnprivilegedUserWritingOnlyToItsXdgFolders) {
    OpenTempDir root, home;
    ASSERT_FALSE(root.path().empty());
    ASSERT_FALSE(home.path().empty());
    int code = -1;
    std::string log = RunTool({"/usr/bin/dpkg-deb", "-x", deb_, root.path()}, &code);
    ASSERT_EQ(code, 0) << log;
    const std::string installed = root.path() + "/opt/" + kPackage;
    RunTool({"/bin/chmod", "-R", "a-w", installed});
    ASSERT_EQ(chown(home.path().c_str(), kNobody, kNobody), 0);
    const std::string runtime = home.path() + "/run";
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    ASSERT_EQ(chown(runtime.c_str(), kNobody, kNobody), 0);
    std::string before = Snapshot(installed);

    qmtest::HttpServer web;
    web.RoutePage("/page.html", kPage);
    web.Route("/loaded", [](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    ASSERT_TRUE(web.Start());
    std::map<std::string, std::string> env{{"HOME", home.path()},
                                           {"XDG_RUNTIME_DIR", runtime},
                                           {"XDG_STATE_HOME", ""},
                                           {"XDG_DATA_HOME", ""},
                                           {"XDG_CONFIG_HOME", ""},
                                           {"XDG_CACHE_HOME", ""},
                                           {"QM_REGISTRY_FILE", home.path() + "/none.reg"}};
    // What the command on the PATH links to once installed.
    const std::string command = installed + "/qm_main";
    auto asUser = [&](std::vector<std::string> args) {
        std::vector<std::string> argv{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--",
                                      command};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    };

    qmtest::ChildProcess client;
    std::string output = home.path() + "/client.out";
    ASSERT_TRUE(client.Start(asUser({"*url:\"" + web.Url("/page.html") + "\""}), env, output));
    ASSERT_TRUE(web.WaitForRequest("/loaded", 60s)) << qmtest::ReadFile(output);
    for (const std::string& body : web.BodiesOf("/loaded")) EXPECT_EQ(body, "bridge");
    ASSERT_TRUE(qmtest::WaitMainWindowShown(30000));

    // A second start hands its channel over through "out_start.ini" in the runtime folder.
    int second = qmtest::RunProcess(asUser({"*start_cid:ABC"}), 60s, env);
    EXPECT_EQ(second, 3);
    const std::string state = home.path() + "/.local/state/" + kPackage;
    EXPECT_TRUE(qmtest::Exists(runtime + "/" + kPackage + "/out_start.ini"));
    EXPECT_TRUE(ContainsFile(state + "/LOG", "qm_main_", "_log.txt")) << qmtest::ReadFile(output);
    EXPECT_TRUE(qmtest::Exists(home.path() + "/.local/share/" + kPackage + "/tmp/qm_main"));

    client.Signal(SIGTERM);
    EXPECT_EQ(client.Wait(30s), 0) << qmtest::ReadFile(output);
    EXPECT_EQ(Snapshot(installed), before) << "the client wrote into its installation folder";
}

// --- Installed by dpkg ------------------------------------------------------------------------

// The machine's own system seen through an overlay in a mount namespace of
// the test's: dpkg installs, reinstalls and purges the package there for
// real, root runs it from /opt, and every change lands in a tmpfs that goes
// with the namespace. The machine's disk and its dpkg database stay as they
// are, and tests running side by side cannot meet.
class PrivateSystem {
public:
    // `shared`: folders of the machine seen at the same path inside (the
    // package, the test's folders); /tmp (the display's socket) always is.
    explicit PrivateSystem(const std::vector<std::string>& shared) {
        std::string script =
            "set -e; d=\"$0\"; mount -t tmpfs -o mode=0755 qm-package-root \"$d\"; "
            "mkdir \"$d/upper\" \"$d/work\" \"$d/root\"; "
            "mount -t overlay overlay -o \"lowerdir=/,upperdir=$d/upper,workdir=$d/work\" \"$d/root\"; "
            "for m in /dev /proc /sys; do mount --rbind $m \"$d/root$m\"; done; "
            "for m in /tmp \"$@\"; do mount --bind \"$m\" \"$d/root$m\"; done; "
            "echo ready; exec sleep 86400";
        std::vector<std::string> argv{"/usr/bin/unshare", "--mount", "--propagation", "private", "--",
                                      "/bin/sh", "-c", script, dir_.File("mnt")};
        argv.insert(argv.end(), shared.begin(), shared.end());
        if (mkdir(dir_.File("mnt").c_str(), 0755) != 0) return;
        if (!holder_.Start(argv, {}, dir_.File("holder.out"))) return;
        ready_ = qmtest::WaitUntil(
            [&] { return qmtest::ReadFile(dir_.File("holder.out")).find("ready") != std::string::npos ||
                         !holder_.Running(); },
            60s) &&
                 holder_.Running();
    }
    bool ready() const { return ready_; }
    std::string SetupOutput() const { return qmtest::ReadFile(dir_.File("holder.out")); }

    // `argv` run as root inside, its root the private system's.
    std::vector<std::string> Inside(const std::vector<std::string>& argv) const {
        std::vector<std::string> out{"/usr/bin/nsenter", "--target", std::to_string(holder_.pid()), "--mount", "--",
                                     "/usr/sbin/chroot", dir_.File("mnt/root")};
        out.insert(out.end(), argv.begin(), argv.end());
        return out;
    }
    int Run(const std::vector<std::string>& argv, std::string* output = nullptr,
            const std::map<std::string, std::string>& env = {}) const {
        return qmtest::RunProcess(Inside(argv), 600s, env, output);
    }
    std::string Output(const std::vector<std::string>& argv) const {
        std::string out;
        Run(argv, &out);
        return out;
    }
    // A path inside, seen from the test.
    std::string Path(const std::string& inside) const {
        return "/proc/" + std::to_string(holder_.pid()) + "/root" + dir_.File("mnt/root") + inside;
    }
    bool Exists(const std::string& inside) const {
        struct stat st{};
        return lstat(Path(inside).c_str(), &st) == 0;
    }
    // Every path under the system's folders that the package or a client run
    // could touch, files with their size, change time and mode (a folder's
    // own times change with its entries, which show anyway).
    std::string Files() const {
        return Output({"/usr/bin/find", "/opt", "/etc", "/usr/bin", "/usr/share/applications", "/usr/share/doc",
                       "/usr/share/icons/hicolor", "/usr/share/man/man1", "-xdev", "(", "-type", "d", "-printf",
                       "%p/ %m\n", ")", "-o", "-printf", "%p %s %C@ %m\n"});
    }

private:
    qmtest::TempDir dir_;
    qmtest::ChildProcess holder_;
    bool ready_ = false;
};

class InstalledPackage : public Package {
protected:
    void SetUp() override {
        Package::SetUp();
        if (IsSkipped()) return;
        if (access("/usr/bin/nsenter", X_OK) != 0 || access("/usr/sbin/chroot", X_OK) != 0)
            GTEST_SKIP() << "no nsenter or chroot";
        // The package and the test's folders are all in the build's temporary folder.
        system_ = std::make_unique<PrivateSystem>(std::vector<std::string>{DirOf(home_.path())});
        if (!system_->ready()) GTEST_SKIP() << "no private system (mount namespaces, overlayfs): " << system_->SetupOutput();
        untouched_ = system_->Files();
    }
    static std::string DirOf(const std::string& path) { return path.substr(0, path.find_last_of('/')); }

    // dpkg on the package, as an administrator would run it.
    int Dpkg(const std::vector<std::string>& args, std::string* output) {
        std::vector<std::string> argv{"/usr/bin/dpkg", "--force-confold", "--no-triggers"};
        argv.insert(argv.end(), args.begin(), args.end());
        return system_->Run(argv, output, {{"DEBIAN_FRONTEND", "noninteractive"}});
    }
    void Install() {
        std::string log;
        ASSERT_EQ(Dpkg({"-i", deb_}, &log), 0) << log;
    }

    std::unique_ptr<PrivateSystem> system_;
    qmtest::TempDir home_;
    std::string untouched_;
};

TEST_F(InstalledPackage, TheAdministratorsDeployIniSurvivesAReinstallAndIsWhatTheClientReads) {
    Install();
    const std::string deploy = "/etc/" + kPackage + "/deploy.ini";
    std::string conffiles = system_->Output({"/usr/bin/dpkg-query", "--showformat=${Conffiles}", "--show", kPackage});
    EXPECT_NE(conffiles.find(deploy + " "), std::string::npos) << conffiles;

    qmtest::HttpServer web, stats;
    web.RoutePage("/page.html", kPage);
    web.Route("/loaded", [](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    stats.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    ASSERT_TRUE(web.Start());
    ASSERT_TRUE(stats.Start());
    const std::string edited = "[frontend]\ndefault=127.0.0.1:" + std::to_string(web.port()) +
                               "\n[statistics]\nhost=127.0.0.1:" + std::to_string(stats.port()) + "\n";
    ASSERT_TRUE(qmtest::WriteFile(system_->Path(deploy), edited));
    Install();  // again, as an upgrade to the same version does
    EXPECT_EQ(qmtest::ReadFile(system_->Path(deploy)), edited);

    // The installed client finds its statistics host there (a copy in /opt would not name it).
    std::string runtime = home_.File("run");
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    std::map<std::string, std::string> env{{"HOME", home_.path()}, {"XDG_RUNTIME_DIR", runtime},
                                           {"XDG_STATE_HOME", ""},   {"XDG_DATA_HOME", ""},
                                           {"XDG_CACHE_HOME", ""},   {"QM_REGISTRY_FILE", home_.File("none.reg")}};
    std::string before = system_->Files();
    qmtest::ChildProcess client;
    ASSERT_TRUE(client.Start(system_->Inside({"/usr/bin/" + kPackage, "*url:\"" + web.Url("/page.html") + "\""}), env,
                             home_.File("client.out")));
    EXPECT_TRUE(stats.WaitForRequest("/opt=put", 60s)) << qmtest::ReadFile(home_.File("client.out"));
    EXPECT_TRUE(web.WaitForRequest("/loaded", 60s)) << qmtest::ReadFile(home_.File("client.out"));
    client.Signal(SIGTERM);
    EXPECT_EQ(client.Wait(30s), 0) << qmtest::ReadFile(home_.File("client.out"));

    // Root, too, writes to its own folders, never into the shared installation.
    EXPECT_EQ(system_->Files(), before) << "a root run wrote into the system's folders";
    const std::string state = home_.File(".local/state/" + kPackage);
    EXPECT_TRUE(ContainsFile(state + "/LOG", "qm_main_", "_log.txt"));
    EXPECT_TRUE(qmtest::Exists(home_.File(".local/share/" + kPackage + "/tmp/qm_main")));
    EXPECT_TRUE(qmtest::Exists(home_.File(".cache/" + kPackage + "/qm_main")));
}

TEST_F(InstalledPackage, PurgeLeavesNothingOfThePackageAndNothingOfUsersIsTouched) {
    Install();
    // What a client run by root left in the folder before it wrote to its own.
    const std::string opt = "/opt/" + kPackage;
    for (const std::string& folder : {opt + "/LOG", opt + "/Dump", opt + "/tmp", opt + "/tmp/qm_main"})
        ASSERT_EQ(mkdir(system_->Path(folder).c_str(), 0700), 0) << folder;
    ASSERT_TRUE(qmtest::WriteFile(system_->Path(opt + "/tmp/qm_main/Cookies"), "jar"));
    ASSERT_TRUE(qmtest::WriteFile(system_->Path(opt + "/out_start.ini"), "[Start_Cid]\n"));
    // A user's own files, where the client keeps them.
    ASSERT_TRUE(qmtest::WriteFile(home_.File("kept"), "mine"));

    std::string log;
    ASSERT_EQ(Dpkg({"--remove", kPackage}, &log), 0) << log;
    EXPECT_TRUE(system_->Exists("/etc/" + kPackage + "/deploy.ini")) << "removing (not purging) keeps the configuration";
    ASSERT_EQ(Dpkg({"--purge", kPackage}, &log), 0) << log;
    EXPECT_FALSE(system_->Exists(opt));
    EXPECT_FALSE(system_->Exists("/etc/" + kPackage));
    EXPECT_EQ(system_->Files(), untouched_);
    EXPECT_EQ(qmtest::ReadFile(home_.File("kept")), "mine");
}

TEST_F(InstalledPackage, TheCommandsHelpStartsNothing) {
    Install();
    std::string out;
    std::map<std::string, std::string> env{{"HOME", home_.path()}, {"DISPLAY", ""}};
    EXPECT_EQ(system_->Run({"/usr/bin/" + kPackage, "--help"}, &out, env), 0) << out;
    EXPECT_EQ(out.rfind("Usage: " + kPackage + " ", 0), 0u) << out;
    EXPECT_NE(out.find("/etc/" + kPackage + "/deploy.ini"), std::string::npos) << out;
    EXPECT_EQ(qmtest::ListDir(home_.path()), std::vector<std::string>{}) << "--help wrote into the home folder";
}

}  // namespace
