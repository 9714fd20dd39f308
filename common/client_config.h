// The installation's channel: which brand name the window carries and which
// web front-end it opens. The channel id comes from string 101 of qm_version.so
// (or from the command line); the front-end hosts from "deploy.ini".
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

struct ChannelInfo {
    std::wstring displayName;
    std::string displayNameAnsi;  // code page 936
    std::wstring webUrl;
    std::wstring testWebUrl;
    std::wstring productName;
    std::wstring cidSwitch;
};

// A host whose TLS certificate is accepted although it fails verification:
// only the certificate with this SHA-256 fingerprint, or any when `sha256` is
// empty. For deployments whose front-end truly has no trusted certificate.
struct TlsException {
    std::string host;    // lower case, as in the front-end's address
    std::string sha256;  // 64 lower-case hex digits; empty: any certificate
};

// Deployment values: front-end hosts per brand, the statistics host, the
// voice server and the TLS exceptions, read from "deploy.ini" beside the
// executable, from the package's configuration folder when the executable is
// the package's (/etc/<product>/deploy.ini), or from the file QM_DEPLOY_FILE names.
struct DeployConfig {
    std::wstring frontendDefault;
    std::wstring frontendS1, frontendS1Test;
    std::wstring frontendS2, frontendS2Test;
    std::wstring frontendT, frontendTTest;
    std::wstring statisticsHost;
    // [voice]: host=HOST:PORT and the SHA-256 pin of its certificate (may be empty).
    bool hasVoice = false;
    std::wstring voiceHost;
    std::wstring voiceFingerprint;
    // [voice] switches of the microphone's processing, as written (the voice module reads them).
    std::wstring voiceEchoCancellation, voiceNoiseSuppression, voiceAutoGain, voiceSpeechDetection;
    // [limits] page_calls_per_second: page commands one page may send a second
    // (twice that in a burst). The default suits any front-end; a load test raises it.
    double pageCallsPerSecond = kDefaultPageCallsPerSecond;
    static constexpr double kDefaultPageCallsPerSecond = 100;
    // [tls_exceptions] HOST=FINGERPRINT or HOST=any; none: every TLS error fails the load.
    std::vector<TlsException> tlsExceptions;
    // [launch] schemes: schemes besides http, https and mailto that pages may
    // have the desktop open (a companion program's "example-app:"), lower case,
    // separated by commas or blanks. None by default.
    std::vector<std::string> launchSchemes;

    // Loads the file; a missing or malformed file logs one line and leaves every host empty.
    static DeployConfig Load();
    static DeployConfig LoadFrom(const std::wstring& path);
    static std::wstring DefaultPath();
    // "http://" + statistics host + ":8888/opt=put"; a host with its own ":port" keeps it;
    // "https://HOST[:PORT]" gives "https://HOST[:PORT]/opt=put"; empty when malformed.
    std::string StatisticsEndpoint() const;
};

class CClientConfig {
public:
    // The process-wide (per module) instance, created on first use.
    static CClientConfig* Get();

    // String 101 of qm_version.so; empty when the module or the string is missing.
    std::wstring GetChannelId();
    // Stores cid and replaces the channel record with the table's record for it.
    void ResolveChannel(const std::string& cid);
    ChannelInfo GetChannelInfo() const { return channel; }

    std::string cid;
    std::wstring launchArguments;
    ChannelInfo channel;
    HMODULE versionModule = nullptr;

    // The table's record for `cid` with the given deployment hosts (all empty for an unknown id).
    static ChannelInfo LookupChannel(const std::string& cid, const DeployConfig& deploy);

private:
    CClientConfig();
    std::wstring versionModulePath_;
};
