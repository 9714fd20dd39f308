// Where the main window and its tray menu go on screens of every shape: the
// kept size and place of the last run read back and fitted to this screen,
// and the tray menu inside the work area whatever edge the panel is on.
#include <gtest/gtest.h>

#include "core/shell/main_wnd.h"
#include "core/shell/window_placement.h"
#include "platform/text.h"
#include "tests/support/process.h"

namespace {

RECT Rect(LONG left, LONG top, LONG right, LONG bottom) {
    RECT r;
    r.left = left;
    r.top = top;
    r.right = right;
    r.bottom = bottom;
    return r;
}

TEST(WindowPlacement, WhatIsWrittenIsReadBackAndDamagedFilesAreNoPlacement) {
    WindowPlacement kept;
    kept.rect = Rect(-300, 40, 900, 840);
    kept.hasPlace = true;
    kept.maximized = true;
    WindowPlacement read;
    ASSERT_TRUE(ParseWindowPlacement(FormatWindowPlacement(kept), &read));
    EXPECT_EQ(read.rect, kept.rect);
    EXPECT_TRUE(read.hasPlace);
    EXPECT_TRUE(read.maximized);

    // Wayland: a size without a place.
    ASSERT_TRUE(ParseWindowPlacement({L"width=1000", L"height=700", L"maximized=0"}, &read));
    EXPECT_FALSE(read.hasPlace);
    EXPECT_EQ(read.rect, Rect(0, 0, 1000, 700));

    for (const std::vector<std::wstring>& damaged : std::vector<std::vector<std::wstring>>{
             {}, {L"width=1000"}, {L"width=0", L"height=700"}, {L"width=-5", L"height=700"},
             {L"width=1e3", L"height=700"}, {L"width=99999999", L"height=700"}, {L"width=", L"height=7"}}) {
        WindowPlacement untouched;
        untouched.rect = Rect(1, 2, 3, 4);
        EXPECT_FALSE(ParseWindowPlacement(damaged, &untouched)) << ::testing::PrintToString(damaged.size());
        EXPECT_EQ(untouched.rect, Rect(1, 2, 3, 4));
    }
    // A place that is not a number is no place; the size still counts.
    ASSERT_TRUE(ParseWindowPlacement({L"left=x", L"top=10", L"width=800", L"height=600"}, &read));
    EXPECT_FALSE(read.hasPlace);
}

TEST(WindowPlacement, KeptInTheUsersStateFolderAcrossRuns) {
    qmtest::TempDir dir;
    std::wstring path = platform::Utf8ToWide(dir.File("state/quenor/window.ini"));
    WindowPlacement kept;
    kept.rect = Rect(10, 20, 1010, 720);
    kept.hasPlace = true;
    ASSERT_TRUE(SaveWindowPlacement(path, kept));
    WindowPlacement read;
    ASSERT_TRUE(LoadWindowPlacement(path, &read));
    EXPECT_EQ(read.rect, kept.rect);
    EXPECT_FALSE(read.maximized);
}

TEST(WindowPlacement, FittedToTheWorkAreaOfThisRun) {
    const RECT small = Rect(0, 28, 1366, 768);  // 1366 x 768 with a panel at the top
    // Larger than the screen now: as large as it, inside it.
    EXPECT_EQ(FitToWorkArea(Rect(100, 100, 1380, 900), true, small, 800, 560), Rect(86, 28, 1366, 768));
    EXPECT_EQ(FitToWorkArea(Rect(0, 0, 1600, 1000), true, small, 800, 560), small);
    // On a monitor that is gone: back on this one.
    EXPECT_EQ(FitToWorkArea(Rect(3000, 200, 4000, 900), true, small, 800, 560), Rect(366, 68, 1366, 768));
    // Smaller than the skin allows (a damaged file): the minimum.
    EXPECT_EQ(FitToWorkArea(Rect(10, 40, 110, 140), true, small, 800, 560), Rect(10, 40, 810, 600));
    // A work area smaller than the minimum wins.
    EXPECT_EQ(FitToWorkArea(Rect(0, 0, 1000, 700), true, Rect(0, 0, 640, 480), 800, 560), Rect(0, 0, 640, 480));
    // No place kept (Wayland): centred.
    EXPECT_EQ(FitToWorkArea(Rect(0, 0, 1000, 700), false, Rect(0, 0, 1366, 768), 800, 560), Rect(183, 34, 1183, 734));
}

TEST(TrayMenu, OpensInsideTheWorkAreaWhereverThePanelIs) {
    const int w = 140, h = 72;
    // Taskbar at the bottom: the menu's bottom-left corner at the cursor.
    POINT at = PlaceTrayMenu(POINT{1200, 1000}, w, h, Rect(0, 0, 1280, 990));
    EXPECT_EQ(at.x, 1140);  // not past the right edge
    EXPECT_EQ(at.y, 990 - h);
    POINT middle = PlaceTrayMenu(POINT{600, 500}, w, h, Rect(0, 0, 1280, 990));
    EXPECT_EQ(middle.x, 600);
    EXPECT_EQ(middle.y, 500 - h);
    // Panel at the top: below it, top-left corner at the cursor where that fits.
    POINT top = PlaceTrayMenu(POINT{1300, 12}, w, h, Rect(0, 28, 1366, 768));
    EXPECT_EQ(top.x, 1366 - w);
    EXPECT_EQ(top.y, 28);
    POINT near = PlaceTrayMenu(POINT{300, 40}, w, h, Rect(0, 28, 1366, 768));
    EXPECT_EQ(near.y, 40);
    // Panel on the left: right of it.
    POINT left = PlaceTrayMenu(POINT{10, 700}, w, h, Rect(48, 0, 1366, 768));
    EXPECT_EQ(left.x, 48);
    EXPECT_EQ(left.y, 700 - h);
}

}  // namespace
