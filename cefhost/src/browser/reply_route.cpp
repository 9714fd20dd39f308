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

namespace {
thread_local const CallScope* t_scope = nullptr;
}

CallScope::CallScope(int browserId, std::uint64_t document)
    : browserId_(browserId), document_(document), previous_(t_scope) {
    t_scope = this;
}

CallScope::~CallScope() { t_scope = previous_; }

std::uint64_t CallScope::CallingDocument(int browserId) {
    for (const CallScope* s = t_scope; s; s = s->previous_)
        if (s->browserId_ == browserId) return s->document_;
    return 0;
}

}  // namespace kxcef
