// A host program run twice by the cookie tests, to see what survives a
// restart with the same profile directory (beside the executable):
//   kxtest_cookie_run set <url>      sets "kept" (expires in a day) and "session" (no expiry)
//   kxtest_cookie_run delete <url>   deletes "session"
//   kxtest_cookie_run get <url>      prints "COOKIE name=value" for each cookie of <url>,
//                                    then loads <url> in a browser
//   kxtest_cookie_run stall <url>    stops the engine while a GetCookie waits; prints "RETURNED"
// Exit code 0 when everything it was asked for happened.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <thread>

#include "kxcef/cef3_manager.h"
#include "kxcef/cookie_manager.h"
#include "platform/text.h"
#include "tests/cefhost/support/recorders.h"
#include "tests/support/main_loop.h"

using namespace std::chrono_literals;

namespace {

// Runs `fn` on a thread of its own while this (the UI) thread turns the loop.
bool OffUi(const std::function<void()>& fn) {
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        fn();
        finished = true;
    });
    bool ok = qmtest::PumpMainLoopUntil([&] { return finished.load(); }, std::chrono::seconds(30));
    if (!ok) {
        std::printf("a cookie call never returned\n");
        std::fflush(stdout);
        std::_Exit(3);
    }
    worker.join();
    return ok;
}

CefCookie Make(const wchar_t* name, const wchar_t* value, bool persistent) {
    CefCookie c;
    c.name = name;
    c.value = value;
    c.path = L"/";
    if (persistent) {
        c.has_expires = true;
        c.expires = static_cast<std::int64_t>(std::time(nullptr)) + 24 * 3600;
    }
    return c;
}

int Stall(const std::wstring& url) {
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        // Made here, its store is fetched by the loop, which never turns again.
        CCEF3CookieManager manager;
        platform::Event done;
        manager.GetCookie(url, false, &done);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    CCEF3Manager::CEFShutDown();
    for (int i = 0; i < 200 && !returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!returned) {
        std::printf("GetCookie still waits after the engine stopped\n");
        std::fflush(stdout);
        std::_Exit(4);
    }
    worker.join();
    std::printf("RETURNED\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::string mode = argv[1];
    std::wstring url = platform::Utf8ToWide(argv[2]);
    if (CCEF3Manager::CEFInit(nullptr) >= 0) return 5;
    if (mode == "stall") return Stall(url);

    int code = 0;
    {
        CCEF3CookieManager manager;
        if (mode == "set") {
            std::vector<CefCookie> cookies{Make(L"kept", L"disk", true), Make(L"session", L"memory", false)};
            OffUi([&] { manager.SetCookies(url, cookies, nullptr); });
        } else if (mode == "delete") {
            OffUi([&] { manager.DeleteCookies(url, L"session", nullptr); });
        } else if (mode == "get") {
            std::vector<CefCookie> got;
            OffUi([&] { got = manager.GetCookie(url, false, nullptr); });
            for (const CefCookie& c : got)
                std::printf("COOKIE %s=%s\n", platform::WideToUtf8(c.name).c_str(),
                            platform::WideToUtf8(c.value).c_str());
            RECT rect{0, 0, 320, 240};
            CefRefPtr<CCEF3Handler> h = CCEF3Manager::CreateBrowser(nullptr, rect, argv[2], false, false, 0);
            qmtest::BrowserRecorder recorder;
            recorder.Attach(h.get());
            if (!qmtest::PumpMainLoopUntil([&] { return recorder.SawLoadEnd() || recorder.Count(CEF3_EVENT_LOAD_ERROR) > 0; })) code = 6;
            if (h->GetBrowser()) h->GetBrowser()->GetHost()->CloseBrowser(true);
            qmtest::PumpMainLoopFor(100ms);
        } else {
            code = 2;
        }
    }
    std::fflush(stdout);
    CCEF3Manager::CEFShutDown();
    return code;
}
