// Linear layouts: fixed sizes first, the rest of the space shared evenly by
// the children without a fixed size (the last of them takes the remainder).
#include <algorithm>

#include "uilib/window.h"

namespace UiLib {

namespace {

struct Axis {
    bool vertical;
    LONG Start(const RECT& r) const { return vertical ? r.top : r.left; }
    LONG End(const RECT& r) const { return vertical ? r.bottom : r.right; }
    int Fixed(const CControlUI& c) const { return vertical ? c.GetFixedHeight() : c.GetFixedWidth(); }
    int CrossFixed(const CControlUI& c) const { return vertical ? c.GetFixedWidth() : c.GetFixedHeight(); }
    LONG PadBefore(const CControlUI& c) const { return vertical ? c.GetPadding().top : c.GetPadding().left; }
    LONG PadAfter(const CControlUI& c) const { return vertical ? c.GetPadding().bottom : c.GetPadding().right; }
};

void LayOut(const Axis& axis, const RECT& area, int childPadding,
            const std::vector<std::unique_ptr<CControlUI>>& items) {
    std::vector<CControlUI*> visible;
    for (auto& item : items) {
        if (item->IsVisible()) visible.push_back(item.get());
    }
    if (visible.empty()) return;
    long available = axis.End(area) - axis.Start(area);
    long used = childPadding * static_cast<long>(visible.size() - 1);
    int flexible = 0;
    for (CControlUI* c : visible) {
        used += axis.PadBefore(*c) + axis.PadAfter(*c);
        if (axis.Fixed(*c) > 0) used += axis.Fixed(*c);
        else ++flexible;
    }
    long remaining = std::max(available - used, 0L);
    long share = flexible > 0 ? remaining / flexible : 0;
    int flexibleSeen = 0;
    long cursor = axis.Start(area);
    for (CControlUI* c : visible) {
        long length = axis.Fixed(*c);
        if (length <= 0) {
            ++flexibleSeen;
            length = flexibleSeen == flexible ? remaining - share * (flexible - 1) : share;
        }
        cursor += axis.PadBefore(*c);
        const RECT& pad = c->GetPadding();
        RECT rc;
        if (axis.vertical) {
            rc.left = area.left + pad.left;
            rc.right = axis.CrossFixed(*c) > 0 ? rc.left + axis.CrossFixed(*c) : area.right - pad.right;
            rc.top = cursor;
            rc.bottom = cursor + length;
        } else {
            rc.top = area.top + pad.top;
            rc.bottom = axis.CrossFixed(*c) > 0 ? rc.top + axis.CrossFixed(*c) : area.bottom - pad.bottom;
            rc.left = cursor;
            rc.right = cursor + length;
        }
        c->SetPos(rc);
        cursor += length + axis.PadAfter(*c) + childPadding;
    }
}

}  // namespace

void CVerticalLayoutUI::SetPos(RECT rc) {
    CControlUI::SetPos(rc);
    LayOut(Axis{true}, ChildArea(), childPadding_, items_);
}

void CHorizontalLayoutUI::SetPos(RECT rc) {
    CControlUI::SetPos(rc);
    LayOut(Axis{false}, ChildArea(), childPadding_, items_);
}

}  // namespace UiLib
