#include "core/shell/module_state.h"

#include "core/services/identity/http_launch_app.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/version_note.h"

LaunchParameters& Launch() {
    static auto* parameters = new LaunchParameters();  // lives until the process ends
    return *parameters;
}

IQNObserverUI*& HostObserver() {
    static IQNObserverUI* observer = nullptr;
    return observer;
}

void SendLaunchReport(const std::string& cid, const std::string& ccid, const std::string& tgid,
                      const std::string& pid) {
    std::string version = platform::WideToAnsi(platform::FileVersionString(platform::ExecutablePath()));
    // An empty address means the statistics endpoint of "deploy.ini".
    HttpLaunchApp::Get()->SendVeskLaunchApp(cid, ccid, tgid, pid, version, "");
}
