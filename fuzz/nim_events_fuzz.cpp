// The voice-chat module's event texts as the core module turns them into page
// replies: any bytes give a reply that is valid JSON with the right "cbfn",
// and the stored channel id is always a plain number.
#include <json/reader.h>
#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/log_record.h"
#include "core/services/nim/nim_business.h"
#include "core/services/reply/js_reply.h"
#include "platform/debug_output.h"
#include "platform/text.h"

// The debugger output channel is dropped here (these definitions stand in for
// the platform's): every room event writes to it, which would flood the
// fuzzer's own output.
namespace platform {
void OutputDebugStringW(const std::wstring&) {}
void OutputDebugStringA(const std::string&) {}
}  // namespace platform

namespace {

std::vector<std::string>& Replies() {
    static std::vector<std::string> replies;
    return replies;
}

NimBusiness& Business() {
    static NimBusiness* business = [] {
        // Log lines would fill the disk: the log folder cannot be made here.
        qmlog::SetExecutablePathForTesting(L"/dev/null/qm_fuzz");
        SetJsCommandSender([](const std::string& function, std::vector<VARIANT>& args, int) {
            if (function != "JsHandleCallBack" || args.size() != 1) __builtin_trap();
            Replies().push_back(platform::WideToUtf8(platform::VariantText(args[0])));
            return true;
        });
        return new NimBusiness(L"/nonexistent/qm_nim.so");
    }();
    return *business;
}

void CheckReply(const std::string& callback) {
    if (Replies().size() != 1) __builtin_trap();
    Json::Value reply;
    Json::Reader reader;
    if (!reader.parse(Replies()[0], reply) || !reply.isObject()) __builtin_trap();
    if (reply["result"]["cbfn"].asString() != callback) __builtin_trap();
    Replies().clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NimBusiness& nim = Business();
    std::string text(reinterpret_cast<const char*>(data), size);  // stops at a NUL, as the module's texts do
    Replies().clear();

    nim.OnJoinRoom(text.c_str());
    CheckReply("_nim_join_room");
    std::string channel = nim.ChannelId();
    for (char c : channel)
        if (c < '0' || c > '9') __builtin_trap();

    nim.OnEnumDevice(text.c_str());
    CheckReply("_nim_enum_device");

    nim.OnRoomMembers(text.c_str());
    CheckReply("_nim_room_members");

    // Every tenth volume event reaches the page; the first one of this run does.
    for (int i = 0; i < 10; ++i) nim.OnAudioVolumn(text.c_str());
    CheckReply("_nim_audio_volumn");
    return 0;
}
