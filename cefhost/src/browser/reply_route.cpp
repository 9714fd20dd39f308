#include "browser/reply_route.h"

#include "engine/engine_state.h"

namespace kxcef {

void ReplyRoute::SetMainDocument(std::uint64_t token, std::string origin) {
    mainDocument_ = token;
    mainOrigin_ = std::move(origin);
}

void ReplyRoute::NoteCaller(std::uint64_t token, bool trusted) {
    if (trusted && token) trustedCaller_ = token;
}

std::uint64_t ReplyRoute::EventDocument() const {
    if (mainDocument_ && PageOriginTrusted(mainOrigin_)) return mainDocument_;
    return trustedCaller_;
}

bool PageOriginTrusted(const std::string& origin) {
    CefRefPtr<CCEF3APP> app = CurrentApp();
    CJSCallbackHandler* handler = app ? app->binding().jsHandler : nullptr;
    return !handler || handler->TrustsPageOrigin(origin);
}

}  // namespace kxcef
