#include "core/shell/drag_hook.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "common/core_protocol.h"
#include "core/shell/web_wnd.h"
#include "uilib/UiLib.h"

namespace {

std::mutex g_recordsLock;
std::vector<DragHookRecord>& Records() {
    static auto* records = new std::vector<DragHookRecord>();  // lives until the process ends
    return *records;
}

}  // namespace

HHOOK InstallDragHook(const DragHookRecord& record) {
    DragHookRecord r = record;
    r.hook = UiLib::SetWindowsHookExW(WH_MOUSE, &DragHookProc, nullptr, 0);
    if (!r.hook) return nullptr;
    std::lock_guard<std::mutex> lock(g_recordsLock);
    Records().push_back(r);
    return r.hook;
}

void RemoveDragHook(HHOOK hook) {
    if (!hook) return;
    UiLib::UnhookWindowsHookEx(hook);
    std::lock_guard<std::mutex> lock(g_recordsLock);
    auto& records = Records();
    records.erase(std::remove_if(records.begin(), records.end(), [hook](const DragHookRecord& r) { return r.hook == hook; }),
                  records.end());
}

LRESULT DragHookProc(int code, WPARAM wParam, LPARAM lParam) {
    auto* data = reinterpret_cast<UiLib::MOUSEHOOKSTRUCT*>(lParam);
    if (code < 0 || !data) return 0;

    std::unique_lock<std::mutex> lock(g_recordsLock);
    auto& records = Records();
    DragHookRecord* record = nullptr;
    for (HWND w = data->hwnd; w && !record; w = UiLib::GetParent(w)) {
        for (auto& r : records)
            if (r.browserWnd == w) record = &r;
    }
    if (!record) return 0;
    HHOOK hook = record->hook;
    UINT message = static_cast<UINT>(wParam);
    if (!record->capturing && message != WM_LBUTTONDOWN) {
        // Nothing to start or end: most mouse traffic over the page leaves here,
        // without asking for the work area.
        lock.unlock();
        return UiLib::CallNextHookEx(hook, code, wParam, lParam);
    }

    RECT work;
    UiLib::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    HWND moveTarget = nullptr;
    LPARAM offset = 0;
    UINT frameMessage = 0;  // the press as one on the window's caption
    if (work.bottom <= 0 || data->pt.y >= work.bottom - 2) {
        // Dragging into the bottom edge of the work area ends the drag.
        if (record->capturing) UiLib::ReleaseCapture();
        record->capturing = false;
    } else {
        POINT client = data->pt;
        UiLib::ScreenToClient(data->hwnd, &client);
        if (message == WM_LBUTTONDOWN) {
            bool inside = false;
            for (const RECT& rc : record->dragRects) inside = inside || PtInRect(rc, client);
            if (!record->capturing && inside) {
                LONG now = UiLib::GetMessageTime();
                bool twice = record->pressed &&
                             static_cast<UINT>(now - record->pressTime) <= UiLib::GetDoubleClickTime() &&
                             std::abs(data->pt.x - record->pressPoint.x) <= UiLib::GetSystemMetrics(UiLib::SM_CXDOUBLECLK) &&
                             std::abs(data->pt.y - record->pressPoint.y) <= UiLib::GetSystemMetrics(UiLib::SM_CYDOUBLECLK);
                // A third press starts afresh.
                record->pressed = !twice;
                record->pressTime = now;
                record->pressPoint = data->pt;
                if (twice) {
                    frameMessage = UiLib::WM_NCLBUTTONDBLCLK;
                } else if (!UiLib::CanPlaceWindows()) {
                    frameMessage = UiLib::WM_NCLBUTTONDOWN;
                } else {
                    record->last = data->pt;
                    UiLib::SetCapture(data->hwnd);
                    record->capturing = true;
                }
                if (frameMessage) moveTarget = record->moveTarget;
            }
        } else if (message == WM_LBUTTONUP) {
            if (record->capturing) UiLib::ReleaseCapture();
            record->capturing = false;
        } else if (message == WM_MOUSEMOVE && record->capturing) {
            int dx = data->pt.x - record->last.x, dy = data->pt.y - record->last.y;
            offset = static_cast<LPARAM>((static_cast<std::uint32_t>(dy) << 16) | (static_cast<std::uint32_t>(dx) & 0xFFFF));
            moveTarget = record->moveTarget;
            record->last = data->pt;
        }
    }
    lock.unlock();
    // Sent outside the lock: the window moves on its own thread.
    if (moveTarget && frameMessage) {
        UiLib::SendMessageW(moveTarget, frameMessage, static_cast<WPARAM>(UiLib::HTCAPTION),
                            MAKELPARAM(data->pt.x, data->pt.y));
    } else if (moveTarget) {
        UiLib::SendMessageW(moveTarget, core_protocol::kMoveByOffsetMessage, 0, offset);
    }
    return UiLib::CallNextHookEx(hook, code, wParam, lParam);
}
