#include "core/services/nim/nim_business.h"

#include <json/reader.h>
#include <json/value.h>

#include "common/log_record.h"
#include "common/log_text.h"
#include "core/services/reply/js_reply.h"
#include "core/services/reply/main_web_wnd.h"
#include "kxcef/profile.h"
#include "platform/debug_output.h"
#include "platform/dynlib.h"
#include "platform/text.h"

namespace {

constexpr const char kLogSource[] = "Logic\\Business\\NimBusiness\\NimBusiness";
constexpr const char kInitToken[] = "9f8e7d6c5b4a39281706f5e4d3c2b1a0";

// A channel id the page can rely on: absent or null reads as 0, a whole number
// in the unsigned 64-bit range as itself; anything else cannot be read.
bool ReadChannelId(const Json::Value& value, Json::UInt64& out) {
    if (value.isNull()) {
        out = 0;
        return true;
    }
    if (!value.isNumeric() || !value.isUInt64()) return false;
    out = value.asUInt64();
    return true;
}

bool ParseJson(const char* text, Json::Value& out) {
    out = Json::Value();
    if (!text) return false;
    Json::Reader reader;
    if (reader.parse(std::string(text), out)) return true;
    out = Json::Value();
    return false;
}

}  // namespace

NimBusiness* NimBusiness::Get() {
    static NimBusiness* instance = new NimBusiness();  // lives until the process ends
    return instance;
}

NimBusiness::NimBusiness(std::wstring moduleName) : moduleName_(std::move(moduleName)) {}

NimBusiness::~NimBusiness() { Uninit(); }

bool NimBusiness::Init() {
    bool loaded = Load();
    // Whatever the load ended in, the commands held for it may run.
    {
        std::lock_guard<std::mutex> lock(initLock_);
        initDone_ = true;
    }
    initRan_.notify_all();
    return loaded;
}

bool NimBusiness::Load() {
    std::lock_guard<std::mutex> lock(moduleLock_);
    if (module_ || nim_) return false;
    module_ = platform::LoadModule(moduleName_);
    if (!module_) return false;
    auto create = reinterpret_cast<XNimCreateObjectFn>(platform::GetExport(module_, "create_object"));
    if (!create) return false;  // the library stays loaded; a later Init refuses at once
    nim_ = create();
    if (!nim_) return false;
    // A module that reports version 2 has SetHost and may raise OnRoomMembers;
    // an older one has neither, and is told nothing.
    auto version = reinterpret_cast<XNimInterfaceVersionFn>(platform::GetExport(module_, "xnim_interface_version"));
    if (version && version() >= 2) {
        std::string profile(KXCEF2_ProfileDirectory(nullptr, 0), '\0');
        KXCEF2_ProfileDirectory(profile.data(), profile.size() + 1);
        XNimHost host{sizeof(XNimHost), static_cast<std::uint32_t>(kXNimInterfaceVersion), profile.c_str()};
        nim_->SetHost(&host);
    }
    return nim_->Init(kInitToken, static_cast<IXNimCallback*>(this));
}

bool NimBusiness::Uninit() {
    // Commands still waiting are dropped; the one running (a login waits at
    // most 5 s) ends before the module goes.
    closing_.store(true);
    {
        std::lock_guard<std::mutex> lock(initLock_);  // a held queue sees closing_ once woken
    }
    initRan_.notify_all();
    worker_.wait();
    closing_.store(false);
    std::lock_guard<std::mutex> lock(moduleLock_);
    if (!nim_ || !module_) return true;
    nim_->Release();
    if (auto destroy = reinterpret_cast<XNimDeleteObjectFn>(platform::GetExport(module_, "delete_object")))
        destroy(nim_);
    nim_ = nullptr;
    platform::FreeModule(module_);
    module_ = nullptr;
    return true;
}

void NimBusiness::HoldCommandsUntilInit() {
    worker_.schedule([this] {
        std::unique_lock<std::mutex> lock(initLock_);
        initRan_.wait(lock, [this] { return initDone_ || closing_.load(); });
    });
}

void NimBusiness::Queue(std::function<void()> task) {
    worker_.schedule([this, task = std::move(task)] {
        if (!closing_.load()) task();
    });
}

void NimBusiness::WaitForCommands() const { worker_.wait(); }

bool NimBusiness::IsLoaded() const {
    std::lock_guard<std::mutex> lock(moduleLock_);
    return nim_ != nullptr;
}

std::string NimBusiness::Account() const {
    std::lock_guard<std::mutex> lock(accountLock_);
    return account_;
}

std::string NimBusiness::ChannelId() const {
    std::lock_guard<std::mutex> lock(channelIdLock_);
    return channelId_;
}

bool NimBusiness::OnLogin() {
    QM_LOG(kLogSource) << "NimBusiness Login User Success";
    return false;
}

// A channel id that cannot be read (negative, beyond 64 bits, a fraction, text)
// keeps the stored channel id and leaves the module's value untouched in the
// reply: the page still learns that it joined, and leaving the room uses the
// last channel id that was valid. A text that parses to something other than an
// object (or null) is forwarded as it is, without "account".
bool NimBusiness::OnJoinRoom(const char* json) {
    QM_LOG(kLogSource) << "NimBusiness Join Room Success";
    Json::Value data;
    if (ParseJson(json, data) && (data.isObject() || data.isNull())) {
        data["account"] = Account();
        Json::UInt64 channel = 0;
        if (ReadChannelId(data["channelId"], channel)) {
            std::lock_guard<std::mutex> lock(channelIdLock_);
            channelId_ = std::to_string(channel);
        } else {
            QM_LOG(kLogSource) << "NimBusiness Join Room channelId unreadable, kept " << ChannelId();
        }
    }
    std::string reply = BuildCallbackJson(data, "_nim_join_room");
    platform::OutputDebugStringA("OnJoinRoom");
    platform::OutputDebugStringW(platform::Utf8ToWide(MaskUrlsIn(reply)));
    SendJsCallback(reply, MainBrowserId());
    return true;
}

void NimBusiness::OnEnumDevice(const char* json) {
    QM_LOG(kLogSource) << "NimBusiness Enum Device Success";
    Json::Value data;
    ParseJson(json, data);
    SendJsCallback(BuildCallbackJson(data, "_nim_enum_device"), MainBrowserId());
}

void NimBusiness::OnAudioVolumn(const char* json) {
    // Only the 1st, 11th, 21st ... event reaches the page.
    unsigned count = audioVolumnCount_.fetch_add(1);
    if (count % 10 != 0) return;
    audioVolumnCount_.fetch_sub(count);  // back to 0 + the one just counted
    Json::Value data;
    ParseJson(json, data);
    SendJsCallback(BuildCallbackJson(data, "_nim_audio_volumn"), MainBrowserId());
}

// Raised on every change of the room's members (coalesced by the module): no
// log line, the page is told.
void NimBusiness::OnRoomMembers(const char* json) {
    Json::Value data;
    ParseJson(json, data);
    SendJsCallback(BuildCallbackJson(data, "_nim_room_members"), MainBrowserId());
}

void NimBusiness::OnStartDevice(int deviceType, bool success) {
    if (success) {
        QM_LOG(kLogSource) << "NimBusiness Start Device Type" << deviceType << "Success";
    } else {
        QM_LOG(kLogSource) << "NimBusiness Start Device Type" << deviceType << "Failed";
    }
}
