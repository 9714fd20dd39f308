// Voice chat in the core module against a voice module that records every
// call: argument rules of every command, what reaches the module and in which
// order, the replies and the module's events.
#include <gtest/gtest.h>

#include <iterator>

#include <json/reader.h>

#include "core/services/nim/nim_business.h"
#include "core/services/reply/main_web_wnd.h"
#include "platform/dynlib.h"
#include "tests/services/services_test_support.h"
#include "tests/support/fake_web_wnd.h"

namespace {

constexpr int kBrowserId = 31;
constexpr int kMainBrowserId = 77;

std::wstring ModulePath() { return platform::FromNativePath(QM_RECORDING_NIM); }

// The module's own trace of the calls it received.
class ModuleTrace {
public:
    ModuleTrace() : module_(platform::LoadModule(ModulePath())) {
        trace_ = reinterpret_cast<size_t (*)(char*, size_t)>(platform::GetExport(module_, "qm_nim_trace"));
        clear_ = reinterpret_cast<void (*)()>(platform::GetExport(module_, "qm_nim_clear_trace"));
        if (clear_) clear_();
    }
    ~ModuleTrace() { platform::FreeModule(module_); }
    bool ok() const { return trace_ && clear_; }
    std::vector<std::string> Calls() const {
        std::string text(trace_(nullptr, 0) + 1, '\0');
        trace_(text.data(), text.size());
        text.resize(text.size() - 1);
        std::vector<std::string> out;
        size_t start = 0;
        for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
            out.push_back(text.substr(start, nl - start));
            start = nl + 1;
        }
        return out;
    }
    // Calls other than the life-cycle ones.
    std::vector<std::string> CommandCalls() const {
        std::vector<std::string> out;
        for (const std::string& c : Calls()) {
            if (c.rfind("Init(", 0) != 0 && c != "Release()") out.push_back(c);
        }
        return out;
    }
    void Clear() { clear_(); }

private:
    HMODULE module_;
    size_t (*trace_)(char*, size_t) = nullptr;
    void (*clear_)() = nullptr;
};

class NimTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(trace_.ok()) << "qm_nim.so lacks its trace exports";
        SetMainWebWnd(&mainWindow_);
        ASSERT_TRUE(nim_.Init());
        nim_.RegisterCommands(&window_);
        trace_.Clear();
    }
    void TearDown() override {
        nim_.Uninit();
        SetMainWebWnd(nullptr);
    }
    // What the module was asked, once the worker has passed on every command sent so far.
    std::vector<std::string> CommandCalls() {
        nim_.WaitForCommands();
        return trace_.CommandCalls();
    }

    qmtest::LogCapture log_;
    qmtest::ReplyRecorder replies_;
    ModuleTrace trace_;
    qmtest::FakeWebWnd window_{kBrowserId};
    qmtest::FakeWebWnd mainWindow_{kMainBrowserId};
    NimBusiness nim_{ModulePath()};
};

Json::Value ReplyData(const std::string& text) {
    Json::Value v;
    Json::Reader reader;
    EXPECT_TRUE(reader.parse(text, v)) << text;
    return v["result"]["data"];
}

TEST(NimBusinessLifeCycle, LoadsOnceAndUnloads) {
    NimBusiness nim(ModulePath());
    EXPECT_FALSE(nim.IsLoaded());
    EXPECT_TRUE(nim.Uninit());  // nothing loaded yet: still true
    ASSERT_TRUE(nim.Init());
    EXPECT_TRUE(nim.IsLoaded());
    EXPECT_FALSE(nim.Init());  // the second call loads nothing
    EXPECT_TRUE(nim.IsLoaded());
    EXPECT_TRUE(nim.Uninit());
    EXPECT_FALSE(nim.IsLoaded());
    ASSERT_TRUE(nim.Init());  // loadable again after unloading
    EXPECT_TRUE(nim.Uninit());
}

