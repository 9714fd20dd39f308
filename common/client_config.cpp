#include "common/client_config.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cwchar>

#include "common/log_record.h"
#include "common/log_text.h"
#include "platform/dynlib.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "platform/state_dirs.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "platform/version_note.h"

namespace {

const char kLogSource[] = "ClientConfig";

std::wstring FrontendUrl(const std::wstring& host) {
    return host.empty() ? std::wstring() : L"https://" + host + L"/?inner=pc&";
}

ChannelInfo MakeChannel(const std::wstring& name, const std::wstring& web, const std::wstring& test,
                        const std::wstring& cidSwitch) {
    ChannelInfo c;
    c.displayName = name;
    c.displayNameAnsi = platform::WideToAnsi(name);
    c.webUrl = web;
    c.testWebUrl = test;
    c.productName = name;
    c.cidSwitch = cidSwitch;
    return c;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// "host=fingerprint" lines; the fingerprint as tools print it (colons, spaces
// and either case allowed) or "any". A line that names neither is logged and left out.
std::vector<TlsException> ParseTlsExceptions(const std::vector<std::wstring>& lines) {
    std::vector<TlsException> out;
    for (const std::wstring& line : lines) {
        size_t eq = line.find(L'=');
        if (eq == std::wstring::npos) continue;
        std::string host = platform::ToLowerAscii(platform::WideToUtf8(line.substr(0, eq)));
        std::string raw = platform::ToLowerAscii(platform::WideToUtf8(line.substr(eq + 1)));
        host.erase(0, host.find_first_not_of(' '));
        host.erase(host.find_last_not_of(' ') + 1);
        std::string sha256;
        for (char c : raw)
            if (c != ':' && c != ' ') sha256 += c;
        bool any = sha256 == "any";
        bool pin = sha256.size() == 64 && std::all_of(sha256.begin(), sha256.end(), IsHexDigit);
        if (host.empty() || host.find_first_of(", \t") != std::string::npos || (!any && !pin)) {
            QM_LOG(kLogSource) << "<qm> deployment file: TLS exception \"" << EscapeForLog(platform::WideToAnsi(line), 80)
                               << "\" ignored: give HOST=SHA-256 fingerprint or HOST=any";
            continue;
        }
        out.push_back({host, any ? std::string() : sha256});
    }
    return out;
}

// A scheme as addresses spell it: a letter, then letters, digits, '+', '-', '.'.
bool IsSchemeName(const std::string& s) {
    if (s.empty() || s.size() > 64 || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
    for (char c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
    return true;
}

std::vector<std::string> ParseLaunchSchemes(const std::wstring& text) {
    // Schemes the engine shows itself are page loads, never launches, and
    // local files are not the desktop's to open for a page.
    static const char* const kNever[] = {"http", "https", "mailto", "file", "about", "data", "blob", "javascript"};
    std::vector<std::string> out;
    std::string list = platform::ToLowerAscii(platform::WideToUtf8(text));
    for (char& c : list)
        if (c == ',' || c == ';' || c == '\t') c = ' ';
    size_t begin = 0;
    while (begin < list.size()) {
        size_t end = list.find(' ', begin);
        if (end == std::string::npos) end = list.size();
        std::string scheme = list.substr(begin, end - begin);
        begin = end + 1;
        if (scheme.empty()) continue;
        if (scheme.back() == ':') scheme.pop_back();
        bool never = std::find(std::begin(kNever), std::end(kNever), scheme) != std::end(kNever);
        if (!IsSchemeName(scheme) || never) {
            QM_LOG(kLogSource) << "<qm> deployment file: [launch] scheme " << EscapeForLog(scheme, 80)
                               << (never ? " is not one to hand to the desktop; ignored" : " is no scheme; ignored");
            continue;
        }
        if (std::find(out.begin(), out.end(), scheme) == out.end()) out.push_back(scheme);
    }
    if (!out.empty()) {
        std::string names;
        for (const std::string& s : out) names += (names.empty() ? "" : ", ") + s;
        QM_LOG(kLogSource) << "<qm> pages may have the desktop open addresses of: http, https, mailto, " << names;
    }
    return out;
}

}  // namespace

std::wstring DeployConfig::DefaultPath() {
    std::string env = platform::GetEnv("QM_DEPLOY_FILE");
    if (!env.empty()) return platform::FromNativePath(env);
    // The package's copy is the administrator's, kept across upgrades; a
    // side-by-side folder (a copy, a build) keeps its own.
    if (platform::RunningFromPackage()) return platform::JoinPath(platform::PackageConfigDir(), L"deploy.ini");
    return platform::JoinPath(platform::ExecutableDir(), L"deploy.ini");
}

DeployConfig DeployConfig::Load() { return LoadFrom(DefaultPath()); }

DeployConfig DeployConfig::LoadFrom(const std::wstring& path) {
    DeployConfig d;
    std::string bytes;
    platform::ReadStatus status = platform::ReadConfigFile(path, bytes);
    if (status != platform::ReadStatus::Ok) {
        QM_LOG(kLogSource) << "<qm> deployment file " << platform::ReadStatusText(status)
                           << ", front-end and statistics hosts are empty: "
                           << EscapeForLog(platform::WideToAnsi(path));
        return d;
    }
    auto frontend = platform::ParseIniSection(bytes, L"frontend");
    auto statistics = platform::ParseIniSection(bytes, L"statistics");
    auto voice = platform::ParseIniSection(bytes, L"voice");
    auto limits = platform::ParseIniSection(bytes, L"limits");
    if (frontend.empty() && statistics.empty() && voice.empty()) {
        QM_LOG(kLogSource) << "<qm> deployment file malformed (no [frontend], [statistics] or [voice] section): "
                           << EscapeForLog(platform::WideToAnsi(path));
        return d;
    }
    auto value = [](const std::vector<std::wstring>& lines, const std::wstring& key) {
        for (const auto& line : lines) {
            size_t eq = line.find(L'=');
            if (eq == std::wstring::npos) continue;
            std::wstring k = line.substr(0, eq), v = line.substr(eq + 1);
            while (!k.empty() && k.back() == L' ') k.pop_back();
            while (!v.empty() && v.front() == L' ') v.erase(v.begin());
            if (platform::EqualsIgnoreCaseAscii(k, key)) return v;
        }
        return std::wstring();
    };
    d.frontendDefault = value(frontend, L"default");
    d.frontendS1 = value(frontend, L"s1");
    d.frontendS1Test = value(frontend, L"s1_test");
    d.frontendS2 = value(frontend, L"s2");
    d.frontendS2Test = value(frontend, L"s2_test");
    d.frontendT = value(frontend, L"t");
    d.frontendTTest = value(frontend, L"t_test");
    d.statisticsHost = value(statistics, L"host");
    d.hasVoice = !voice.empty();
    d.voiceHost = value(voice, L"host");
    d.voiceFingerprint = value(voice, L"fingerprint");
    d.voiceEchoCancellation = value(voice, L"echo_cancellation");
    d.voiceNoiseSuppression = value(voice, L"noise_suppression");
    d.voiceAutoGain = value(voice, L"auto_gain");
    d.voiceSpeechDetection = value(voice, L"speech_detection");
    std::wstring rate = value(limits, L"page_calls_per_second");
    if (!rate.empty()) {
        wchar_t* end = nullptr;
        double v = std::wcstod(rate.c_str(), &end);
        if (end && *end == L'\0' && v >= 1 && v <= 1e7) {
            d.pageCallsPerSecond = v;
            QM_LOG(kLogSource) << "<qm> page commands limited to " << v << " a second per page";
        } else {
            QM_LOG(kLogSource) << "<qm> deployment file: page_calls_per_second " << EscapeForLog(platform::WideToAnsi(rate))
                               << " is no number from 1 to 10000000; the default "
                               << DeployConfig::kDefaultPageCallsPerSecond << " applies";
        }
    }
    d.tlsExceptions = ParseTlsExceptions(platform::ParseIniSection(bytes, L"tls_exceptions"));
    d.launchSchemes = ParseLaunchSchemes(value(platform::ParseIniSection(bytes, L"launch"), L"schemes"));
    return d;
}

std::string DeployConfig::StatisticsEndpoint() const {
    if (statisticsHost.empty()) return {};
    std::string host = platform::WideToUtf8(statisticsHost);
    // "https://HOST[:PORT]" sends over verified TLS (port 443 unless given);
    // "http://HOST[:PORT]" is the same as the bare host.
    std::string scheme = "http";
    std::string lower = platform::ToLowerAscii(host);
    for (const char* prefix : {"https://", "http://"}) {
        size_t n = std::strlen(prefix);
        if (lower.compare(0, n, prefix) != 0) continue;
        scheme = lower.substr(0, n - 3);
        host = host.substr(n);
        if (!host.empty() && host.back() == '/') host.pop_back();
        // A host and a port, nothing else: a path, a query or user information
        // would change where the identity goes.
        if (host.empty() || host.find_first_of("/?#@\\ \t\r\n") != std::string::npos) return {};
        if (scheme == "https") return "https://" + host + "/opt=put";
        break;
    }
    // A host with its own port ("127.0.0.1:9000", "[::1]:9000") keeps it.
    bool hasPort = host[0] == '[' ? host.find("]:") != std::string::npos : host.find(':') != std::string::npos;
    return "http://" + host + (hasPort ? "" : ":8888") + "/opt=put";
}

CClientConfig* CClientConfig::Get() {
    static CClientConfig* instance = new CClientConfig();  // lives until the process ends
    return instance;
}

CClientConfig::CClientConfig() {
    // Only the module beside the executable counts: the channel belongs to this installation.
    versionModulePath_ = platform::JoinPath(platform::ExecutableDir(), L"qm_version.so");
    versionModule = platform::GetLoadedModule(versionModulePath_);
    if (!versionModule) versionModule = platform::LoadModule(versionModulePath_);
}

std::wstring CClientConfig::GetChannelId() {
    if (!versionModule) return {};
    std::wstring id;
    if (!platform::ReadStringResource(versionModulePath_, 101, id)) return {};
    if (id.size() > 259) id.resize(259);
    return id;
}

void CClientConfig::ResolveChannel(const std::string& newCid) {
    cid = newCid;
    channel = LookupChannel(newCid, DeployConfig::Load());
}

ChannelInfo CClientConfig::LookupChannel(const std::string& id, const DeployConfig& d) {
    static const char* const kDefaultBrand[] = {
        "83302ACB1000", "B20E9C421001", "12E542701001", "DB73EA261001", "DB73EA261002",
        "F3EA15RF4762", "83302ACB1086", "DB73EA261399", "H6WSW0X01624", "E25144875362",
        "2BGY2TFA9649", "2BGY2TFA6238", "2BGY2TFA3575", "83302ACB1052",
    };
    for (const char* known : kDefaultBrand) {
        if (id == known) {
            std::wstring url = FrontendUrl(d.frontendDefault);
            return MakeChannel(L"Rawen", url, url, L"*cid:83302ACB1052");
        }
    }
    if (id == "1BFC1AB11001")
        return MakeChannel(L"Solvey", FrontendUrl(d.frontendS1), FrontendUrl(d.frontendS1Test), L"*cid:1BFC1AB11001");
    if (id == "1BFC1AB11002")
        return MakeChannel(L"Tamberly", FrontendUrl(d.frontendT), FrontendUrl(d.frontendTTest), L"*cid:1BFC1AB11002");
    if (id == "E25144871001")
        return MakeChannel(L"Tamberly", FrontendUrl(d.frontendT), FrontendUrl(d.frontendTTest), L"*cid:E25144871001");
    if (id == "83302ACB1058")
        return MakeChannel(L"Solvey", FrontendUrl(d.frontendS2), FrontendUrl(d.frontendS2Test), L"*cid:83302ACB1058");
    return ChannelInfo();
}
