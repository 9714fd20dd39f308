#include "bridge/call_scope.h"

#include "kxcef/cef3_manager.h"

namespace kxcef {
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

std::uint64_t CCEF3Manager::CallingDocument(int browserId) { return kxcef::CallScope::CallingDocument(browserId); }
