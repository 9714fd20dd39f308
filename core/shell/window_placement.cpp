#include "core/shell/window_placement.h"

#include <algorithm>

#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/private_files.h"

namespace {

const wchar_t kSection[] = L"Window";
// Beyond any screen: a number outside is a damaged file, not a place.
constexpr long kLimit = 100000;

bool ParseNumber(const std::wstring& text, long* value) {
    if (text.empty() || text.size() > 7) return false;
    size_t i = text[0] == L'-' ? 1 : 0;
    if (i == text.size()) return false;
    long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9') return false;
        v = v * 10 + (text[i] - L'0');
    }
    *value = text[0] == L'-' ? -v : v;
    return *value > -kLimit && *value < kLimit;
}

}  // namespace

bool ParseWindowPlacement(const std::vector<std::wstring>& lines, WindowPlacement* placement) {
    long left = 0, top = 0, width = 0, height = 0, maximized = 0;
    bool hasLeft = false, hasTop = false, hasWidth = false, hasHeight = false;
    for (const std::wstring& line : lines) {
        size_t eq = line.find(L'=');
        if (eq == std::wstring::npos) continue;
        std::wstring key = line.substr(0, eq);
        std::wstring value = line.substr(eq + 1);
        long number = 0;
        if (!ParseNumber(value, &number)) continue;
        if (key == L"left") left = number, hasLeft = true;
        else if (key == L"top") top = number, hasTop = true;
        else if (key == L"width") width = number, hasWidth = true;
        else if (key == L"height") height = number, hasHeight = true;
        else if (key == L"maximized") maximized = number;
    }
    if (!hasWidth || !hasHeight || width <= 0 || height <= 0) return false;
    WindowPlacement result;
    result.hasPlace = hasLeft && hasTop;
    result.rect.left = result.hasPlace ? left : 0;
    result.rect.top = result.hasPlace ? top : 0;
    result.rect.right = result.rect.left + width;
    result.rect.bottom = result.rect.top + height;
    result.maximized = maximized == 1;
    *placement = result;
    return true;
}

std::vector<std::wstring> FormatWindowPlacement(const WindowPlacement& placement) {
    std::vector<std::wstring> lines;
    if (placement.hasPlace) {
        lines.push_back(L"left=" + std::to_wstring(placement.rect.left));
        lines.push_back(L"top=" + std::to_wstring(placement.rect.top));
    }
    lines.push_back(L"width=" + std::to_wstring(placement.rect.right - placement.rect.left));
    lines.push_back(L"height=" + std::to_wstring(placement.rect.bottom - placement.rect.top));
    lines.push_back(std::wstring(L"maximized=") + (placement.maximized ? L"1" : L"0"));
    return lines;
}

bool LoadWindowPlacement(const std::wstring& path, WindowPlacement* placement) {
    return ParseWindowPlacement(platform::ReadIniSection(path, kSection), placement);
}

bool SaveWindowPlacement(const std::wstring& path, const WindowPlacement& placement) {
    platform::CreateDirectories(platform::DirPart(path));
    return platform::WriteIniSection(path, kSection, FormatWindowPlacement(placement));
}

RECT FitToWorkArea(const RECT& rect, bool hasPlace, const RECT& work, int minWidth, int minHeight) {
    long workWidth = std::max<long>(work.right - work.left, 1);
    long workHeight = std::max<long>(work.bottom - work.top, 1);
    long width = std::min<long>(std::max<long>(rect.right - rect.left, minWidth), workWidth);
    long height = std::min<long>(std::max<long>(rect.bottom - rect.top, minHeight), workHeight);
    long x = hasPlace ? rect.left : work.left + (workWidth - width) / 2;
    long y = hasPlace ? rect.top : work.top + (workHeight - height) / 2;
    x = std::min(std::max<long>(x, work.left), work.left + workWidth - width);
    y = std::min(std::max<long>(y, work.top), work.top + workHeight - height);
    RECT fitted;
    fitted.left = static_cast<LONG>(x);
    fitted.top = static_cast<LONG>(y);
    fitted.right = static_cast<LONG>(x + width);
    fitted.bottom = static_cast<LONG>(y + height);
    return fitted;
}
