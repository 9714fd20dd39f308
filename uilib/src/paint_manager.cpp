#include <algorithm>
#include <mutex>
#include <set>

#include "accessible_controls.h"
#include "controls/attributes.h"
#include "message_queue.h"
#include "platform/dynlib.h"
#include "platform/paths.h"
#include "runtime.h"
#include "toplevel.h"
#include "uilib/window.h"

namespace UiLib {

struct CPaintManagerUI::TimerInfo {
    CControlUI* control = nullptr;
    UINT timerId = 0;
    UINT_PTR windowTimerId = 0;
};

namespace {

HINSTANCE s_instance = nullptr;
std::wstring s_instancePath;

// Managers alive now: a queued layout pass checks that its manager still exists.
// Never destroyed: a window object may outlive static destruction at exit.
std::set<CPaintManagerUI*>& Managers() {
    static auto* managers = new std::set<CPaintManagerUI*>();
    return *managers;
}

gboolean RunQueuedLayout(gpointer data) {
    auto* manager = static_cast<CPaintManagerUI*>(data);
    if (Managers().count(manager)) manager->SetLayoutReady(true);
    return G_SOURCE_REMOVE;
}

std::wstring ComputeInstancePath(HINSTANCE instance) { return detail::ModuleDir(instance) + L"/"; }

// `event` as `type` to `control`, which becomes its sender.
void Deliver(CControlUI* control, TEventUI event, int type) {
    event.Type = type;
    event.pSender = control;
    control->DoEvent(event);
}

}  // namespace

CPaintManagerUI::CPaintManagerUI() { Managers().insert(this); }

CPaintManagerUI::~CPaintManagerUI() {
    Managers().erase(this);
    detail::ForgetAccessibleControls(this);
    for (auto& timer : timers_) UiLib::KillTimer(hwnd_, timer->windowTimerId);
    timers_.clear();
    root_.reset();
}

void CPaintManagerUI::SetInstance(HINSTANCE instance) {
    s_instance = instance;
    s_instancePath = ComputeInstancePath(instance);
}

HINSTANCE CPaintManagerUI::GetInstance() { return s_instance; }

CDuiString CPaintManagerUI::GetInstancePath() {
    if (s_instancePath.empty()) s_instancePath = ComputeInstancePath(s_instance);
    return CDuiString(s_instancePath);
}

void CPaintManagerUI::MessageLoop() {
    detail::EnsureGtk();  // without a display the loop still runs posted messages
    detail::RunMessageLoop();
}

void CPaintManagerUI::Init(HWND hwnd) { hwnd_ = hwnd; }

bool CPaintManagerUI::AttachDialog(CControlUI* root) {
    hot_ = nullptr;
    captured_ = nullptr;
    root_.reset(root);
    if (!root_) return false;
    root_->SetManager(this, nullptr);
    layoutRect_ = RECT();
    NeedUpdate();
    return true;
}

CControlUI* CPaintManagerUI::FindControl(const wchar_t* name) const {
    return root_ ? root_->FindControlByName(name) : nullptr;
}

CControlUI* CPaintManagerUI::FindControl(POINT pt) const { return root_ ? root_->FindControlAt(pt) : nullptr; }

bool CPaintManagerUI::SetTimer(CControlUI* control, UINT timerId, UINT elapse) {
    if (!control || !hwnd_) return false;
    TimerInfo* info = nullptr;
    for (auto& timer : timers_) {
        if (timer->control == control && timer->timerId == timerId) info = timer.get();
    }
    if (!info) {
        auto created = std::make_unique<TimerInfo>();
        created->control = control;
        created->timerId = timerId;
        created->windowTimerId = nextTimerId_++;
        info = created.get();
        timers_.push_back(std::move(created));
    }
    if (UiLib::SetTimer(hwnd_, info->windowTimerId, elapse) != 0) return true;
    KillTimer(control, timerId);
    return false;
}

bool CPaintManagerUI::KillTimer(CControlUI* control, UINT timerId) {
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if ((*it)->control == control && (*it)->timerId == timerId) {
            UiLib::KillTimer(hwnd_, (*it)->windowTimerId);
            timers_.erase(it);
            return true;
        }
    }
    return false;
}

