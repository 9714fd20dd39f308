#include "tests/cefhost/support/recorders.h"

#include "platform/text.h"

namespace qmtest {

Value Value::From(const VARIANT& v) {
    Value out;
    out.vt = v.vt;
    switch (v.vt) {
        case VT_I4: out.i = v.lVal; break;
        case VT_R8: out.d = v.dblVal; break;
        case VT_BOOL: out.i = v.boolVal; break;
        case VT_BSTR: out.s = platform::VariantText(v); break;
        default: break;
    }
    return out;
}

std::string Value::Text() const { return platform::WideToUtf8(s); }

bool RecordingJsHandler::OnAsynJsEvent(int browserId, const std::string& name, std::vector<VARIANT>& args) {
    AsyncCall call;
    call.browserId = browserId;
    call.name = name;
    for (const VARIANT& v : args) call.args.push_back(Value::From(v));
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
    return true;
}

std::vector<AsyncCall> RecordingJsHandler::Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

void RecordingJsHandler::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

std::vector<AsyncCall> RecordingJsHandler::CallsFor(const std::string& request) const {
    std::vector<AsyncCall> out;
    for (const AsyncCall& c : Calls())
        if (c.args.size() > 2 && c.args[2].vt == VT_BSTR && c.args[2].Text() == request) out.push_back(c);
    return out;
}

std::vector<std::string> RecordingJsHandler::Reports(int browserId) const {
    std::vector<std::string> out;
    for (const AsyncCall& c : CallsFor("report"))
        if (c.browserId == browserId && c.args.size() > 3) out.push_back(c.args[3].Text());
    return out;
}

bool BrowserRecorder::OnBrowserEvent(int code, CefRefPtr<CefBrowser>, CefRefPtr<CefFrame> frame, int value) {
    events.push_back({code, value, frame && frame->IsMain()});
    return answer;
}

bool BrowserRecorder::OnEventDetail(CEF3EventDetail detail) {
    details.push_back(std::move(detail));
    return true;
}

bool BrowserRecorder::OnDisplay(std::string text, int kind) {
    displays.emplace_back(std::move(text), kind);
    return true;
}

bool BrowserRecorder::OnLoadState(bool, bool, bool) {
    ++loadStates;
    return true;
}

bool BrowserRecorder::OnNewBrowserLink(std::wstring url, std::wstring referrer, std::wstring frameUrl,
                                       std::wstring frameName, int kind, bool* cancel) {
    links.push_back({url, referrer, frameUrl, frameName, kind});
    if (kind == CEF3_LINK_POPUP && handlePopups) *cancel = true;
    if (kind == CEF3_LINK_NAVIGATION && cancelSubFrames && frameName == L"SubFrame") *cancel = true;
    if (kind == CEF3_LINK_NAVIGATION && cancelUrlsContaining && url.find(cancelPattern) != std::wstring::npos) *cancel = true;
    return true;
}

bool BrowserRecorder::OnDownloadTask(std::string url, std::string name, bool* handled) {
    downloads.push_back({std::move(url), std::move(name)});
    if (handleDownloads) *handled = true;
    return true;
}

void BrowserRecorder::Attach(CCEF3Handler* handler) {
    using D = CCEF3BrowserDelegate<BrowserRecorder>;
    handler->SetBrowserEventCallBack(D(this, &BrowserRecorder::OnBrowserEvent));
    handler->SetBrowserEventDetailCallBack(D(this, &BrowserRecorder::OnEventDetail));
    handler->SetBrowserDisplayCallBack(D(this, &BrowserRecorder::OnDisplay));
    handler->SetStateLoadChangeCallBack(D(this, &BrowserRecorder::OnLoadState));
    handler->SetNewBrowserLinkCallBack(D(this, &BrowserRecorder::OnNewBrowserLink));
    handler->SetDownloadTaskCallBack(D(this, &BrowserRecorder::OnDownloadTask));
}

int BrowserRecorder::Count(int code) const {
    int n = 0;
    for (const Event& e : events)
        if (e.code == code) ++n;
    return n;
}

}  // namespace qmtest
