// The running instance's side of a hand-over: restore, record, report.
#include <atomic>

#include "common/core_protocol.h"
#include "common/log_record.h"
#include "common/log_text.h"
#include "launcher/hand_over.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/state_dirs.h"
#include "platform/text.h"
#include "uilib/UiLib.h"

namespace {

const char kLog[] = "WinMainImplement";
constexpr int kMaxRefusalLines = 10;
std::atomic<int> g_refusals{0};

}  // namespace

void AcceptHandOver(const std::wstring& ini, const platform::HandOverEvent& event) {
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
    // The window is this process's own: found without asking the display.
    HWND main = UiLib::FindOwnWindow(core_protocol::kMainWindowClass, nullptr);
    if (main) {
        // The second start's token lets the compositor grant the activation.
        UiLib::SetActivationToken(request.activationToken);
        UiLib::ShowWindow(main, SW_RESTORE);
        UiLib::SetForegroundWindow(main);
    }
    if (!request.hasStartCid) {
        QM_LOG(kLog) << "<Quenor> a second start asked for the window";
        return;
    }
    std::vector<std::wstring> body;
    if (!request.startCid.empty()) body.push_back(request.startCid);
    // The folder is made private only when it is the client's own (in the
    // user's folders); the executable's folder is left as it is.
    std::string why;
    if (!platform::ProcessStateDirs().PrepareFolder(platform::DirPart(ini), &why))
        QM_LOG(kLog) << "<Quenor> cannot use the folder of " << EscapeForLog(platform::WideToAnsi(ini)) << ": "
                     << EscapeForLog(why);
    else if (!platform::WriteIniSection(ini, L"Start_Cid", body))
        QM_LOG(kLog) << "<Quenor> cannot write " << EscapeForLog(platform::WideToAnsi(ini));
    QM_LOG(kLog) << "<Quenor> a second start handed over the start channel \""
                 << EscapeForLog(platform::WideToAnsi(request.startCid)) << "\"";
    // Handled before the next hand-over is read: the section holds this start's channel.
    if (main) UiLib::SendMessageW(main, core_protocol::kStartChannelMessage, 0, 0);
}
