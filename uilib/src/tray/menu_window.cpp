#include "tray/menu_window.h"

#include "runtime.h"
#include "uilib/window.h"
#include "window_registry.h"

namespace UiLib {
namespace detail {
namespace {

IWindowBase* SkinnedWindow(HWND menu) {
    WndObject* window = FindWindowObject(menu);
    if (!window || !window->userData) return nullptr;
    return dynamic_cast<IWindowBase*>(static_cast<CWindowWnd*>(window->userData));
}

void CollectButtons(CControlUI* control, std::vector<CControlUI*>& buttons) {
    if (!control || !control->IsVisible()) return;
    if (dynamic_cast<CButtonUI*>(control)) buttons.push_back(control);
    for (int i = 0; i < control->GetCount(); ++i) CollectButtons(control->GetItemAt(i), buttons);
}

std::vector<CControlUI*> Buttons(HWND menu) {
    std::vector<CControlUI*> buttons;
    if (IWindowBase* window = SkinnedWindow(menu)) CollectButtons(window->GetPaintManager().GetRoot(), buttons);
    return buttons;
}

std::string Trimmed(const std::wstring& text) {
    size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return {};
    size_t last = text.find_last_not_of(L" \t");
    return ToUtf8(text.substr(first, last - first + 1));
}

}  // namespace

std::vector<DbusMenuItem> MenuWindowItems(HWND menu) {
    std::vector<DbusMenuItem> items;
    int id = 0;
    for (CControlUI* button : Buttons(menu)) {
        DbusMenuItem item;
        item.id = ++id;
        item.label = Trimmed(button->GetText().str());
        if (item.label.empty()) item.label = ToUtf8(button->GetName().str());
        items.push_back(item);
    }
    return items;
}

bool ChooseMenuWindowItem(HWND menu, int id) {
    std::vector<CControlUI*> buttons = Buttons(menu);
    if (id < 1 || id > static_cast<int>(buttons.size())) return false;
    IWindowBase* window = SkinnedWindow(menu);
    window->GetPaintManager().SendNotify(buttons[static_cast<size_t>(id - 1)], L"click");
    return true;
}

}  // namespace detail
}  // namespace UiLib