TEST(NimBusinessLifeCycle, MissingModuleOrMissingExportFailsQuietly) {
    qmtest::LogCapture log;
    NimBusiness missing(L"qm_nim_does_not_exist.so");
    EXPECT_FALSE(missing.Init());
    EXPECT_FALSE(missing.IsLoaded());

    // A library without "create_object" stays loaded, so a second Init refuses at once.
    NimBusiness wrong(L"libm.so.6");
    EXPECT_FALSE(wrong.Init());
    EXPECT_FALSE(wrong.Init());
    EXPECT_FALSE(wrong.IsLoaded());
    EXPECT_TRUE(log.Lines().empty());
}

TEST(NimBusinessLifeCycle, CommandsWithoutTheModuleDoNothingButVolumeLogs) {
    qmtest::LogCapture log;
    qmtest::ReplyRecorder replies;
    NimBusiness nim(ModulePath());  // never initialised
    qmtest::FakeWebWnd window(kBrowserId);
    nim.RegisterCommands(&window);
    window.Send("_nim_login", "user=a&pass=b");
    window.Send("_nim_join_room", "room_id=5");
    window.Send("_nim_set_muted", "muted=true");
    window.Send("_nim_set_mic_volumn", "volumn=10");
    window.Send("_nim_set_audio_volumn", "volumn=10");
    window.Send("_nim_set_audio_volumn", "volumn=");
    nim.WaitForCommands();
    EXPECT_TRUE(replies.Replies().empty());
    EXPECT_EQ(nim.Account(), "");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"NimBusiness Set Mic Volumn", "NimBusiness Set Audio Volumn"}));
}

TEST(NimBusinessLifeCycle, CommandsBeforeTheModuleLoadsWaitForItOrGoAtTheEnd) {
    ModuleTrace trace;
    ASSERT_TRUE(trace.ok());
    {
        // A page that logs in and joins at once, before the module's delayed start.
        qmtest::ReplyRecorder replies;
        qmtest::FakeWebWnd window(kBrowserId);
        NimBusiness nim(ModulePath());
        nim.HoldCommandsUntilInit();
        nim.RegisterCommands(&window);
        window.Send("_nim_login", "user=early&pass=x");
        window.Send("_nim_join_room", "room_id=5");
        EXPECT_TRUE(replies.Replies().empty()) << "answered before the module was there";
        ASSERT_TRUE(nim.Init());
        nim.WaitForCommands();
        EXPECT_EQ(trace.CommandCalls(), (std::vector<std::string>{"Login(0a1b2c3d4e5f60718293a4b5c6d7e8f9,early,x)",
                                                                  "JoinRoom(5,,1,2)"}));
        ASSERT_EQ(replies.Texts("_nim_login").size(), 1u);
        EXPECT_TRUE(ReplyData(replies.Texts("_nim_login")[0])["res"].asBool());
        nim.Uninit();
    }
    trace.Clear();
    {
        // Stopped before it ever started: the held commands are let go, unanswered.
        qmtest::ReplyRecorder replies;
        qmtest::FakeWebWnd other(kBrowserId);
        NimBusiness nim(ModulePath());
        nim.HoldCommandsUntilInit();
        nim.RegisterCommands(&other);
        other.Send("_nim_login", "user=late&pass=x");
        EXPECT_TRUE(nim.Uninit());
        nim.WaitForCommands();
        EXPECT_TRUE(trace.CommandCalls().empty());
        EXPECT_TRUE(replies.Replies().empty());
    }
}

TEST_F(NimTest, LoginNeedsBothValuesInAnyOrder) {
    window_.Send("_nim_login", "user=a&pass=");
    window_.Send("_nim_login", "pass=x");
    EXPECT_TRUE(replies_.Replies().empty());
    EXPECT_TRUE(CommandCalls().empty());
    EXPECT_EQ(log_.CountLine("NimBusiness Start Login User"), 0u);

    window_.Send("_nim_login", "pass=x&user=a");
    nim_.WaitForCommands();
    auto replies = replies_.Replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].text, L"{\"result\":{\"cbfn\":\"_nim_login\",\"data\":{\"res\":true}}}\n");
    EXPECT_EQ(replies[0].browserId, kBrowserId);
    EXPECT_EQ(CommandCalls(),
              (std::vector<std::string>{"Login(0a1b2c3d4e5f60718293a4b5c6d7e8f9,a,x)"}));
    EXPECT_EQ(nim_.Account(), "a");
    EXPECT_EQ(log_.CountLine("NimBusiness Start Login User"), 1u);
    // The module confirms on its own thread.
    EXPECT_TRUE(qmtest::WaitUntil([&] { return log_.CountLine("NimBusiness Login User Success") == 1; },
                                  std::chrono::seconds(10)));
}

