// The voice-chat module's object and callback interfaces ("qm_nim.so"): the
// core module calls IXNimObject, the module answers through IXNimCallback.
// The slot order of both is part of the binary interface with the module.
//
// Both interfaces only grow at their end, and each side calls a later slot
// only when the other side said it has it:
// - the core calls IXNimObject::SetHost only on a module whose export
//   "xnim_interface_version" returns 2 or more (a module without that export
//   has the first 18 slots only);
// - the module calls IXNimCallback::OnRoomMembers only after SetHost told it
//   the callback has that slot (XNimHost::callbackVersion 2 or more). A core
//   that never calls SetHost gets the first five events only.
#pragma once

#include <cstdint>

// What the interface version 2 adds. Older sides report (or assume) 1.
constexpr int kXNimInterfaceVersion = 2;

// Events the module raises, on threads of its own. Texts are zero-terminated
// UTF-8 JSON, valid for the duration of the call.
class IXNimCallback {
public:
    virtual bool OnLogin() = 0;
    virtual bool OnJoinRoom(const char* json) = 0;
    virtual void OnEnumDevice(const char* json) = 0;
    virtual void OnAudioVolumn(const char* json) = 0;
    virtual void OnStartDevice(int deviceType, bool success) = 0;
    // Version 2. The members of the room the user is in, each time someone
    // joins, leaves, mutes, deafens or starts or stops talking (coalesced;
    // never sent twice alike). The README's voice section has the JSON.
    // (Not pure, so that receivers written for version 1 still build.)
    virtual void OnRoomMembers(const char* json) { (void)json; }

protected:
    ~IXNimCallback() = default;
};

// What the host (the core module) tells the module through SetHost. Later
// versions append fields; `size` says how many the host filled in, and a
// module reads no field that ends beyond it.
struct XNimHost {
    std::uint32_t size;             // sizeof(XNimHost) of the host's build
    std::uint32_t callbackVersion;  // the IXNimCallback slots the host has: 2 = OnRoomMembers too
    const char* profileFolder;      // UTF-8; where per-installation state is kept; may be empty
};

// The module's object, made by "create_object" and freed by "delete_object"
// (never deleted through this interface, hence no virtual destructor).
class IXNimObject {
public:
    virtual bool Init(const char* token, IXNimCallback* callback) = 0;
    virtual void Release() = 0;
    virtual bool Login(const char* appKey, const char* user, const char* password) = 0;
    virtual void Logout() = 0;
    virtual bool JoinRoom(const char* roomId, const char* rtmpUrl, bool highRate, int audioMode) = 0;
    virtual bool LeaveRoom(const char* channelId) = 0;
    virtual bool EnumDevice() = 0;
    virtual bool StartAudioPlayDevice(const char* path) = 0;
    virtual bool EndAudioPlayDevice() = 0;
    virtual bool StartAudioDevice(const char* path) = 0;
    virtual bool EndAudioDevice() = 0;
    virtual bool StartMicDevice(const char* path, bool test) = 0;
    virtual bool EndMicDevice(bool test) = 0;
    // Slot 14: part of the layout, never called by the core module.
    virtual bool Reserved() = 0;
    virtual bool SetViewerMode(bool viewer) = 0;
    virtual bool SetMuted(bool muted) = 0;
    virtual bool SetMicVolumn(int volume) = 0;
    virtual bool SetAudioVolumn(int volume) = 0;
    // Version 2, slot 19: what the host offers. Called once, before Init;
    // `host` and its texts are valid for the call only. Returns false for a
    // null or too short `host`. (Not pure, so that modules written for
    // version 1 still build; they export no version and are never asked.)
    virtual bool SetHost(const XNimHost* host) {
        (void)host;
        return false;
    }

protected:
    ~IXNimObject() = default;
};

// Device types the module reports in OnStartDevice and in its device list.
enum XNimDeviceType : int {
    kXNimDeviceMic = 0,        // microphone (capture)
    kXNimDeviceAudio = 1,      // audio source mixed into the room (capture)
    kXNimDeviceAudioPlay = 2,  // loudspeaker (playback)
};

// The module's exports: the two every module has, and the version export a
// module of version 2 or later adds.
extern "C" {
using XNimCreateObjectFn = IXNimObject* (*)();
using XNimDeleteObjectFn = void (*)(IXNimObject*);
using XNimInterfaceVersionFn = int (*)();
}
