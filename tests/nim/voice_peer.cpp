#include "tests/nim/voice_peer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/nim/voice_servers.h"
#include "tests/support/logs.h"
#include "tests/support/session.h"

namespace qmtest {

VoicePeer::VoicePeer(const std::string& name, const std::string& pulse, const std::string& deployIni)
    : name_(name), pulse_(pulse) {
    qmtest::WriteFile(dir_.File("deploy.ini"), deployIni);
    // A copy of the peer program per peer: each has its own profile folder
    // beside it, as each installation has.
    std::string exe = dir_.File("voice_peer");
    if (link(VOICE_PEER_EXE, exe.c_str()) != 0) qmtest::WriteFile(exe, qmtest::ReadFile(VOICE_PEER_EXE));
    chmod(exe.c_str(), 0755);
}

VoicePeer::~VoicePeer() { Stop(); }

bool VoicePeer::Start(const std::vector<std::string>& extra) {
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) return false;
    std::string exe = dir_.File("voice_peer");
    std::string module = qmtest::BinDir() + "/qm_nim.so";
    std::string err = dir_.File("stderr.txt");
    std::vector<std::string> argv = {exe, module};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const qmtest::ExecPlan plan(argv, qmtest::ServerEnvironment({{"PULSE_SERVER", pulse_},
                                                                 {"QM_DEPLOY_FILE", dir_.File("deploy.ini")},
                                                                 {"HOME", dir_.path()}}));
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        if (e >= 0) dup2(e, 2);
        plan.Exec();
        _exit(127);
    }
    if (e >= 0) close(e);
    close(toChild[0]);
    close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
    reader_ = std::thread([this] { ReadLoop(); });
    std::string ready;
    if (!Next("ready ", &ready, std::chrono::seconds(30))) return false;
    profile_ = ready;
    return true;
}

void VoicePeer::ReadLoop() {
    std::string pending;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::lock_guard<std::mutex> lock(lock_);
            lines_.push_back(pending.substr(0, nl));
            pending.erase(0, nl + 1);
            changed_.notify_all();
        }
    }
    std::lock_guard<std::mutex> lock(lock_);
    closed_ = true;
    changed_.notify_all();
}

bool VoicePeer::Next(const std::string& prefix, std::string* rest, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(lock_);
    auto take = [&] {
        taken_.resize(lines_.size(), false);
        for (size_t i = 0; i < lines_.size(); ++i) {
            if (taken_[i] || lines_[i].rfind(prefix, 0) != 0) continue;
            if (rest) *rest = lines_[i].substr(prefix.size());
            taken_[i] = true;
            return true;
        }
        return false;
    };
    bool found = false;
    changed_.wait_for(lock, timeout, [&] {
        found = take();
        return found || closed_;
    });
    return found;
}

void VoicePeer::Skip(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(lock_);
    taken_.resize(lines_.size(), false);
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].rfind(prefix, 0) == 0) taken_[i] = true;
}

bool VoicePeer::Do(const std::string& command, std::chrono::milliseconds timeout) {
    std::string line = command + "\n";
    if (write(in_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return false;
    std::string verb = command.substr(0, command.find(' '));
    return Next("done " + verb, nullptr, timeout);
}

bool VoicePeer::Login(const std::string& user, const std::string& pass) {
    std::string line = "login " + user + " " + pass + "\n";
    if (write(in_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return false;
    std::string result;
    return Next("done login ", &result, std::chrono::seconds(20)) && result == "1";
}

std::string VoicePeer::Join(const std::string& room, const std::string& extra) {
    if (!Do("join " + room + (extra.empty() ? "" : " " + extra))) return {};
    std::string json;
    return Next("event join ", &json, std::chrono::seconds(20)) ? json : std::string();
}

bool VoicePeer::Started(int type, std::chrono::milliseconds timeout) {
    std::string result;
    return Next("event start " + std::to_string(type) + " ", &result, timeout) && result == "1";
}

std::vector<std::string> VoicePeer::Lines() const {
    std::lock_guard<std::mutex> lock(lock_);
    return lines_;
}

size_t VoicePeer::CountLines(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(lock_);
    size_t n = 0;
    for (const std::string& l : lines_) n += l.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

std::string VoicePeer::Stderr() const { return qmtest::ReadFile(dir_.File("stderr.txt")); }

std::string VoicePeer::Log() const { return qmtest::DailyLogs(dir_.path()); }

void VoicePeer::Stop() {
    if (pid_ <= 0) return;
    std::string quit = "quit\n";
    (void)!write(in_, quit.data(), quit.size());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    close(in_);
    if (reader_.joinable()) reader_.join();
    close(out_);
}

std::string VoiceDeploy(const std::string& host, const std::string& fingerprint, const std::string& extra) {
    return "[voice]\nhost=" + host + "\nfingerprint=" + fingerprint + "\n" + extra;
}

Json::Value ParseJson(const std::string& text) {
    Json::Value v;
    Json::Reader().parse(text, v);
    return v;
}

std::unique_ptr<VoicePeer> PeerInRoom(const std::string& name, const std::string& pulse, const std::string& deploy,
                                      const std::string& room, const std::string& joinExtra,
                                      const std::vector<std::string>& args, Json::Value* joined) {
    auto p = std::make_unique<VoicePeer>(name, pulse, deploy);
    EXPECT_TRUE(p->Start(args)) << p->Stderr();
    EXPECT_TRUE(p->Login(name, MurmurServer::kServerPassword)) << p->Stderr();
    Json::Value reply = ParseJson(p->Join(room, joinExtra));
    EXPECT_EQ(reply["res"].asInt(), 200) << reply;
    if (joined) *joined = reply;
    EXPECT_TRUE(p->Do("mic - 0"));
    EXPECT_TRUE(p->Started(0));
    EXPECT_TRUE(p->Do("play -"));
    EXPECT_TRUE(p->Started(2));
    return p;
}

}  // namespace qmtest
