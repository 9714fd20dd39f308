#include "core/services/reply/main_web_wnd.h"

#include <atomic>

namespace {
std::atomic<QNInterface::WND::IQNWebWnd*> g_mainWebWnd{nullptr};
}

void SetMainWebWnd(QNInterface::WND::IQNWebWnd* window) { g_mainWebWnd.store(window); }

QNInterface::WND::IQNWebWnd* MainWebWnd() { return g_mainWebWnd.load(); }

int MainBrowserId() {
    QNInterface::WND::IQNWebWnd* window = g_mainWebWnd.load();
    return window ? window->GetBrowserId() : -1;
}