// A module call that waits (a login to a slow server) holds up neither the
// page's thread nor the order of what the page sends after it.
TEST_F(NimTest, SlowModuleCallsRunOnTheWorkerInOrder) {
    HMODULE module = platform::LoadModule(ModulePath());
    auto blocked = reinterpret_cast<bool (*)()>(platform::GetExport(module, "qm_nim_login_blocked"));
    auto unblock = reinterpret_cast<void (*)()>(platform::GetExport(module, "qm_nim_unblock_login"));
    ASSERT_TRUE(blocked && unblock);
    window_.Send("_nim_login", "user=block&pass=x");  // returns although the module has not answered
    ASSERT_TRUE(qmtest::WaitUntil([&] { return blocked(); }, std::chrono::seconds(10)));
    window_.Send("_nim_join_room", "room_id=9");
    window_.Send("_nim_set_muted", "muted=true");
    window_.Send("_nim_set_viewermode", "viewer=true");
    EXPECT_TRUE(replies_.Replies().empty());
    EXPECT_EQ(trace_.CommandCalls().size(), 1u);  // only the login reached the module so far
    unblock();
    EXPECT_EQ(CommandCalls(), (std::vector<std::string>{"Login(0a1b2c3d4e5f60718293a4b5c6d7e8f9,block,x)",
                                                        "JoinRoom(9,,1,2)", "SetMuted(1)", "SetViewerMode(1)"}));
    EXPECT_EQ(replies_.Texts("_nim_login").size(), 1u);
    platform::FreeModule(module);
}

TEST_F(NimTest, JoinRoomArgumentRules) {
    window_.Send("_nim_join_room", "rtmp_url=r");  // no room id: nothing
    window_.Send("_nim_join_room", "room_id=5&high_rate=FALSE");
    window_.Send("_nim_join_room", "room_id=6&high_rate=false&audio_mode=abc&rtmp_url=rtmp://h/a?b=c");
    window_.Send("_nim_join_room", "room_id=7&audio_mode=-3&high_rate=true");
    EXPECT_EQ(CommandCalls(), (std::vector<std::string>{"JoinRoom(5,,1,2)", "JoinRoom(6,rtmp://h/a?b=c,0,0)",
                                                               "JoinRoom(7,,1,-3)"}));
    EXPECT_EQ(log_.CountLine("NimBusiness Join Room room_id 5rtmp_url = "), 1u);
    // The address's query may carry a token: it is not written in clear.
    EXPECT_EQ(log_.CountLine("NimBusiness Join Room room_id 6rtmp_url = rtmp://h/a?***"), 1u);
}

TEST_F(NimTest, JoinedRoomAnswersThroughTheMainWindowWithAccountAndChannel) {
    window_.Send("_nim_login", "user=alice&pass=pw");
    nim_.WaitForCommands();
    replies_.Clear();
    window_.Send("_nim_join_room", "room_id=5");
    ASSERT_TRUE(replies_.WaitFor("_nim_join_room", 1));
    auto replies = replies_.Replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].browserId, kMainBrowserId);
    Json::Value data = ReplyData(platform::WideToUtf8(replies[0].text));
    EXPECT_EQ(data["account"].asString(), "alice");
    EXPECT_EQ(data["room_id"].asString(), "5");
    ASSERT_TRUE(data["channelId"].isUInt64());
    std::string channel = std::to_string(data["channelId"].asUInt64());
    EXPECT_EQ(nim_.ChannelId(), channel);
    EXPECT_EQ(log_.CountLine("NimBusiness Join Room Success"), 1u);

    window_.Send("_nim_leave_room", "");
    EXPECT_EQ(CommandCalls().back(), "LeaveRoom(" + channel + ")");
    EXPECT_EQ(log_.CountLine("NimBusiness Leave Room"), 1u);
    // Leaving does not forget the channel id.
    EXPECT_EQ(nim_.ChannelId(), channel);
}

