// Voice chat for the page: loads the voice-chat module "qm_nim.so", turns the
// page's "_nim_*" commands into calls on its object and hands the module's
// events back to the page.
//
// The module's calls may wait on the network (a login takes up to 5 s), so
// the commands only read their arguments on the dispatching thread and hand
// the call to one serial worker: the page never waits, and the module gets
// the calls one at a time in the order the page sent them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/qn_interfaces.h"
#include "core/services/business/base_business.h"
#include "core/services/pool/task_pool.h"
#include "core/services/nim/xnim_interface.h"
#include "platform/win_types.h"

class NimBusiness : public IBaseBusiness, public IXNimCallback {
public:
    using Request = QNInterface::QNCEF::CEFRequest;
    using Command = PageCommand<NimBusiness>;

    // The process-wide instance, created on first use and never destroyed.
    static NimBusiness* Get();

    // `moduleName` is the voice module to load, by bare name (beside the
    // executable first) or by path.
    explicit NimBusiness(std::wstring moduleName = L"qm_nim.so");
    ~NimBusiness() override;
    NimBusiness(const NimBusiness&) = delete;
    NimBusiness& operator=(const NimBusiness&) = delete;

    // IBaseBusiness: load and unload the module.
    bool Init() override;
    bool Uninit() override;
    // The module loads a while after start, and a page may call at once:
    // commands that come before Init has run wait on the worker until it
    // has, instead of finding no module and going unanswered. Uninit lets
    // them go. Call before the page can call.
    void HoldCommandsUntilInit();

    // The commands in registration order.
    static const std::vector<Command>& Commands();
    // Registers every command on `window`, bound to this object; a name that is
    // already registered keeps its first handler.
    void RegisterCommands(QNInterface::WND::IQNWebWnd* window);

    // Page command handlers.
    void OnNimLogin(const Request& request, const std::string& callbackName);
    void OnNimLogout(const Request& request, const std::string& callbackName);
    void OnNimJoinRoom(const Request& request, const std::string& callbackName);
    void OnNimLeaveRoom(const Request& request, const std::string& callbackName);
    void OnNimStartMicDevice(const Request& request, const std::string& callbackName);
    void OnNimEndMicDevice(const Request& request, const std::string& callbackName);
    void OnNimStartAudioDevice(const Request& request, const std::string& callbackName);
    void OnNimEndAudioDevice(const Request& request, const std::string& callbackName);
    void OnNimStartAudioPlayDevice(const Request& request, const std::string& callbackName);
    void OnNimEndAudioPlayDevice(const Request& request, const std::string& callbackName);
    void OnNimSetMuted(const Request& request, const std::string& callbackName);
    void OnNimSetMicVolumn(const Request& request, const std::string& callbackName);
    void OnNimSetAudioVolumn(const Request& request, const std::string& callbackName);
    void OnNimSetViewerMode(const Request& request, const std::string& callbackName);
    void OnNimEnumDevice(const Request& request, const std::string& callbackName);
    // The four "get" commands: accepted, no effect.
    void OnNimGetNothing(const Request& request, const std::string& callbackName);
    // Running music players (no module needed).
    void OnNimEnumPlayer(const Request& request, const std::string& callbackName);

    // IXNimCallback: the module's events.
    bool OnLogin() override;
    bool OnJoinRoom(const char* json) override;
    void OnEnumDevice(const char* json) override;
    void OnAudioVolumn(const char* json) override;
    void OnStartDevice(int deviceType, bool success) override;
    void OnRoomMembers(const char* json) override;

    // Read-only views for diagnostics and tests.
    std::string Account() const;
    std::string ChannelId() const;
    bool IsLoaded() const;
    // Blocks until every command handed to the worker so far has run.
    void WaitForCommands() const;

private:
    // Loads the module and makes its object (Init, less the release of held commands).
    bool Load();
    // Runs `task` on the voice worker after the commands before it.
    void Queue(std::function<void()> task);
    // Runs `call` on the module object while it cannot be unloaded; false without one.
    template <class Call>
    bool WithNim(Call call);
    // Queues `call` on the module object, logged when it runs as `what`
    // followed by the page's `pageText`; nothing (and no line) without a module.
    void QueueNimCall(const char* what, std::function<void(IXNimObject&)> call, std::string pageText = std::string());
    // A volume command: the request's "volumn" as an integer for `set`.
    void QueueVolume(const Request& request, const char* what, bool (IXNimObject::*set)(int));

    const std::wstring moduleName_;

    mutable std::mutex moduleLock_;  // module_ and nim_, held across calls into the module
    HMODULE module_ = nullptr;
    IXNimObject* nim_ = nullptr;

    mutable std::mutex accountLock_;
    std::string account_;

    mutable std::mutex channelIdLock_;
    std::string channelId_;

    std::atomic<unsigned> audioVolumnCount_{0};

    // Set while Uninit drains the worker: commands still queued are dropped.
    std::atomic<bool> closing_{false};
    // Whether Init has run (loaded or not), for commands held until it has.
    std::mutex initLock_;
    std::condition_variable initRan_;
    bool initDone_ = false;
    // Declared last: destroyed first, after the queue ran dry.
    TaskPool worker_{1};
};
