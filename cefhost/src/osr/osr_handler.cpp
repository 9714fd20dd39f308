#include "osr/osr_handler.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "ui_thread.h"
#include "uilib/native.h"
#include "uilib/win32.h"

namespace kxcef {
namespace {

std::mutex g_countLock;
std::map<HWND, long>& InvalidationCounts() {
    static auto* counts = new std::map<HWND, long>();
    return *counts;
}

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

}  // namespace

long OsrInvalidationCount(HWND host) {
    std::lock_guard<std::mutex> lock(g_countLock);
    auto it = InvalidationCounts().find(host);
    return it == InvalidationCounts().end() ? 0 : it->second;
}

CCEF3OSRHandler::CCEF3OSRHandler() { timer_.SetCallback(&CCEF3OSRHandler::Repaint, this); }

CCEF3OSRHandler::~CCEF3OSRHandler() {
    timer_.Stop();
    if (bitmap_) cairo_surface_destroy(bitmap_);
}

void CCEF3OSRHandler::Init(HWND host, RECT rect, int fps) {
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        host_ = host;
        rect_ = rect;
        fps_ = fps;
    }
    if (fps <= 0) {
        timer_.Stop();
        return;
    }
    unsigned period = static_cast<unsigned>(1000 / fps);
    if (timer_.timer().running() && timer_.timer().delay() != std::max(1u, period)) timer_.Stop();
    timer_.Start(period);
}

void CCEF3OSRHandler::SetRect(RECT rect) {
    std::lock_guard<std::mutex> lock(stateLock_);
    rect_ = rect;
}

RECT CCEF3OSRHandler::rect() const {
    std::lock_guard<std::mutex> lock(stateLock_);
    return rect_;
}

HWND CCEF3OSRHandler::host() const {
    std::lock_guard<std::mutex> lock(stateLock_);
    return host_;
}

int CCEF3OSRHandler::fps() const {
    std::lock_guard<std::mutex> lock(stateLock_);
    return fps_;
}

void CCEF3OSRHandler::SetBrowser(CefRefPtr<CefBrowser> browser) {
    std::lock_guard<std::mutex> lock(stateLock_);
    browser_ = browser;
}

CefRefPtr<CefBrowser> CCEF3OSRHandler::browser() const {
    std::lock_guard<std::mutex> lock(stateLock_);
    return browser_;
}

bool CCEF3OSRHandler::GetViewRect(CefRect& rect) const {
    KX_ASSERT_UI_THREAD();
    std::lock_guard<std::mutex> lock(stateLock_);
    if (!host_) return false;
    rect.x = rect_.left;
    rect.y = rect_.top;
    rect.width = Width(rect_);
    rect.height = Height(rect_);
    return true;
}

int CCEF3OSRHandler::DeviceScale() const {
    HWND host = this->host();
    GtkWidget* toplevel = host ? UiLib::Native::GetToplevel(host) : nullptr;
    return toplevel ? std::max(1, gtk_widget_get_scale_factor(toplevel)) : 1;
}

void CCEF3OSRHandler::OnPaint(const std::vector<RECT>& dirtyRects, const void* buffer, int width, int height) {
    KX_ASSERT_UI_THREAD();
    RECT rect = this->rect();
    // A frame comes at the window's scale, or at a smaller one where the
    // off-screen view cannot follow the output's (on Wayland it renders at the
    // scale of the root window, 1): the control then draws it stretched.
    int scale = DeviceScale();
    bool fits = false;
    for (int s = 1; s <= scale && !fits; ++s) fits = width == Width(rect) * s && height == Height(rect) * s;
    if (!buffer || !fits) return;
    const auto* source = static_cast<const unsigned char*>(buffer);
    const size_t sourceStride = static_cast<size_t>(width) * 4;
    bool copied = false;
    {
        std::lock_guard<std::recursive_mutex> lock(bitmapLock_);
        bool whole = !bitmap_ || view_.width != width || view_.height != height;
        if (whole) {
            if (bitmap_) cairo_surface_destroy(bitmap_);
            bitmap_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
            if (cairo_surface_status(bitmap_) != CAIRO_STATUS_SUCCESS) {
                cairo_surface_destroy(bitmap_);
                bitmap_ = nullptr;
                view_ = OSRBitmap();
                return;
            }
            view_.width = width;
            view_.height = height;
            view_.stride = cairo_image_surface_get_stride(bitmap_);
            view_.pixels = cairo_image_surface_get_data(bitmap_);
        }
        cairo_surface_flush(bitmap_);
        auto copyRows = [&](int left, int top, int right, int bottom) {
            size_t bytes = static_cast<size_t>(right - left) * 4;
            for (int y = top; y < bottom; ++y) {
                std::memcpy(view_.pixels + static_cast<size_t>(y) * view_.stride + static_cast<size_t>(left) * 4,
                            source + static_cast<size_t>(y) * sourceStride + static_cast<size_t>(left) * 4, bytes);
            }
        };
        if (whole) {
            copyRows(0, 0, width, height);
            copied = true;
        } else {
            for (const RECT& r : dirtyRects) {
                // A rectangle outside the frame ends the copying; what was copied stays.
                if (r.left < 0 || r.top < 0 || r.right > width || r.bottom > height || r.left > r.right ||
                    r.top > r.bottom)
                    break;
                if (r.left == r.right || r.top == r.bottom) continue;
                copyRows(r.left, r.top, r.right, r.bottom);
                copied = true;
            }
        }
        cairo_surface_mark_dirty(bitmap_);
    }
    if (copied && fps() == 0) Invalidate();
}

void CCEF3OSRHandler::OnCursorChange(HCURSOR cursor) {
    KX_ASSERT_UI_THREAD();
    HWND host = this->host();
    if (!host) return;
    UiLib::SetClassCursor(host, cursor);
    UiLib::SetCursor(cursor);
}

OSRBitmap* CCEF3OSRHandler::Lock() {
    bitmapLock_.lock();
    return bitmap_ ? &view_ : nullptr;
}

void CCEF3OSRHandler::Unlock() { bitmapLock_.unlock(); }

void CCEF3OSRHandler::Repaint(void* self) { static_cast<CCEF3OSRHandler*>(self)->Invalidate(); }

void CCEF3OSRHandler::Invalidate() {
    HWND host;
    RECT rect;
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        host = host_;
        rect = rect_;
    }
    if (!host) return;
    {
        std::lock_guard<std::mutex> lock(g_countLock);
        ++InvalidationCounts()[host];
    }
    UiLib::InvalidateRect(host, &rect, TRUE);
}

}  // namespace kxcef