TEST_F(NimTest, LeaveBeforeAnyRoomPassesAnEmptyChannelId) {
    window_.Send("_nim_leave_room", "anything=1");
    EXPECT_EQ(CommandCalls(), (std::vector<std::string>{"LeaveRoom()"}));
}

TEST_F(NimTest, DeviceCommandsPassDecodedPathsAndFlagsExactly) {
    window_.Send("_nim_start_mic_device", "path=a=b&test=true");
    window_.Send("_nim_start_mic_device", "test=TRUE");
    window_.Send("_nim_end_mic_device", "test=true");
    window_.Send("_nim_end_mic_device", "");
    window_.Send("_nim_start_audio_device", "path=%41");
    window_.Send("_nim_end_audio_device", "");
    window_.Send("_nim_start_audio_play_device", "path=hw:9,9&path=second");
    window_.Send("_nim_end_audio_play_device", "");
    EXPECT_EQ(CommandCalls(),
              (std::vector<std::string>{"StartMicDevice(a=b,1)", "StartMicDevice(,0)", "EndMicDevice(1)",
                                        "EndMicDevice(0)", "StartAudioDevice(A)", "EndAudioDevice()",
                                        "StartAudioPlayDevice(hw:9,9)", "EndAudioPlayDevice()"}));
    EXPECT_EQ(log_.CountLine("NimBusiness Start Mic Device"), 2u);
    EXPECT_EQ(log_.CountLine("NimBusiness End Mic Device"), 2u);
    EXPECT_EQ(log_.CountLine("NimBusiness Start Audio DeviceA"), 1u);
    EXPECT_EQ(log_.CountLine("NimBusiness End Audio Device"), 1u);
    EXPECT_EQ(log_.CountLine("NimBusiness Start Audio Play Devicehw:9,9"), 1u);
    EXPECT_EQ(log_.CountLine("NimBusiness End Audio Play Device"), 1u);
}

TEST_F(NimTest, SettingsNeedAValueAndConvertItStrictly) {
    window_.Send("_nim_set_muted", "muted=");
    window_.Send("_nim_set_muted", "muted=true");
    window_.Send("_nim_set_muted", "muted=yes");
    window_.Send("_nim_set_viewermode", "viewer=");
    window_.Send("_nim_set_viewermode", "viewer=true");
    window_.Send("_nim_set_viewermode", "viewer=True");
    window_.Send("_nim_set_mic_volumn", "volumn=");
    window_.Send("_nim_set_mic_volumn", "volumn=abc");
    window_.Send("_nim_set_mic_volumn", "volumn= 80db");
    window_.Send("_nim_set_audio_volumn", "volumn=-5");
    EXPECT_EQ(CommandCalls(),
              (std::vector<std::string>{"SetMuted(1)", "SetMuted(0)", "SetViewerMode(1)", "SetViewerMode(0)",
                                        "SetMicVolumn(0)", "SetMicVolumn(80)", "SetAudioVolumn(-5)"}));
    EXPECT_EQ(log_.CountLine("NimBusiness Set Muted"), 2u);
    EXPECT_EQ(log_.CountLine("NimBusiness Set Viewer Mode"), 2u);
    EXPECT_EQ(log_.CountLine("NimBusiness Set Mic Volumn"), 2u);
    EXPECT_EQ(log_.CountLine("NimBusiness Set Audio Volumn"), 1u);
}

TEST_F(NimTest, GettersAndLogoutNeverAnswer) {
    for (const char* name : {"_nim_get_muted", "_nim_get_mic_volumn", "_nim_get_audio_volumn", "_nim_get_viewermode"})
        window_.Send(name, "muted=true&volumn=3&viewer=true");
    EXPECT_TRUE(CommandCalls().empty());
    window_.Send("_nim_logout", "");
    EXPECT_EQ(CommandCalls(), (std::vector<std::string>{"Logout()"}));
    EXPECT_TRUE(replies_.Replies().empty());
    EXPECT_TRUE(log_.Lines().empty());
}

