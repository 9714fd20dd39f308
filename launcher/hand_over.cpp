#include "launcher/hand_over.h"

#include <atomic>

#include "common/log_record.h"
#include "common/log_text.h"
#include "launcher/instance_names.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "uilib/UiLib.h"

namespace {

const char kLog[] = "WinMainImplement";
const char kTag[] = "QMHO1\n";
constexpr int kMaxRefusalLines = 10;
std::atomic<int> g_refusals{0};

}  // namespace

std::string EncodeHandOver(const HandOverRequest& request) {
    std::string message = kTag;
    message += request.hasStartCid ? 'S' : 'R';
    if (request.hasStartCid) message += platform::WideToUtf8Lenient(request.startCid);
    return message;
}

bool DecodeHandOver(const std::string& message, HandOverRequest& request) {
    request = HandOverRequest();
    const std::size_t tag = sizeof(kTag) - 1;
    if (message.size() <= tag || message.compare(0, tag, kTag) != 0) return false;
    char kind = message[tag];
    if (kind == 'R') return message.size() == tag + 1;
    if (kind != 'S') return false;
    request.hasStartCid = true;
    std::string value = message.substr(tag + 1);
    // One line, as the section is read back: nothing may add lines or sections.
    std::size_t end = value.find_first_of(std::string("\r\n\0", 3));
    if (end != std::string::npos) value.resize(end);
    request.startCid = platform::Utf8ToWideLenient(value);
    return true;
}

void AcceptHandOver(const std::wstring& exeDir, const platform::HandOverEvent& event) {
    if (!event.fromThisUser) {
        if (g_refusals.fetch_add(1) < kMaxRefusalLines)
            QM_LOG(kLog) << "<Quenor> a connection of user " << event.peerUid << " to the instance guard refused";
        return;
    }
    HandOverRequest request;
    if (!DecodeHandOver(event.message, request)) {
        QM_LOG(kLog) << "<Quenor> a malformed hand-over of " << event.message.size() << " bytes ignored";
        return;
    }
    HWND main = UiLib::FindWindowW(instance_names::kMainWindowClass, nullptr);
    if (main) {
        UiLib::ShowWindow(main, SW_RESTORE);
        UiLib::SetForegroundWindow(main);
    }
    if (!request.hasStartCid) {
        QM_LOG(kLog) << "<Quenor> a second start asked for the window";
        return;
    }
    std::vector<std::wstring> body;
    if (!request.startCid.empty()) body.push_back(request.startCid);
    std::wstring ini = platform::JoinPath(exeDir, L"out_start.ini");
    if (!platform::WriteIniSection(ini, L"Start_Cid", body))
        QM_LOG(kLog) << "<Quenor> cannot write " << EscapeForLog(platform::WideToAnsi(ini));
    QM_LOG(kLog) << "<Quenor> a second start handed over the start channel \""
                 << EscapeForLog(platform::WideToAnsi(request.startCid)) << "\"";
    // Handled before the next hand-over is read: the section holds this start's channel.
    if (main) UiLib::SendMessageW(main, instance_names::kStartChannelMessage, 0, 0);
}
