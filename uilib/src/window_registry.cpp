#include "window_registry.h"

#include <mutex>
#include <unordered_map>

#include "runtime.h"
#include "uilib/win32.h"

namespace UiLib {
namespace detail {
namespace {

constexpr std::uintptr_t kForeignTag = std::uintptr_t(1) << 62;
constexpr std::uintptr_t kLocalStep = 4;

// Never destroyed: windows may still be looked up from static destructors at exit.
struct Registry {
    std::mutex lock;
    std::uintptr_t nextHandle = 0x10000;
    std::unordered_map<std::uintptr_t, std::unique_ptr<WndObject>> windows;
    std::vector<std::uintptr_t> order;  // creation order
    std::vector<std::unique_ptr<WndObject>> graveyard;
    bool reapQueued = false;
};
Registry& R() {
    static Registry* registry = new Registry();
    return *registry;
}

gboolean Reap(gpointer) {
    std::vector<std::unique_ptr<WndObject>> dead;
    {
        std::lock_guard<std::mutex> lock(R().lock);
        dead.swap(R().graveyard);
        R().reapQueued = false;
    }
    return G_SOURCE_REMOVE;
}

std::uintptr_t Key(HWND hwnd) { return reinterpret_cast<std::uintptr_t>(hwnd); }

}  // namespace

HWND RegisterWindow(std::unique_ptr<WndObject> window) {
    std::lock_guard<std::mutex> lock(R().lock);
    std::uintptr_t key = R().nextHandle;
    R().nextHandle += kLocalStep;
    HWND hwnd = reinterpret_cast<HWND>(key);
    window->hwnd = hwnd;
    R().windows[key] = std::move(window);
    R().order.push_back(key);
    return hwnd;
}

WndObject* FindWindowObject(HWND hwnd) {
    if (!hwnd || IsForeignHandle(hwnd)) return nullptr;
    std::lock_guard<std::mutex> lock(R().lock);
    auto it = R().windows.find(Key(hwnd));
    return it == R().windows.end() ? nullptr : it->second.get();
}

WndObject* ToplevelObjectOf(HWND hwnd) {
    WndObject* window = FindWindowObject(hwnd);
    while (window && window->kind == WndKind::Child) window = FindWindowObject(window->parent);
    return window;
}

bool IsLocalWindow(HWND hwnd) { return FindWindowObject(hwnd) != nullptr; }

void UnbindObject(HWND hwnd) {
    if (WndObject* window = FindWindowObject(hwnd)) window->userData = nullptr;
}

void DestroyForDepartingObject(HWND& handle) {
    if (!handle) return;
    HWND hwnd = handle;
    handle = nullptr;
    UnbindObject(hwnd);
    UiLib::DestroyWindow(hwnd);
}

void UnregisterWindow(HWND hwnd) {
    std::lock_guard<std::mutex> lock(R().lock);
    auto it = R().windows.find(Key(hwnd));
    if (it == R().windows.end()) return;
    // Callers up the stack may still hold the object: free it once they returned.
    R().graveyard.push_back(std::move(it->second));
    R().windows.erase(it);
    for (auto o = R().order.begin(); o != R().order.end(); ++o) {
        if (*o == Key(hwnd)) {
            R().order.erase(o);
            break;
        }
    }
    if (!R().reapQueued) {
        R().reapQueued = true;
        g_idle_add(Reap, nullptr);
    }
}

bool IsForeignHandle(HWND hwnd) { return (Key(hwnd) & kForeignTag) != 0; }
unsigned long ForeignXid(HWND hwnd) { return static_cast<unsigned long>(Key(hwnd) & ~kForeignTag); }
HWND MakeForeignHandle(unsigned long xid) { return reinterpret_cast<HWND>(kForeignTag | xid); }

WndObject* FindWindowByXid(unsigned long xid) {
    if (!xid) return nullptr;
    std::lock_guard<std::mutex> lock(R().lock);
    for (auto& [key, w] : R().windows) {
        if (w->kind == WndKind::TopLevel && w->xid == xid) return w.get();
    }
    return nullptr;
}

WndObject* FindWindowByWidget(GtkWidget* widget) {
    if (!widget) return nullptr;
    std::lock_guard<std::mutex> lock(R().lock);
    for (auto& [key, w] : R().windows) {
        if (w->widget == widget) return w.get();
        if (w->kind == WndKind::TopLevel && w->fixed == widget) return w.get();
    }
    return nullptr;
}

HWND FindHandleOfWidget(GtkWidget* widget) {
    for (GtkWidget* w = widget; w; w = gtk_widget_get_parent(w)) {
        if (WndObject* obj = FindWindowByWidget(w)) return obj->hwnd;
    }
    return nullptr;
}

std::vector<HWND> AllWindows() {
    std::lock_guard<std::mutex> lock(R().lock);
    std::vector<HWND> out;
    for (std::uintptr_t key : R().order) out.push_back(reinterpret_cast<HWND>(key));
    return out;
}

std::vector<HWND> ChildrenOf(HWND parent) {
    std::lock_guard<std::mutex> lock(R().lock);
    std::vector<HWND> out;
    for (std::uintptr_t key : R().order) {
        auto it = R().windows.find(key);
        if (it != R().windows.end() && it->second->parent == parent) out.push_back(it->second->hwnd);
    }
    return out;
}

}  // namespace detail
}  // namespace UiLib