TEST_F(NimTest, EnumDeviceAnswersWithTheMachinesDevices) {
    window_.Send("_nim_enum_device", "");
    ASSERT_TRUE(replies_.WaitFor("_nim_enum_device", 1));
    auto replies = replies_.Replies();
    EXPECT_EQ(replies[0].browserId, kMainBrowserId);
    Json::Value data = ReplyData(platform::WideToUtf8(replies[0].text));
    ASSERT_TRUE(data["devices"].isArray());
    EXPECT_EQ(data["devices"].size(), 3u);
    EXPECT_EQ(log_.CountLine("NimBusiness Enum Device"), 1u);
    EXPECT_EQ(log_.CountLine("NimBusiness Enum Device Success"), 1u);
}

TEST_F(NimTest, RunningDeviceReportsStartAndSendsThinnedVolumes) {
    window_.Send("_nim_start_mic_device", "");
    ASSERT_TRUE(qmtest::WaitUntil([&] { return log_.CountLine("NimBusiness Start Device Type0Success") == 1; },
                                  std::chrono::seconds(10)));
    // Two forwarded volume events need at least eleven from the module.
    ASSERT_TRUE(replies_.WaitFor("_nim_audio_volumn", 2));
    // The module's levels reach the page as the module sent them.
    for (const std::string& text : replies_.Texts("_nim_audio_volumn")) {
        Json::Value data = ReplyData(text);
        EXPECT_TRUE(data["volumn"].isInt()) << text;
        EXPECT_TRUE(data["self"]["speaking"].asBool()) << text;
        EXPECT_TRUE(data["members"].isArray()) << text;
    }
    // A device the machine does not have fails to start: no success line.
    window_.Send("_nim_start_audio_play_device", "path=no-such-device");
    ASSERT_TRUE(qmtest::WaitUntil([&] { return log_.CountLine("NimBusiness Start Device Type2Failed") == 1; },
                                  std::chrono::seconds(10)));
    EXPECT_EQ(log_.CountLine("NimBusiness Start Device Type2Success"), 0u);
}

// Events raised straight on the callback interface, as any module thread would.
TEST_F(NimTest, ThirtyVolumeEventsGiveExactlyThreeReplies) {
    NimBusiness nim(ModulePath());
    IXNimCallback& callback = nim;
    for (int i = 1; i <= 30; ++i) callback.OnAudioVolumn(("{\"n\":" + std::to_string(i) + "}").c_str());
    auto texts = replies_.Texts("_nim_audio_volumn");
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "{\"result\":{\"cbfn\":\"_nim_audio_volumn\",\"data\":{\"n\":1}}}\n");
    EXPECT_EQ(texts[1], "{\"result\":{\"cbfn\":\"_nim_audio_volumn\",\"data\":{\"n\":11}}}\n");
    EXPECT_EQ(texts[2], "{\"result\":{\"cbfn\":\"_nim_audio_volumn\",\"data\":{\"n\":21}}}\n");
    for (const auto& r : replies_.Replies()) EXPECT_EQ(r.browserId, kMainBrowserId);
    // The 31st is forwarded again; broken JSON goes out as null.
    callback.OnAudioVolumn("not json");
    texts = replies_.Texts("_nim_audio_volumn");
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[3], "{\"result\":{\"cbfn\":\"_nim_audio_volumn\",\"data\":null}}\n");
}

TEST_F(NimTest, JoinRoomEventStoresChannelIdsOfEverySize) {
    NimBusiness nim(ModulePath());
    IXNimCallback& callback = nim;
    EXPECT_TRUE(callback.OnJoinRoom("{\"channelId\":18446744073709551615}"));
    EXPECT_EQ(nim.ChannelId(), "18446744073709551615");
    EXPECT_TRUE(callback.OnJoinRoom("{\"channelId\":4294967296123}"));
    EXPECT_EQ(nim.ChannelId(), "4294967296123");
    // Without a channel id the stored text is 0 and the reply carries null.
    replies_.Clear();
    EXPECT_TRUE(callback.OnJoinRoom("{\"x\":1}"));
    EXPECT_EQ(nim.ChannelId(), "0");
    EXPECT_EQ(replies_.Texts()[0],
              "{\"result\":{\"cbfn\":\"_nim_join_room\",\"data\":{\"account\":\"\",\"channelId\":null,\"x\":1}}}\n");
}

