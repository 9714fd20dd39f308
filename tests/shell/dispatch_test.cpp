#include <gtest/gtest.h>

#include <vector>

#include "core/services/reply/js_reply.h"
#include "core/shell/caller_manager.h"
#include "core/shell/command_table.h"
#include "core/shell/web_wnd.h"
#include "tests/support/fake_web_wnd.h"

using QNInterface::QNCEF::CEFCallerManager;
using QNInterface::QNCEF::CEFRequest;

TEST(CommandTable, RegistersTheTwentyFourCommandsInOrderWithTheirCallbackNames) {
    qmtest::FakeWebWnd window(7);
    RegisterPageCommands(&window);
    std::vector<std::pair<std::string, std::string>> expected = {
        {"_notify_new_info", ""},
        {"_min_window", ""},
        {"_close_window", ""},
        {"_get_client_info", "_get_client_info"},
        {"_nim_login", "_nim_login"},
        {"_nim_logout", ""},
        {"_nim_join_room", "_nim_join_room"},
        {"_nim_leave_room", ""},
        {"_nim_start_mic_device", ""},
        {"_nim_end_mic_device", ""},
        {"_nim_start_audio_device", ""},
        {"_nim_end_audio_device", ""},
        {"_nim_start_audio_play_device", ""},
        {"_nim_end_audio_play_device", ""},
        {"_nim_get_muted", ""},
        {"_nim_set_muted", ""},
        {"_nim_get_mic_volumn", ""},
        {"_nim_set_mic_volumn", ""},
        {"_nim_get_audio_volumn", ""},
        {"_nim_set_audio_volumn", ""},
        {"_nim_get_viewermode", ""},
        {"_nim_set_viewermode", ""},
        {"_nim_enum_device", "_nim_enum_device"},
        {"_nim_enum_player", "_nim_enum_player"},
    };
    EXPECT_EQ(window.Registered(), expected);
}

TEST(CallerManager, NamesAreCaseSensitiveAndTheFirstRegistrationStays) {
    CEFCallerManager callers;
    int first = 0, second = 0;
    EXPECT_TRUE(callers.RegisterCaller("_min_window", "", [&](const CEFRequest&, const std::string&) { ++first; }));
    EXPECT_FALSE(callers.RegisterCaller("_min_window", "x", [&](const CEFRequest&, const std::string&) { ++second; }));
    EXPECT_TRUE(callers.Dispatch(CEFRequest{"_min_window", "", nullptr}));
    EXPECT_FALSE(callers.Dispatch(CEFRequest{"_MIN_WINDOW", "", nullptr}));
    EXPECT_FALSE(callers.Dispatch(CEFRequest{"_unknown", "", nullptr}));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
}

TEST(CallerManager, HandlersRunOutsideTheLockAndGetTheirCallbackName) {
    CEFCallerManager callers;
    std::string seen;
    callers.RegisterCaller("outer", "cb", [&](const CEFRequest& r, const std::string& cb) {
        seen = r.data + "/" + cb;
        // Re-entering the table from a handler must not deadlock.
        callers.RegisterCaller("inner", "", [&](const CEFRequest&, const std::string&) { seen += "+inner"; });
        callers.Dispatch(CEFRequest{"inner", "", nullptr});
    });
    callers.Dispatch(CEFRequest{"outer", "a=1", nullptr});
    EXPECT_EQ(seen, "a=1/cb+inner");
}

TEST(WebWindow, RepeatedRegistrationKeepsTheFirstHandlersAndGettersNeverAnswer) {
    QNInterface::WND::CQNWebWnd window(L"TestWebWnd", L"/nonexistent/skin.xml", nullptr);
    RegisterPageCommands(&window);
    RegisterPageCommands(&window);  // a second QNCreateWebWnd: nothing changes
    int replies = 0;
    SetJsCommandSender([&](const std::string&, std::vector<VARIANT>&, int) {
        ++replies;
        return true;
    });
    for (const char* getter : {"_nim_get_muted", "_nim_get_mic_volumn", "_nim_get_audio_volumn", "_nim_get_viewermode"})
        window.Dispatch(CEFRequest{getter, "", &window});
    // Without a main window, "_notify_new_info" has nothing to flash.
    window.Dispatch(CEFRequest{"_notify_new_info", "", &window});
    EXPECT_EQ(replies, 0);
    SetJsCommandSender(nullptr);
    EXPECT_EQ(window.GetBrowserId(), -1);  // no browser control
}