void CPaintManagerUI::KillTimer(CControlUI* control) {
    for (auto it = timers_.begin(); it != timers_.end();) {
        if ((*it)->control == control) {
            UiLib::KillTimer(hwnd_, (*it)->windowTimerId);
            it = timers_.erase(it);
        } else {
            ++it;
        }
    }
}

void CPaintManagerUI::ReapObjects(CControlUI* control) {
    detail::ForgetAccessibleControl(this, control);
    if (hot_ == control) hot_ = nullptr;
    if (captured_ == control) captured_ = nullptr;
    KillTimer(control);
}

void CPaintManagerUI::AddNotifier(INotifyUI* notifier) {
    if (notifier && std::find(notifiers_.begin(), notifiers_.end(), notifier) == notifiers_.end()) {
        notifiers_.push_back(notifier);
    }
}

void CPaintManagerUI::RemoveNotifier(INotifyUI* notifier) {
    notifiers_.erase(std::remove(notifiers_.begin(), notifiers_.end(), notifier), notifiers_.end());
}

void CPaintManagerUI::SendNotify(CControlUI* sender, const wchar_t* type, WPARAM wParam, LPARAM lParam) {
    TNotifyUI msg;
    msg.sType = type;
    msg.pSender = sender;
    msg.dwTimestamp = static_cast<DWORD>(GetMessageTime());
    msg.wParam = wParam;
    msg.lParam = lParam;
    GetCursorPos(&msg.ptMouse);
    if (hwnd_) ScreenToClient(hwnd_, &msg.ptMouse);
    // A receiver may remove itself (or others) while being told.
    std::vector<INotifyUI*> receivers = notifiers_;
    for (INotifyUI* receiver : receivers) {
        if (std::find(notifiers_.begin(), notifiers_.end(), receiver) != notifiers_.end()) receiver->Notify(msg);
    }
}

void CPaintManagerUI::AddMessageFilter(IMessageFilterUI* filter) {
    if (filter && std::find(filters_.begin(), filters_.end(), filter) == filters_.end()) filters_.push_back(filter);
}

void CPaintManagerUI::RemoveMessageFilter(IMessageFilterUI* filter) {
    filters_.erase(std::remove(filters_.begin(), filters_.end(), filter), filters_.end());
}

void CPaintManagerUI::NeedUpdate() {
    needUpdate_ = true;
    if (!layoutReady_ || updateQueued_) return;
    updateQueued_ = true;
    g_idle_add(RunQueuedLayout, this);
}

void CPaintManagerUI::SetLayoutReady(bool ready) {
    updateQueued_ = false;
    layoutReady_ = ready;
    if (ready) Layout(false);
}

void CPaintManagerUI::Layout(bool force) {
    if (!layoutReady_ || !root_ || !hwnd_) return;
    RECT client;
    if (!GetClientRect(hwnd_, &client) || IsRectEmpty(client)) return;
    if (!force && !needUpdate_ && client == layoutRect_) return;
    layoutRect_ = client;
    needUpdate_ = false;
    root_->SetPos(client);
    detail::SyncAccessibleControls(this, hwnd_);
    InvalidateRect(hwnd_, nullptr, FALSE);
}

bool CPaintManagerUI::MessageHandler(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    std::vector<IMessageFilterUI*> filters = filters_;
    for (IMessageFilterUI* filter : filters) {
        bool handled = false;
        LRESULT r = filter->MessageHandler(message, wParam, lParam, handled);
        if (handled) {
            result = r;
            return true;
        }
    }
    switch (message) {
    case WM_PAINT:
        if (wParam && lParam) Paint(reinterpret_cast<HDC>(wParam), *reinterpret_cast<const RECT*>(lParam));
        result = 0;
        return true;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) Layout(false);
        return false;
    case WM_TIMER:
        for (auto& timer : timers_) {
            if (timer->windowTimerId != wParam) continue;
            TEventUI event;
            event.Type = UIEVENT_TIMER;
            event.pSender = timer->control;
            event.dwTimestamp = static_cast<DWORD>(GetMessageTime());
            event.wParam = timer->timerId;
            event.lParam = lParam;
            timer->control->DoEvent(event);
            result = 0;
            return true;
        }
        return false;
    case WM_NCHITTEST: {
        POINT pt;
        pt.x = GET_X_LPARAM(lParam);
        pt.y = GET_Y_LPARAM(lParam);
        ScreenToClient(hwnd_, &pt);
        result = HitTest(pt);
        return true;
    }
    case WM_MOUSEMOVE:
    case WM_MOUSELEAVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
        MouseMessage(message, wParam, lParam);
        return false;
    default:
        return false;
    }
}

