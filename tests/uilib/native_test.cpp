// Native child widgets with window handles (the browser view's way in).
#include <gtest/gtest.h>

#include <thread>

#include "tests/support/main_loop.h"
#include "tests/uilib/test_util.h"
#include "uilib/native.h"

namespace {

using namespace UiLib;
using qmtest::RecordingWindow;

TEST(NativeChild, ContainerAndToplevelBelongToTheWindow) {
    RecordingWindow window;
    GtkWidget* container = Native::GetContainer(window.hwnd());
    ASSERT_NE(container, nullptr);
    EXPECT_TRUE(GTK_IS_FIXED(container));
    GtkWidget* toplevel = Native::GetToplevel(window.hwnd());
    ASSERT_NE(toplevel, nullptr);
    EXPECT_TRUE(GTK_IS_WINDOW(toplevel));
    EXPECT_EQ(gtk_widget_get_toplevel(container), toplevel);
    EXPECT_EQ(Native::FromWidget(toplevel), window.hwnd());
    EXPECT_EQ(Native::GetContainer(nullptr), nullptr);
}

TEST(NativeChild, ARegisteredWidgetActsAsAChildWindow) {
    RecordingWindow window(L"host", WS_POPUP, 400, 300);
    GtkWidget* view = gtk_event_box_new();
    gtk_fixed_put(GTK_FIXED(Native::GetContainer(window.hwnd())), view, 0, 0);
    HWND child = Native::RegisterChildWidget(view, window.hwnd());
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(Native::RegisterChildWidget(view, window.hwnd()), child);  // once per widget
    EXPECT_TRUE(IsWindow(child));
    EXPECT_EQ(GetParent(child), window.hwnd());
    EXPECT_EQ(Native::FromWidget(view), child);
    EXPECT_EQ(Native::ToWidget(child), view);

    // Client coordinates of the parent: the widget moves within the container.
    ASSERT_TRUE(SetWindowPos(child, nullptr, 10, 60, 380, 230, SWP_NOACTIVATE | SWP_NOZORDER));
    int x = -1, y = -1;
    gtk_container_child_get(GTK_CONTAINER(Native::GetContainer(window.hwnd())), view, "x", &x, "y", &y, nullptr);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 60);
    int width = 0, height = 0;
    gtk_widget_get_size_request(view, &width, &height);
    EXPECT_EQ(width, 380);
    EXPECT_EQ(height, 230);
    RECT rect;
    ASSERT_TRUE(GetWindowRect(child, &rect));
    EXPECT_EQ(rect.left, 40 + 10);
    EXPECT_EQ(rect.top, 50 + 60);
    EXPECT_EQ(rect.right, 40 + 390);
    RECT client;
    GetClientRect(child, &client);
    EXPECT_EQ(client.right, 380);

    ShowWindow(child, SW_SHOW);
    EXPECT_TRUE(gtk_widget_get_visible(view));
    ASSERT_TRUE(qmtest::ShowAndWait(window.hwnd()));
    EXPECT_TRUE(IsWindowVisible(child));
    EXPECT_TRUE(qmtest::PumpMainLoopUntil([&] { return gtk_widget_get_allocated_width(view) == 380; }));
    POINT inside;
    inside.x = 60;
    inside.y = 120;
    EXPECT_EQ(WindowFromPoint(inside), child);
    ShowWindow(child, SW_HIDE);
    EXPECT_FALSE(gtk_widget_get_visible(view));
    EXPECT_FALSE(IsWindowVisible(child));
    EXPECT_EQ(WindowFromPoint(inside), window.hwnd());

    // The handle dies with the widget.
    gtk_widget_destroy(view);
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(Native::FromWidget(view), nullptr);
}

TEST(NativeChild, DestroyingTheParentEndsTheChildHandle) {
    auto window = std::make_unique<RecordingWindow>();
    GtkWidget* view = gtk_event_box_new();
    gtk_fixed_put(GTK_FIXED(Native::GetContainer(window->hwnd())), view, 0, 0);
    HWND child = Native::RegisterChildWidget(view, window->hwnd());
    window.reset();
    EXPECT_FALSE(IsWindow(child));
}

// The GTK interop runs on the UI thread only: a debug build stops a call from
// another thread at once instead of letting it race the toolkit.
TEST(NativeChild, GtkInteropOnAnotherThreadStopsADebugBuild) {
#ifdef NDEBUG
    GTEST_SKIP() << "thread rules are checked in debug builds";
#else
    RecordingWindow window;
    HWND hwnd = window.hwnd();
    EXPECT_DEATH(std::thread([hwnd] { Native::GetContainer(hwnd); }).join(), "GetContainer runs off the UI thread");
    EXPECT_DEATH(std::thread([hwnd] { Native::GetToplevel(hwnd); }).join(), "GetToplevel runs off the UI thread");
    EXPECT_NE(Native::GetContainer(hwnd), nullptr);
#endif
}

}  // namespace
