// The page's voice-chat commands: argument rules and module calls.
#include <json/value.h>

#include <memory>

#include "common/log_record.h"
#include "common/log_text.h"
#include "core/services/nim/nim_business.h"
#include "core/services/player/player_scan.h"
#include "core/services/reply/js_reply.h"
#include "core/services/reply/request_param.h"

namespace {

constexpr const char kLogSource[] = "Logic\\Business\\NimBusiness\\NimBusiness";
constexpr const char kAppKey[] = "0a1b2c3d4e5f60718293a4b5c6d7e8f9";

// Overwrites a secret before its memory is given back.
void WipeSecret(std::string& secret) {
    volatile char* p = secret.data();
    for (size_t i = 0; i < secret.size(); ++i) p[i] = 0;
    secret.clear();
}

}  // namespace

template <class Call>
bool NimBusiness::WithNim(Call call) {
    std::lock_guard<std::mutex> lock(moduleLock_);
    if (!nim_) return false;
    call(*nim_);
    return true;
}

void NimBusiness::QueueNimCall(const char* what, std::function<void(IXNimObject&)> call, std::string pageText) {
    Queue([this, what, call = std::move(call), pageText = std::move(pageText)] {
        WithNim([&](IXNimObject& nim) {
            std::string line = what;
            if (!pageText.empty()) line += PageTextForLog(pageText);
            QM_LOG(kLogSource) << line;
            call(nim);
        });
    });
}

const std::vector<NimBusiness::Command>& NimBusiness::Commands() {
    static const std::vector<Command> commands = {
        {"_nim_login", "_nim_login", &NimBusiness::OnNimLogin},
        {"_nim_logout", "", &NimBusiness::OnNimLogout},
        {"_nim_join_room", "_nim_join_room", &NimBusiness::OnNimJoinRoom},
        {"_nim_leave_room", "", &NimBusiness::OnNimLeaveRoom},
        {"_nim_start_mic_device", "", &NimBusiness::OnNimStartMicDevice},
        {"_nim_end_mic_device", "", &NimBusiness::OnNimEndMicDevice},
        {"_nim_start_audio_device", "", &NimBusiness::OnNimStartAudioDevice},
        {"_nim_end_audio_device", "", &NimBusiness::OnNimEndAudioDevice},
        {"_nim_start_audio_play_device", "", &NimBusiness::OnNimStartAudioPlayDevice},
        {"_nim_end_audio_play_device", "", &NimBusiness::OnNimEndAudioPlayDevice},
        {"_nim_get_muted", "", &NimBusiness::OnNimGetNothing},
        {"_nim_set_muted", "", &NimBusiness::OnNimSetMuted},
        {"_nim_get_mic_volumn", "", &NimBusiness::OnNimGetNothing},
        {"_nim_set_mic_volumn", "", &NimBusiness::OnNimSetMicVolumn},
        {"_nim_get_audio_volumn", "", &NimBusiness::OnNimGetNothing},
        {"_nim_set_audio_volumn", "", &NimBusiness::OnNimSetAudioVolumn},
        {"_nim_get_viewermode", "", &NimBusiness::OnNimGetNothing},
        {"_nim_set_viewermode", "", &NimBusiness::OnNimSetViewerMode},
        {"_nim_enum_device", "_nim_enum_device", &NimBusiness::OnNimEnumDevice},
        {"_nim_enum_player", "_nim_enum_player", &NimBusiness::OnNimEnumPlayer},
    };
    return commands;
}

void NimBusiness::RegisterCommands(QNInterface::WND::IQNWebWnd* window) {
    RegisterCommandTable(this, Commands(), window);
}

void NimBusiness::OnNimLogin(const Request& request, const std::string& callbackName) {
    std::string user;
    // The password lives on the heap only (never in a stack frame a crash
    // dump would capture) and is overwritten once the module has it.
    auto pass = std::make_shared<std::string>();
    GetRequestParam("user", request.data, user);
    GetRequestParam("pass", request.data, *pass);
    if (user.empty() || pass->empty()) return;
    ReplyAddress to = AddressOf(request);
    Queue([this, user, pass, to, callbackName] {
        bool result = false;
        bool reached = WithNim([&](IXNimObject& nim) {
            QM_LOG(kLogSource) << "NimBusiness Start Login User";
            {
                std::lock_guard<std::mutex> lock(accountLock_);
                account_ = user;
            }
            result = nim.Login(kAppKey, user.c_str(), pass->c_str());
        });
        WipeSecret(*pass);
        if (!reached) return;
        Json::Value data(Json::objectValue);
        data["res"] = result;
        SendJsCallback(BuildCallbackJson(data, callbackName), to);
    });
}

void NimBusiness::OnNimLogout(const Request&, const std::string&) {
    Queue([this] { WithNim([](IXNimObject& nim) { nim.Logout(); }); });
}

