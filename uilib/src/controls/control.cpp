#include "attributes.h"
#include "uilib/window.h"

namespace UiLib {

using namespace detail;

CControlUI::CControlUI() = default;

CControlUI::~CControlUI() {
    if (manager_) manager_->ReapObjects(this);
}

void CControlUI::SetText(const wchar_t* text) {
    text_ = text;
    Invalidate();
}

void CControlUI::SetToolTip(const wchar_t* text) {
    toolTip_ = text;
    if (manager_) manager_->NeedUpdate();  // its accessible object is named anew
}

void CControlUI::SetPos(RECT rc) {
    if (rc == pos_) return;
    Invalidate();
    pos_ = rc;
    Invalidate();
}

void CControlUI::DoPaint(HDC hdc, const RECT& rcPaint) {
    (void)rcPaint;
    if (bkColor_ >> 24) CRenderEngine::DrawColor(hdc, pos_, bkColor_);
}

void CControlUI::DoEvent(TEventUI& event) { (void)event; }

void CControlUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (!name || !value) return;
    if (SameName(name, L"name")) {
        SetName(value);
    } else if (SameName(name, L"text")) {
        SetText(value);
    } else if (SameName(name, L"width")) {
        fixedWidth_ = ParseInt(value);
    } else if (SameName(name, L"height")) {
        fixedHeight_ = ParseInt(value);
    } else if (SameName(name, L"bkcolor")) {
        ParseColor(value, &bkColor_);
    } else if (SameName(name, L"textcolor")) {
        ParseColor(value, &textColor_);
    } else if (SameName(name, L"visible")) {
        SetVisible(ParseBool(value));
    } else if (SameName(name, L"padding")) {
        padding_ = ParseRect(value);
    } else if (SameName(name, L"tooltip")) {
        SetToolTip(value);
    }
    // Anything else means nothing to a plain control.
}

void CControlUI::Invalidate() {
    if (manager_ && !IsRectEmpty(pos_)) manager_->Invalidate(pos_);
}

void CControlUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
    manager_ = manager;
    parent_ = parent;
}

void CControlUI::SetVisible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    Invalidate();
    if (manager_) manager_->NeedUpdate();
}

CControlUI* CControlUI::FindControlAt(POINT pt) { return visible_ && PtInRect(pos_, pt) ? this : nullptr; }

CControlUI* CControlUI::FindControlByName(const wchar_t* name) {
    return name && name_ == name ? this : nullptr;
}

}  // namespace UiLib
