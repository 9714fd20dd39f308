// The page call that a thread is handling: what is answered inside it goes
// to the document that made the call (CCEF3Manager::CallingDocument). Part of
// the render side too, which handles no calls and always finds none.
#pragma once

#include <cstdint>

namespace kxcef {

// Marks the page call that the UI thread handles for the length of a scope.
class CallScope {
public:
    CallScope(int browserId, std::uint64_t document);
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

    // The calling document when this thread is handling a call of `browserId`, else 0.
    static std::uint64_t CallingDocument(int browserId);

private:
    int browserId_;
    std::uint64_t document_;
    const CallScope* previous_;
};

}  // namespace kxcef
