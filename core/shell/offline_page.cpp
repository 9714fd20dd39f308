#include "core/shell/offline_page.h"

#include "kxcef/cef_browser.h"

namespace {

std::wstring Escape(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"': out += L"&quot;"; break;
        case L'\'': out += L"&#39;"; break;
        default:
            // Control characters have no business in these texts.
            if (c >= 0x20 || c == L'\n' || c == L'\t') out += c;
            break;
        }
    }
    return out;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

// Only web addresses become the button's link; anything else is tried again
// by the client itself.
bool Linkable(const std::wstring& address) {
    return StartsWith(address, L"http://") || StartsWith(address, L"https://");
}

const wchar_t kStyle[] =
    L"html,body{margin:0;height:100%;background:#1c2733;color:#e8eef4;"
    L"font-family:sans-serif;overflow:hidden;user-select:none}"
    L"#text{position:fixed;left:10%;right:10%;bottom:46%;text-align:center}"
    L"h1{font-size:26px;font-weight:normal;margin:0 0 14px}"
    L"p{font-size:15px;margin:6px 0;line-height:1.4}"
    L".small{font-size:12px;color:#9fb0c0;word-break:break-all}"
    L"#retry{position:fixed;left:50%;top:60%;width:200px;height:44px;margin-left:-100px;"
    L"display:block;box-sizing:border-box;border-radius:4px;background:#2e86de;color:#fff;"
    L"font-size:16px;line-height:44px;text-align:center;text-decoration:none}"
    L"#next{position:fixed;left:10%;right:10%;top:calc(60% + 60px);text-align:center;font-size:13px;color:#9fb0c0}";

// Counts the seconds down on the page; it only ever changes its own text.
const wchar_t kCountdown[] =
    L"<script>(function(){var n=document.getElementById('n');if(!n)return;var s=+n.textContent;"
    L"var t=setInterval(function(){s=Math.max(0,s-1);n.textContent=s;if(!s)clearInterval(t);},1000);})();</script>";

}  // namespace

std::wstring OfflineReason(int code) {
    if (code <= ERR_CERT_COMMON_NAME_INVALID && code >= ERR_CERT_END)
        return L"The service's certificate is not trusted, so no secure connection was made.";
    switch (code) {
    case ERR_SSL_PROTOCOL_ERROR:
        return L"No secure connection could be made to the service.";
    case ERR_NAME_NOT_RESOLVED:
    case ERR_NAME_RESOLUTION_FAILED:
        return L"The service's address could not be found (name lookup failed).";
    case ERR_CONNECTION_REFUSED:
        return L"The service refused the connection: it may be down or restarting.";
    case ERR_INTERNET_DISCONNECTED:
    case ERR_ADDRESS_UNREACHABLE:
    case ERR_NETWORK_CHANGED:
        return L"This computer is not connected to the network.";
    case ERR_TIMED_OUT:
    case ERR_CONNECTION_TIMED_OUT:
        return L"The service did not answer in time.";
    case ERR_WEB_PROCESS_ENDED:
        return L"The browser's page process ended before the page could be shown.";
    case ERR_CONNECTION_CLOSED:
    case ERR_CONNECTION_RESET:
    case ERR_CONNECTION_ABORTED:
    case ERR_EMPTY_RESPONSE:
        return L"The connection to the service broke off.";
    default:
        return L"The service could not be loaded.";
    }
}

std::wstring BuildOfflinePage(const OfflinePageFacts& facts) {
    std::wstring brand = Escape(facts.brand.empty() ? std::wstring(L"The client") : facts.brand);
    bool away = !facts.backAddress.empty();
    std::wstring heading = away ? L"This page cannot be shown" : brand + L" cannot reach its service";
    std::wstring reason = OfflineReason(facts.errorCode);
    if (away && facts.errorCode != ERR_WEB_PROCESS_ENDED) reason = L"The page could not be loaded.";
    std::wstring html = L"<!doctype html><html><head><meta charset=\"utf-8\"><title>" + brand +
                        L"</title><style>" + kStyle + L"</style></head><body><div id=\"text\"><h1>" + heading +
                        L"</h1><p id=\"reason\">" + Escape(reason) + L"</p>";
    if (!facts.engineText.empty()) html += L"<p class=\"small\" id=\"detail\">" + Escape(facts.engineText) + L"</p>";
    html += L"<p class=\"small\" id=\"address\">" + Escape(facts.address) + L"</p></div>";
    if (away) {
        if (Linkable(facts.backAddress))
            html += L"<a id=\"retry\" href=\"" + Escape(facts.backAddress) + L"\">Back to " + brand + L"</a>";
    } else if (Linkable(facts.address)) {
        html += L"<a id=\"retry\" href=\"" + Escape(facts.address) + L"\">Try again</a>";
    }
    if (facts.retrySeconds > 0) {
        html += L"<p id=\"next\">Trying again by itself in <span id=\"n\">" + std::to_wstring(facts.retrySeconds) +
                L"</span> s</p>" + kCountdown;
    }
    return html + L"</body></html>";
}