TEST_F(NimTest, UnreadableChannelIdKeepsTheLastOneAndStillAnswers) {
    NimBusiness nim(ModulePath());
    qmtest::FakeWebWnd window(kBrowserId);
    nim.RegisterCommands(&window);
    IXNimCallback& callback = nim;
    ASSERT_TRUE(callback.OnJoinRoom("{\"channelId\":123}"));
    const char* unreadable[] = {
        "{\"channelId\":-1}",
        "{\"channelId\":18446744073709551616}",
        "{\"channelId\":99999999999999999999999999}",
        "{\"channelId\":1e300}",
        "{\"channelId\":12.5}",
        "{\"channelId\":\"abc\"}",
        "{\"channelId\":\"456\"}",
        "{\"channelId\":true}",
        "{\"channelId\":[1]}",
        "{\"channelId\":{}}",
    };
    replies_.Clear();
    for (const char* text : unreadable) {
        EXPECT_TRUE(callback.OnJoinRoom(text)) << text;
        EXPECT_EQ(nim.ChannelId(), "123") << text;
    }
    auto texts = replies_.Texts("_nim_join_room");
    ASSERT_EQ(texts.size(), std::size(unreadable));
    Json::Value data = ReplyData(texts[0]);
    EXPECT_EQ(data["channelId"].asInt(), -1);
    EXPECT_TRUE(data.isMember("account"));
    // Neither lock is left held: a login and a leave still work.
    ASSERT_TRUE(nim.Init());
    window.Send("_nim_login", "user=bob&pass=1");
    nim.WaitForCommands();
    EXPECT_EQ(nim.Account(), "bob");
    trace_.Clear();
    window.Send("_nim_leave_room", "");
    nim.WaitForCommands();
    EXPECT_EQ(trace_.CommandCalls(), (std::vector<std::string>{"LeaveRoom(123)"}));
    nim.Uninit();
}

TEST_F(NimTest, JoinRoomEventWithBrokenOrOddJsonStillAnswers) {
    NimBusiness nim(ModulePath());
    IXNimCallback& callback = nim;
    ASSERT_TRUE(callback.OnJoinRoom("{\"channelId\":9}"));
    replies_.Clear();
    EXPECT_TRUE(callback.OnJoinRoom("{broken"));
    EXPECT_TRUE(callback.OnJoinRoom(""));
    EXPECT_TRUE(callback.OnJoinRoom(nullptr));
    EXPECT_TRUE(callback.OnJoinRoom("[1,2]"));
    EXPECT_EQ(nim.ChannelId(), "9");
    auto texts = replies_.Texts("_nim_join_room");
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], "{\"result\":{\"cbfn\":\"_nim_join_room\",\"data\":null}}\n");
    EXPECT_EQ(texts[3], "{\"result\":{\"cbfn\":\"_nim_join_room\",\"data\":[1,2]}}\n");
}

TEST_F(NimTest, EnumDeviceEventForwardsWhatItParses) {
    NimBusiness nim(ModulePath());
    IXNimCallback& callback = nim;
    callback.OnEnumDevice("{\"devices\":[{\"name\":\"\xE4\xB8\xAD\"}]}");
    callback.OnEnumDevice("nope");
    auto replies = replies_.Replies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].text, L"{\"result\":{\"cbfn\":\"_nim_enum_device\",\"data\":{\"devices\":[{\"name\":\"\\u4e2d\"}]}}}\n");
    EXPECT_EQ(replies[1].text, L"{\"result\":{\"cbfn\":\"_nim_enum_device\",\"data\":null}}\n");
    EXPECT_EQ(log_.CountLine("NimBusiness Enum Device Success"), 2u);
}

TEST_F(NimTest, StartDeviceEventLogsSuccessOnly) {
    NimBusiness nim(ModulePath());
    IXNimCallback& callback = nim;
    callback.OnStartDevice(2, true);
    callback.OnStartDevice(1, false);
    EXPECT_FALSE(callback.OnLogin());
    EXPECT_EQ(log_.CountLine("NimBusiness Start Device Type2Success"), 1u);
    EXPECT_EQ(log_.CountLine("NimBusiness Start Device Type1Success"), 0u);
    EXPECT_EQ(log_.CountLine("NimBusiness Login User Success"), 1u);
}

}  // namespace
