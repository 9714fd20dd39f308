#include "attributes.h"
#include "uilib/window.h"

namespace UiLib {

using namespace detail;

void CLabelUI::DoPaint(HDC hdc, const RECT& rcPaint) {
    CControlUI::DoPaint(hdc, rcPaint);
    if (!text_.IsEmpty()) CRenderEngine::DrawText(hdc, pos_, text_.GetData(), textColor_, fontSize_, centered_);
}

void CLabelUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (SameName(name, L"fontsize") || SameName(name, L"font")) {
        int size = ParseInt(value, fontSize_);
        if (size > 0) fontSize_ = size;
    } else if (SameName(name, L"align")) {
        centered_ = SameName(value, L"center");
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

}  // namespace UiLib
