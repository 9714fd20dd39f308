#include "attributes.h"
#include "uilib/window.h"

namespace UiLib {

using namespace detail;

CButtonUI::CButtonUI() { centered_ = true; }

void CButtonUI::DoEvent(TEventUI& event) {
    switch (event.Type) {
    case UIEVENT_BUTTONDOWN:
        pressed_ = true;
        Invalidate();
        break;
    case UIEVENT_BUTTONUP: {
        bool click = pressed_ && PtInRect(pos_, event.ptMouse);
        pressed_ = false;
        Invalidate();
        // Last: the receiver may tear the window down.
        if (click && manager_) manager_->SendNotify(this, L"click");
        break;
    }
    case UIEVENT_MOUSEMOVE:
        if (!hot_) {
            hot_ = true;
            Invalidate();
        }
        break;
    case UIEVENT_MOUSELEAVE:
        if (hot_) {
            hot_ = false;
            Invalidate();
        }
        break;
    default:
        CLabelUI::DoEvent(event);
        break;
    }
}

void CButtonUI::DoPaint(HDC hdc, const RECT& rcPaint) {
    (void)rcPaint;
    DWORD color = hot_ && (hotBkColor_ >> 24) ? hotBkColor_ : bkColor_;
    if (color >> 24) CRenderEngine::DrawColor(hdc, pos_, color);
    if (pressed_) CRenderEngine::DrawColor(hdc, pos_, 0x30000000);
    if (!text_.IsEmpty()) CRenderEngine::DrawText(hdc, pos_, text_.GetData(), textColor_, fontSize_, centered_);
}

void CButtonUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (SameName(name, L"hotbkcolor")) {
        ParseColor(value, &hotBkColor_);
    } else {
        CLabelUI::SetAttribute(name, value);
    }
}

}  // namespace UiLib
