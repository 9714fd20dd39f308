// The real client for fault and soak runs: a copy of bin/ with its own
// deployment file, the front-end and the statistics endpoint on loopback, and
// a page that the test drives from outside (it fetches page commands from its
// server, runs them, and posts every reply back).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/http_server.h"
#include "tests/support/logs.h"
#include "tests/support/proc.h"
#include "tests/support/process.h"

namespace qmtest {

// Resident set size of one process in KiB (0 when gone).
long RssKb(int pid);

// Text made safe inside a JSON string.
std::string JsonText(const std::string& text);

// "/remote.html" on a server: the page posts "/loaded" when it starts, fetches
// queued commands from "/next" (long polling), runs each through
// KXVantorAsyn.VantorCommunicateAsyn and posts each "JsHandleCallBack" text to
// "/reply".
class RemotePage {
public:
    explicit RemotePage(qmtest::HttpServer& server);
    ~RemotePage();
    RemotePage(const RemotePage&) = delete;
    RemotePage& operator=(const RemotePage&) = delete;

    void Queue(const std::string& command, const std::string& data = "");
    // Replies whose "cbfn" is `callback` (all replies when empty).
    std::vector<std::string> Replies(const std::string& callback = "") const;
    bool WaitReplies(const std::string& callback, size_t count, std::chrono::milliseconds timeout) const;
    size_t Loads() const;
    bool WaitLoads(size_t count, std::chrono::milliseconds timeout) const;
    // Stops handing out commands; a waiting poll returns at once.
    void Close();

private:
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::deque<std::pair<std::string, std::string>> queue_;
    std::vector<std::string> replies_;
    size_t loads_ = 0;
    bool closed_ = false;
};

extern const char kRemotePage[];

// A page of `body` after a script that defines post(path, body, then): a POST
// whose `then` runs once the request is over, so that a navigation that
// follows cannot cancel it. No margin: page and window coordinates agree.
HttpResponse ScriptedPage(const std::string& body);

class ClientRun {
public:
    // `omit`: files of bin/ left out of the copy.
    explicit ClientRun(const std::vector<std::string>& omit = {});
    ~ClientRun();
    ClientRun(const ClientRun&) = delete;
    ClientRun& operator=(const ClientRun&) = delete;

    std::string Path(const std::string& name) const { return install_.Path(name); }
    const std::string& dir() const { return install_.dir(); }
    qmtest::HttpServer& web() { return web_; }
    qmtest::HttpServer& stats() { return stats_; }
    RemotePage& page() { return *page_; }
    std::map<std::string, std::string>& env() { return env_; }
    qmtest::ChildProcess& process() { return client_; }

    // Rewrites "deploy.ini" with `extraSections` after the hosts (before Start).
    bool WriteDeploy(const std::string& extraSections) { return install_.WriteDeploy(stats_.port(), extraSections); }
    // Programs that start qm_main (a namespace of its own, another user), put
    // before it on the command line by the next Start.
    void SetLaunchPrefix(std::vector<std::string> prefix) { launchPrefix_ = std::move(prefix); }
    // Starts qm_main on `path` of the web server (`*url:"..."` plus `extra` switches).
    bool Start(const std::string& path = "/remote.html", const std::vector<std::string>& extra = {});
    // The same on any address.
    bool StartAt(const std::string& url, const std::vector<std::string>& extra = {});
    // Starts it and waits until the remote page has loaded once.
    bool StartAndLoad(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // SIGTERM and the exit code (-1 when it did not end in time; it is killed then).
    int Stop(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // What the client wrote, followed by its sanitizer reports.
    std::string Output() const;
    std::string Logs() const { return DailyLogs(install_.dir()); }
    bool LogsHave(const std::string& text, std::chrono::milliseconds timeout) const;
    bool OutputHas(const std::string& text, std::chrono::milliseconds timeout) const;

private:
    qmtest::ClientInstall install_;
    qmtest::HttpServer web_, stats_;
    std::unique_ptr<RemotePage> page_;
    qmtest::ChildProcess client_;
    std::map<std::string, std::string> env_;
    std::vector<std::string> launchPrefix_;
};

}  // namespace qmtest
