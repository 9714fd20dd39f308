#include "tests/faults/client_harness.h"

#include <signal.h>

#include <cstdio>

#include "platform/text.h"
#include "tests/support/proc.h"

using namespace std::chrono_literals;

namespace qmtest {

const char kRemotePage[] = R"(<!doctype html><html><head><title>remote</title></head><body>
<div style="height:60px;background:#345"></div><p id="state">remote</p>
<script>
(function () {
  function post(path, body) { var x = new XMLHttpRequest(); x.open('POST', path); x.send(body || ''); }
  window.JsHandleCallBack = function (text) { post('/reply', text); };
  // Counted after the load event: the web process sends the load's end to the
  // client before the event's timers run, so a test that kills the web
  // process right after a load meets a page the client knows is up.
  addEventListener('load', function () { setTimeout(function () { post('/loaded', location.href); }, 0); });
  function poll() {
    var x = new XMLHttpRequest();
    x.open('GET', '/next');
    x.onload = function () {
      var list = [];
      try { list = JSON.parse(x.responseText); } catch (e) {}
      list.forEach(function (c) { KXVantorAsyn.VantorCommunicateAsyn(c[0], c[1]); });
      setTimeout(poll, 0);
    };
    x.onerror = function () { setTimeout(poll, 200); };
    x.send();
  }
  poll();
})();
</script></body></html>)";

HttpResponse ScriptedPage(const std::string& body) {
    HttpResponse r;
    r.body = "<!doctype html><html><body style='margin:0'><script>function post(p,b,then){"
             "var x=new XMLHttpRequest();x.open('POST',p);if(then)x.onloadend=then;x.send(b||'');}</script>" +
             body + "</body></html>";
    return r;
}

long RssKb(int pid) { return qmtest::ReadProcKb(pid, "status", "VmRSS:"); }

std::string JsonText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof(buf), "\\u%04x", c);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

// --- RemotePage ------------------------------------------------------------------

RemotePage::RemotePage(qmtest::HttpServer& server) {
    server.RoutePage("/remote.html", kRemotePage);
    server.Route("/loaded", [this](const qmtest::HttpRequest&) {
        std::lock_guard<std::mutex> lock(lock_);
        ++loads_;
        changed_.notify_all();
        return qmtest::HttpResponse();
    });
    server.Route("/reply", [this](const qmtest::HttpRequest& request) {
        std::lock_guard<std::mutex> lock(lock_);
        replies_.push_back(request.body);
        changed_.notify_all();
        return qmtest::HttpResponse();
    });
    server.Route("/next", [this](const qmtest::HttpRequest&) {
        qmtest::HttpResponse r;
        r.contentType = "application/json";
        std::unique_lock<std::mutex> lock(lock_);
        // Long polling, bounded: an idle page asks again every two seconds.
        changed_.wait_for(lock, 2s, [this] { return closed_ || !queue_.empty(); });
        std::string body = "[";
        while (!closed_ && !queue_.empty()) {
            if (body.size() > 1) body += ',';
            body += "[\"" + JsonText(queue_.front().first) + "\",\"" + JsonText(queue_.front().second) + "\"]";
            queue_.pop_front();
        }
        r.body = body + "]";
        return r;
    });
}

RemotePage::~RemotePage() { Close(); }

void RemotePage::Queue(const std::string& command, const std::string& data) {
    std::lock_guard<std::mutex> lock(lock_);
    queue_.emplace_back(command, data);
    changed_.notify_all();
}

std::vector<std::string> RemotePage::Replies(const std::string& callback) const {
    std::lock_guard<std::mutex> lock(lock_);
    if (callback.empty()) return replies_;
    std::vector<std::string> out;
    for (const std::string& r : replies_)
        if (r.find("\"cbfn\":\"" + callback + "\"") != std::string::npos) out.push_back(r);
    return out;
}

bool RemotePage::WaitReplies(const std::string& callback, size_t count, std::chrono::milliseconds timeout) const {
    return qmtest::WaitUntil([&] { return Replies(callback).size() >= count; }, timeout);
}

size_t RemotePage::Loads() const {
    std::lock_guard<std::mutex> lock(lock_);
    return loads_;
}

bool RemotePage::WaitLoads(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, timeout, [&] { return loads_ >= count; });
}

void RemotePage::Close() {
    std::lock_guard<std::mutex> lock(lock_);
    closed_ = true;
    changed_.notify_all();
}

// --- ClientRun -------------------------------------------------------------------

ClientRun::ClientRun(const std::vector<std::string>& omit) : install_(omit) {
    page_ = std::make_unique<RemotePage>(web_);
    stats_.Fallback([](const qmtest::HttpRequest&) { return qmtest::HttpResponse(); });
    web_.Start();
    stats_.Start();
    env_ = install_.PrepareHome();
    install_.WriteDeploy(stats_.port());
}

ClientRun::~ClientRun() {
    client_.Kill();
    page_->Close();
    web_.Stop();
    stats_.Stop();
}

bool ClientRun::Start(const std::string& path, const std::vector<std::string>& extra) {
    return StartAt(web_.Url(path), extra);
}

bool ClientRun::StartAt(const std::string& url, const std::vector<std::string>& extra) {
    std::vector<std::string> argv = launchPrefix_;
    for (const std::string& arg : install_.ClientArgv(url, extra)) argv.push_back(arg);
    return client_.Start(argv, env_, install_.Path("client.out"));
}

bool ClientRun::StartAndLoad(std::chrono::milliseconds timeout) {
    size_t before = page_->Loads();
    if (Start() && page_->WaitLoads(before + 1, timeout)) return true;
    // The single-instance guard is machine-wide: say so when that is the reason.
    if (!client_.Running()) {
        int code = client_.Wait(std::chrono::milliseconds(0));
        std::fprintf(stderr, "qm_main ended with code %d before its page loaded%s\n", code,
                     code == 3 ? " (another instance of the client runs on this machine)" : "");
    } else {
        std::fprintf(stderr, "qm_main runs, but its page did not load (%s)\n", client_.Describe().c_str());
    }
    return false;
}

int ClientRun::Stop(std::chrono::milliseconds timeout) {
    client_.Signal(SIGTERM);
    int code = client_.Wait(timeout);
    if (code == -1) client_.Kill();
    return code;
}

std::string ClientRun::Output() const {
    std::string log = install_.Path("client.out");
    return qmtest::ReadFile(log) + qmtest::SanitizerReports(log);
}

bool ClientRun::LogsHave(const std::string& text, std::chrono::milliseconds timeout) const {
    return qmtest::WaitUntil([&] { return Logs().find(text) != std::string::npos; }, timeout);
}

bool ClientRun::OutputHas(const std::string& text, std::chrono::milliseconds timeout) const {
    return qmtest::WaitUntil([&] { return Output().find(text) != std::string::npos; }, timeout);
}

}  // namespace qmtest