void NimBusiness::OnNimJoinRoom(const Request& request, const std::string&) {
    std::string roomId, rtmpUrl, value;
    if (!GetRequestParam("room_id", request.data, roomId)) return;
    GetRequestParam("rtmp_url", request.data, rtmpUrl);
    bool highRate = !(GetRequestParam("high_rate", request.data, value) && value == "false");
    int audioMode = 2;
    if (GetRequestParam("audio_mode", request.data, value)) audioMode = ParamInt(value);
    Queue([this, roomId, rtmpUrl, highRate, audioMode] {
        WithNim([&](IXNimObject& nim) {
            QM_LOG(kLogSource) << "NimBusiness Join Room room_id " << PageTextForLog(roomId) << "rtmp_url = "
                               << PageTextForLog(MaskUrl(rtmpUrl));
            nim.JoinRoom(roomId.c_str(), rtmpUrl.c_str(), highRate, audioMode);
        });
    });
}

void NimBusiness::OnNimLeaveRoom(const Request&, const std::string&) {
    Queue([this] {
        // Read when the call runs: a join queued before it has answered by then.
        std::string channelId = ChannelId();
        WithNim([&](IXNimObject& nim) {
            QM_LOG(kLogSource) << "NimBusiness Leave Room";
            nim.LeaveRoom(channelId.c_str());
        });
    });
}

void NimBusiness::OnNimStartMicDevice(const Request& request, const std::string&) {
    std::string path, test;
    GetRequestParam("path", request.data, path);
    GetRequestParam("test", request.data, test);
    bool isTest = ParamFlag(test);
    QueueNimCall("NimBusiness Start Mic Device", [=](IXNimObject& nim) { nim.StartMicDevice(path.c_str(), isTest); });
}

void NimBusiness::OnNimEndMicDevice(const Request& request, const std::string&) {
    std::string test;
    GetRequestParam("test", request.data, test);
    bool isTest = ParamFlag(test);
    QueueNimCall("NimBusiness End Mic Device", [=](IXNimObject& nim) { nim.EndMicDevice(isTest); });
}

void NimBusiness::OnNimStartAudioPlayDevice(const Request& request, const std::string&) {
    std::string path;
    GetRequestParam("path", request.data, path);
    QueueNimCall("NimBusiness Start Audio Play Device", [=](IXNimObject& nim) { nim.StartAudioPlayDevice(path.c_str()); },
                 path);
}

void NimBusiness::OnNimEndAudioPlayDevice(const Request&, const std::string&) {
    QueueNimCall("NimBusiness End Audio Play Device", [](IXNimObject& nim) { nim.EndAudioPlayDevice(); });
}

void NimBusiness::OnNimStartAudioDevice(const Request& request, const std::string&) {
    std::string path;
    GetRequestParam("path", request.data, path);
    QueueNimCall("NimBusiness Start Audio Device", [=](IXNimObject& nim) { nim.StartAudioDevice(path.c_str()); },
                 path);
}

void NimBusiness::OnNimEndAudioDevice(const Request&, const std::string&) {
    QueueNimCall("NimBusiness End Audio Device", [](IXNimObject& nim) { nim.EndAudioDevice(); });
}

void NimBusiness::OnNimSetMuted(const Request& request, const std::string&) {
    std::string muted;
    if (!GetRequestParam("muted", request.data, muted)) return;
    bool flag = ParamFlag(muted);
    QueueNimCall("NimBusiness Set Muted", [=](IXNimObject& nim) { nim.SetMuted(flag); });
}

void NimBusiness::QueueVolume(const Request& request, const char* what, bool (IXNimObject::*set)(int)) {
    std::string volume;
    if (!GetRequestParam("volumn", request.data, volume)) return;
    int value = ParamInt(volume);
    Queue([this, what, set, value] {
        QM_LOG(kLogSource) << what;  // written even without the module
        WithNim([&](IXNimObject& nim) { (nim.*set)(value); });
    });
}

void NimBusiness::OnNimSetMicVolumn(const Request& request, const std::string&) {
    QueueVolume(request, "NimBusiness Set Mic Volumn", &IXNimObject::SetMicVolumn);
}

void NimBusiness::OnNimSetAudioVolumn(const Request& request, const std::string&) {
    QueueVolume(request, "NimBusiness Set Audio Volumn", &IXNimObject::SetAudioVolumn);
}

void NimBusiness::OnNimSetViewerMode(const Request& request, const std::string&) {
    std::string viewer;
    if (!GetRequestParam("viewer", request.data, viewer)) return;
    bool flag = ParamFlag(viewer);
    QueueNimCall("NimBusiness Set Viewer Mode", [=](IXNimObject& nim) { nim.SetViewerMode(flag); });
}

void NimBusiness::OnNimEnumDevice(const Request&, const std::string&) {
    QueueNimCall("NimBusiness Enum Device", [](IXNimObject& nim) { nim.EnumDevice(); });
}

void NimBusiness::OnNimGetNothing(const Request&, const std::string&) {}

// "_nim_enum_player": which known music players run, and from where.
void NimBusiness::OnNimEnumPlayer(const Request& request, const std::string&) {
    QM_LOG("Logic\\Business\\NimBusiness\\NimBusiness") << "NimBusiness Enum Player";
    // The request ends with this call; the answer comes from the worker pool.
    // Only its address goes there: the request's window is the UI thread's,
    // and may be gone by the time the scan ends.
    PlayerScan::Get()->Request([to = AddressOf(request)](const Json::Value& data) {
        SendJsCallback(BuildCallbackJson(data, "_nim_enum_player"), to);
    });
}
