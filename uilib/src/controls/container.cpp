#include "attributes.h"
#include "uilib/window.h"

namespace UiLib {

using namespace detail;

namespace {
bool Intersects(const RECT& a, const RECT& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}
}  // namespace

CContainerUI::~CContainerUI() {
    // Children first, while this container is still whole.
    items_.clear();
}

bool CContainerUI::Add(CControlUI* control) {
    if (!control) return false;
    items_.emplace_back(control);
    control->SetManager(manager_, this);
    if (manager_) manager_->NeedUpdate();
    return true;
}

CControlUI* CContainerUI::GetItemAt(int index) const {
    if (index < 0 || index >= static_cast<int>(items_.size())) return nullptr;
    return items_[index].get();
}

RECT CContainerUI::ChildArea() const {
    RECT area = pos_;
    area.left += inset_.left;
    area.top += inset_.top;
    area.right -= inset_.right;
    area.bottom -= inset_.bottom;
    if (area.right < area.left) area.right = area.left;
    if (area.bottom < area.top) area.bottom = area.top;
    return area;
}

void CContainerUI::SetPos(RECT rc) {
    CControlUI::SetPos(rc);
    RECT area = ChildArea();
    for (auto& item : items_) {
        if (!item->IsVisible()) continue;
        const RECT& pad = item->GetPadding();
        RECT child;
        child.left = area.left + pad.left;
        child.top = area.top + pad.top;
        child.right = item->GetFixedWidth() > 0 ? child.left + item->GetFixedWidth() : area.right - pad.right;
        child.bottom = item->GetFixedHeight() > 0 ? child.top + item->GetFixedHeight() : area.bottom - pad.bottom;
        item->SetPos(child);
    }
}

void CContainerUI::DoPaint(HDC hdc, const RECT& rcPaint) {
    CControlUI::DoPaint(hdc, rcPaint);
    for (auto& item : items_) {
        if (item->IsVisible() && Intersects(item->GetPos(), rcPaint)) item->DoPaint(hdc, rcPaint);
    }
}

void CContainerUI::SetManager(CPaintManagerUI* manager, CControlUI* parent) {
    CControlUI::SetManager(manager, parent);
    for (auto& item : items_) item->SetManager(manager, this);
}

void CContainerUI::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (SameName(name, L"childpadding")) {
        childPadding_ = ParseInt(value);
    } else if (SameName(name, L"inset")) {
        inset_ = ParseRect(value);
    } else {
        CControlUI::SetAttribute(name, value);
    }
}

CControlUI* CContainerUI::FindControlAt(POINT pt) {
    if (!visible_ || !PtInRect(pos_, pt)) return nullptr;
    for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
        if (CControlUI* found = (*it)->FindControlAt(pt)) return found;
    }
    return this;
}

CControlUI* CContainerUI::FindControlByName(const wchar_t* name) {
    if (CControlUI* self = CControlUI::FindControlByName(name)) return self;
    for (auto& item : items_) {
        if (CControlUI* found = item->FindControlByName(name)) return found;
    }
    return nullptr;
}

}  // namespace UiLib
