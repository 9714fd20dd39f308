// A skin file read into its description, from arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "skin_reader.h"

namespace {

int Depth(const UiLib::detail::SkinElement& element) {
    int deepest = 0;
    for (const auto& child : element.children) {
        int depth = Depth(child);
        if (depth > deepest) deepest = depth;
    }
    return deepest + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    UiLib::detail::SkinDescription skin;
    std::string error;
    if (!UiLib::detail::ReadSkin(bytes, &skin, &error)) {
        if (error.empty() || !skin.controls.empty()) __builtin_trap();
        return 0;
    }
    if (skin.controls.empty()) __builtin_trap();
    // The builder recurses over the description: its depth is bounded.
    for (const auto& control : skin.controls)
        if (Depth(control) > UiLib::detail::kSkinMaxDepth) __builtin_trap();
    const auto& window = skin.window;
    if (window.hasSize && (window.cx <= 0 || window.cy <= 0)) __builtin_trap();
    if (window.hasMinInfo && (window.minCx <= 0 || window.minCy <= 0)) __builtin_trap();
    return 0;
}
