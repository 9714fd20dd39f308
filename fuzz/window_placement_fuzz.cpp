// The main window's kept size and place, read back from an arbitrary file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/shell/window_placement.h"
#include "platform/ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    WindowPlacement placement;
    if (!ParseWindowPlacement(platform::ParseIniSection(bytes, L"Window"), &placement)) return 0;
    // What is read is a real size, and it reads back the same.
    if (placement.rect.right <= placement.rect.left || placement.rect.bottom <= placement.rect.top) __builtin_trap();
    WindowPlacement again;
    if (!ParseWindowPlacement(FormatWindowPlacement(placement), &again) || !(again.rect == placement.rect) ||
        again.hasPlace != placement.hasPlace || again.maximized != placement.maximized)
        __builtin_trap();
    RECT work{0, 0, 1366, 768};
    RECT fitted = FitToWorkArea(placement.rect, placement.hasPlace, work, 800, 560);
    if (fitted.left < work.left || fitted.top < work.top || fitted.right > work.right || fitted.bottom > work.bottom)
        __builtin_trap();
    return 0;
}
