// The Debian package end to end: built by cpack from this build, checked by
// lintian, unpacked into a temporary root whose folder is made read-only, and
// run from there as an unprivileged user on a test page.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
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

TEST_F(Package, LintianReportsNoErrors) {
    int code = -1;
    std::string report = RunTool({"/usr/bin/lintian", "--fail-on", "error", "--no-tag-display-limit", deb_}, &code);
    EXPECT_EQ(code, 0) << report;
    std::istringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) EXPECT_NE(line.rfind("E: ", 0), 0u) << line;
}

TEST_F(Package, HoldsTheFolderTheCommandTheEntryTheIconAndTheDocuments) {
    std::string listing = RunTool({"/usr/bin/dpkg-deb", "--contents", deb_});
    const std::string opt = "./opt/" + kPackage + "/";
    for (const std::string& path :
         {opt + "qm_main", opt + "qm_core.so", opt + "libKXCEF2.so", opt + "libKXUiLib.so", opt + "qm_nim.so",
          opt + "qm_update", opt + "qm_version.so", opt + "webext/qm_main_render.so", opt + "deploy.ini",
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

}  // namespace
