// Page extensions: the library's own "KXWebApp" and the host program's
// registered ones. Their code declares native functions the engine-neutral
// way ("native function NAME();"); before it runs in a frame each such
// declaration becomes a binding to the extension's native handler.
#pragma once

#include <string>
#include <vector>

namespace kxcef {

extern const char kWebAppExtensionName[];  // "KXWebApp"
extern const char kWebAppExtensionCode[];  // its code, exactly as pages know it

struct RewrittenExtension {
    std::string code;                  // runnable code
    std::vector<std::string> natives;  // declared native function names, in order, once each
};

// Replaces every "native function NAME();" with "var NAME = HOLDER.NAME;",
// where HOLDER is a global the library defines (not writable, not configurable)
// before the code runs.
RewrittenExtension RewriteNativeDeclarations(const std::string& code, const std::string& holder);

}  // namespace kxcef
