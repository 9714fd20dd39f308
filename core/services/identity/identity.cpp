// Machine identity: cafe group id, host name, boot id, client version.
#include <glib.h>

#include <atomic>
#include <cctype>
#include <mutex>

#include <fmt/format.h>

#include "common/log_record.h"
#include "common/log_text.h"
#include "core/services/identity/boot_time.h"
#include "core/services/identity/http_launch_app.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "platform/version_note.h"

namespace {

struct GidLocation {
    const wchar_t* key;
    const wchar_t* value;
};

// Cafe management products of the maker, in the order their group id counts.
constexpr GidLocation kGidLocations[] = {
    {L"SOFTWARE\\Mervane Network\\Quenor", L"GID"},
    {L"SOFTWARE\\Mervane Network\\Pelorin", L"GID"},
    {L"SOFTWARE\\Mervane Network\\Tessaly", L"NetbarId"},
};

}  // namespace

HttpLaunchApp* HttpLaunchApp::Get() {
    static HttpLaunchApp* instance = new HttpLaunchApp();  // lives until the process ends
    return instance;
}

HttpLaunchApp::HttpLaunchApp(std::wstring installDir)
    : installDir_(installDir.empty() ? platform::ExecutableDir() : std::move(installDir)) {}

HttpLaunchApp::~HttpLaunchApp() {
    std::unique_lock<std::mutex> lock(reportsLock_);
    reportsDone_.wait(lock, [this] { return reportsRunning_ == 0; });
}

std::string HttpLaunchApp::ReadGid() const {
    platform::ReadStatus status = platform::RegistryFileStatus();
    static std::atomic<bool> reported{false};
    if (status != platform::ReadStatus::Ok && status != platform::ReadStatus::Missing && !reported.exchange(true)) {
        QM_LOG("Logic\\Http_Interface\\HttpLaunchApp")
            << "<qm> machine registry file " << platform::ReadStatusText(status) << ", no group id read: "
            << EscapeForLog(platform::WideToAnsi(platform::RegistryFilePath()));
    }
    for (const GidLocation& location : kGidLocations) {
        platform::RegistryKey key;
        std::wstring text;
        if (key.Open(location.key) && key.QueryString(location.value, text) && !text.empty())
            return platform::WideToAnsi(text);
    }
    return {};
}

std::string HttpLaunchApp::PcName() {
    std::lock_guard<std::mutex> lock(pcNameLock_);
    if (pcNameCache_.empty()) {
        std::string name;
        if (platform::HostName(name) && !name.empty()) pcNameCache_ = name;
    }
    return pcNameCache_;
}

std::string HttpLaunchApp::BootTimeText() {
    // Once per process (and, through the memo, per boot); an unknown boot
    // time is asked for again next time.
    static std::mutex lock;
    static std::string text;
    std::lock_guard<std::mutex> guard(lock);
    if (text.empty()) text = RememberedBootTimeText(BootFacts::Machine());
    return text;
}

std::string HttpLaunchApp::BootId(const std::string& gidAnsi, const std::string& pcName) {
    std::string source = gidAnsi + pcName + BootTimeText();
    GChecksum* md5 = g_checksum_new(G_CHECKSUM_MD5);
    g_checksum_update(md5, reinterpret_cast<const guchar*>(source.data()), static_cast<gssize>(source.size()));
    std::string hex = g_checksum_get_string(md5);
    g_checksum_free(md5);
    for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex;
}

std::string HttpLaunchApp::Version() const {
    return platform::WideToAnsi(platform::ProductVersionString(platform::JoinPath(installDir_, L"qm_version.so")));
}

void HttpLaunchApp::Prime() {
    // Only the host name is kept; the boot id is computed fresh for each report.
    if (ReadGid().empty()) return;
    PcName();
}

void HttpLaunchApp::GetIdentity(std::string& mac, std::string& bootId, std::string& gid, std::string& pcName) {
    std::string gidAnsi = ReadGid();
    std::string macAnsi;  // no adapter address is sent
    std::string pcNameAnsi = PcName();
    std::string bootIdText = BootId(gidAnsi, pcNameAnsi);
    gid = platform::AnsiToUtf8(gidAnsi);
    mac = platform::AnsiToUtf8(macAnsi);
    pcName = platform::AnsiToUtf8(pcNameAnsi);
    bootId = bootIdText;  // pure ASCII
}

std::string HttpLaunchApp::IdentityText() {
    std::string mac, bootId, gid, pcName;
    GetIdentity(mac, bootId, gid, pcName);
    return fmt::format("gid={gid}&mac={mac}&pcname={pcname}&bootid={bootid}", fmt::arg("gid", gid),
                       fmt::arg("mac", mac), fmt::arg("pcname", pcName), fmt::arg("bootid", bootId));
}

Json::Value HttpLaunchApp::ClientInfo() {
    std::string version = Version();
    std::string mac, bootId, gid, pcName;
    GetIdentity(mac, bootId, gid, pcName);
    Json::Value data(Json::objectValue);
    data["gid"] = gid;
    data["mac"] = mac;
    data["pc_name"] = pcName;
    data["boot_id"] = bootId;
    data["version"] = version;
    return data;
}
