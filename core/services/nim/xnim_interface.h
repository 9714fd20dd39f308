// The voice-chat module's object and callback interfaces ("qm_nim.so"): the
// core module calls IXNimObject, the module answers through IXNimCallback.
// The slot order of both is part of the binary interface with the module.
#pragma once

// Events the module raises, on threads of its own. Texts are zero-terminated
// UTF-8 JSON, valid for the duration of the call.
class IXNimCallback {
public:
    virtual bool OnLogin() = 0;
    virtual bool OnJoinRoom(const char* json) = 0;
    virtual void OnEnumDevice(const char* json) = 0;
    virtual void OnAudioVolumn(const char* json) = 0;
    virtual void OnStartDevice(int deviceType, bool success) = 0;

protected:
    ~IXNimCallback() = default;
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

protected:
    ~IXNimObject() = default;
};

// Device types the module reports in OnStartDevice and in its device list.
enum XNimDeviceType : int {
    kXNimDeviceMic = 0,        // microphone (capture)
    kXNimDeviceAudio = 1,      // audio source mixed into the room (capture)
    kXNimDeviceAudioPlay = 2,  // loudspeaker (playback)
};

// The module's two exports.
extern "C" {
using XNimCreateObjectFn = IXNimObject* (*)();
using XNimDeleteObjectFn = void (*)(IXNimObject*);
}