void CPaintManagerUI::MouseMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    TEventUI event;
    event.ptMouse.x = GET_X_LPARAM(lParam);
    event.ptMouse.y = GET_Y_LPARAM(lParam);
    event.wParam = wParam;
    event.lParam = lParam;
    event.dwTimestamp = static_cast<DWORD>(GetMessageTime());
    switch (message) {
    case WM_MOUSEMOVE: {
        if (!trackingMouse_) {
            TRACKMOUSEEVENT track;
            track.dwFlags = TME_LEAVE;
            track.hwndTrack = hwnd_;
            trackingMouse_ = TrackMouseEvent(&track) != FALSE;
        }
        CControlUI* target = captured_ ? captured_ : FindControl(event.ptMouse);
        if (!captured_ && target != hot_) {
            if (CControlUI* old = hot_) {
                hot_ = nullptr;
                Deliver(old, event, UIEVENT_MOUSELEAVE);
            }
            hot_ = target;
        }
        if (target) Deliver(target, event, UIEVENT_MOUSEMOVE);
        break;
    }
    case WM_MOUSELEAVE:
        trackingMouse_ = false;
        if (hot_ && !captured_) {
            CControlUI* old = hot_;
            hot_ = nullptr;
            Deliver(old, event, UIEVENT_MOUSELEAVE);
        }
        break;
    case WM_LBUTTONDOWN: {
        // A press on the caption band came as WM_NCLBUTTONDOWN (HitTest).
        CControlUI* target = FindControl(event.ptMouse);
        SetCapture(hwnd_);
        captured_ = target;
        if (target) Deliver(target, event, UIEVENT_BUTTONDOWN);
        break;
    }
    case WM_LBUTTONUP: {
        CControlUI* target = captured_;
        captured_ = nullptr;
        if (GetCapture() == hwnd_) ReleaseCapture();
        if (target) Deliver(target, event, UIEVENT_BUTTONUP);
        break;
    }
    default:
        break;
    }
}

LRESULT CPaintManagerUI::HitTest(POINT pt) const {
    RECT client;
    if (!hwnd_ || !GetClientRect(hwnd_, &client) || !PtInRect(client, pt)) return HTNOWHERE;
    if (!IsZoomed(hwnd_)) {
        bool left = pt.x < client.left + sizeBox_.left;
        bool right = pt.x >= client.right - sizeBox_.right;
        bool top = pt.y < client.top + sizeBox_.top;
        bool bottom = pt.y >= client.bottom - sizeBox_.bottom;
        if (top && left) return HTTOPLEFT;
        if (top && right) return HTTOPRIGHT;
        if (bottom && left) return HTBOTTOMLEFT;
        if (bottom && right) return HTBOTTOMRIGHT;
        if (left) return HTLEFT;
        if (right) return HTRIGHT;
        if (top) return HTTOP;
        if (bottom) return HTBOTTOM;
    }
    bool inCaption = caption_.bottom > caption_.top && pt.x >= client.left + caption_.left &&
                     pt.x < client.right - caption_.right && pt.y >= caption_.top && pt.y < caption_.bottom;
    if (!inCaption) return HTCLIENT;
    CControlUI* target = FindControl(pt);
    return target && detail::SameName(target->GetClass(), L"Button") ? HTCLIENT : HTCAPTION;
}

void CPaintManagerUI::Paint(HDC hdc, const RECT& rcPaint) {
    paintDc_ = hdc;
    if (bkColor_ >> 24) {
        RECT client;
        GetClientRect(hwnd_, &client);
        CRenderEngine::DrawColor(hdc, client, bkColor_);
    }
    if (root_ && root_->IsVisible()) root_->DoPaint(hdc, rcPaint);
    paintDc_ = nullptr;
}

void CPaintManagerUI::Invalidate(const RECT& rc) {
    if (hwnd_) InvalidateRect(hwnd_, &rc, FALSE);
}

}  // namespace UiLib
