// One user's machine in the voice tests: loads qm_nim.so the way the core
// module does (create_object, IXNimObject, IXNimCallback) and drives it from
// lines on standard input; every event and every finished call is one line
// on standard output. Its sound server is whatever PULSE_SERVER names, its
// voice server whatever QM_DEPLOY_FILE's [voice] names, and its profile folder
// the one the browser host library gives this executable, handed to the
// module as the core module does (SetHost).
//
//   voice_peer MODULE [--host-version 1]
// With --host-version 1 the peer plays a core module built before the room
// members event: it never calls SetHost, and a members event reaching it is
// reported as "event UNEXPECTED members" (a real old core has no such slot).
//
//   login USER PASS | logout | join ROOM [RTMP_URL [HIGH_RATE AUDIO_MODE]] | leave
//   mic PATH TEST | endmic TEST | play PATH | endplay | share PATH | endshare
//   mute 0|1 | viewer 0|1 | micvol N | vol N | enum | stats | quit
// A PATH of "-" is the empty path; %XX in a PATH or RTMP_URL is the byte XX.
#include <dlfcn.h>

#include <cctype>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>

#include "core/services/nim/xnim_interface.h"
#include "kxcef/profile.h"

namespace {

std::mutex g_out;

void Say(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_out);
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

bool g_oldHost = false;

class Events : public IXNimCallback {
public:
    void OnRoomMembers(const char* json) override {
        Say(std::string(g_oldHost ? "event UNEXPECTED members " : "event members ") + json);
    }
    bool OnLogin() override {
        Say("event login");
        return false;
    }
    bool OnJoinRoom(const char* json) override {
        Say(std::string("event join ") + json);
        return true;
    }
    void OnEnumDevice(const char* json) override { Say(std::string("event devices ") + json); }
    void OnAudioVolumn(const char* json) override { Say(std::string("event level ") + json); }
    void OnStartDevice(int type, bool ok) override {
        Say("event start " + std::to_string(type) + " " + (ok ? "1" : "0"));
    }
};

// "-" is the empty text; %XX escapes stand for any byte (a line break, a space).
std::string PathArg(const std::string& s) {
    if (s == "-") return "";
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: voice_peer MODULE [--host-version 1]\n");
        return 2;
    }
    g_oldHost = argc >= 4 && std::string(argv[2]) == "--host-version" && std::string(argv[3]) == "1";
    char profile[4096];
    KXCEF2_ProfileDirectory(profile, sizeof profile);  // also keeps the owner library loaded
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    auto create = reinterpret_cast<XNimCreateObjectFn>(dlsym(module, "create_object"));
    auto destroy = reinterpret_cast<XNimDeleteObjectFn>(dlsym(module, "delete_object"));
    IXNimObject* nim = create ? create() : nullptr;
    Events events;
    auto version = reinterpret_cast<XNimInterfaceVersionFn>(dlsym(module, "xnim_interface_version"));
    if (nim && !g_oldHost && version && version() >= 2) {
        XNimHost host{sizeof(XNimHost), static_cast<std::uint32_t>(kXNimInterfaceVersion), profile};
        if (!nim->SetHost(&host)) std::fprintf(stderr, "the module refuses its host\n");
    }
    if (!nim || !nim->Init("9f8e7d6c5b4a39281706f5e4d3c2b1a0", &events)) {
        std::fprintf(stderr, "the module does not start\n");
        return 1;
    }
    Say(std::string("ready ") + profile);
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string cmd, a, b, c, d;
        in >> cmd >> a >> b >> c >> d;
        if (cmd == "quit") break;
        if (cmd == "login") {
            bool ok = nim->Login("0a1b2c3d4e5f60718293a4b5c6d7e8f9", a.c_str(), b.c_str());
            Say(std::string("done login ") + (ok ? "1" : "0"));
            continue;
        }
        if (cmd == "logout") nim->Logout();
        else if (cmd == "join") nim->JoinRoom(PathArg(a).c_str(), PathArg(b).c_str(), c != "0", d.empty() ? 2 : std::atoi(d.c_str()));
        else if (cmd == "leave") nim->LeaveRoom("");
        else if (cmd == "mic") nim->StartMicDevice(PathArg(a).c_str(), b == "1");
        else if (cmd == "endmic") nim->EndMicDevice(a == "1");
        else if (cmd == "play") nim->StartAudioPlayDevice(PathArg(a).c_str());
        else if (cmd == "endplay") nim->EndAudioPlayDevice();
        else if (cmd == "share") nim->StartAudioDevice(PathArg(a).c_str());
        else if (cmd == "endshare") nim->EndAudioDevice();
        else if (cmd == "mute") nim->SetMuted(a == "1");
        else if (cmd == "viewer") nim->SetViewerMode(a == "1");
        else if (cmd == "micvol") nim->SetMicVolumn(std::atoi(a.c_str()));
        else if (cmd == "vol") nim->SetAudioVolumn(std::atoi(a.c_str()));
        else if (cmd == "enum") nim->EnumDevice();
        Say("done " + cmd);
    }
    nim->Release();
    destroy(nim);
    dlclose(module);
    Say("bye");
    return 0;
}
