// The bridge's callback interfaces, implemented by the host program, and the
// delegates through which the browser host calls them.
#pragma once

#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "kxcef/export.h"
#include "platform/variant.h"

// Page-call callbacks. The VARIANT vectors are built by the library for one
// call: the callee may neither keep nor free them. Returning false stops the
// remaining delegates of the same list for that call.
class CJSCallbackHandler {
public:
    // Render process: a page called a synchronous native function.
    virtual bool OnSyncJsCall(int browserId, const std::string& name, std::vector<VARIANT>& args,
                              VARIANT* result) = 0;
    // Browser process, UI thread: a page called an asynchronous native function.
    virtual bool OnAsynJsEvent(int browserId, const std::string& name, std::vector<VARIANT>& args) = 0;
    // Render process: before a page function runs for a JS command or a callback
    // reply; what is appended to extraArgs becomes extra trailing arguments.
    virtual bool OnPrepareJsCommand(int browserId, const std::string& messageName,
                                    const std::string& functionName, std::vector<VARIANT>& extraArgs) = 0;
    // Render process: after that page function returned.
    virtual void OnJsCommandResult(int browserId, const std::string& messageName,
                                   const std::string& functionName, VARIANT* result) = 0;
    // Browser process, UI thread: OnAsynJsEvent with the origin ("scheme://host[:port]",
    // "null" for documents without a host, empty when unknown) of the frame whose
    // document made the call, as the render process saw it. Handlers that trust
    // only some pages decide here; the default ignores the origin.
    virtual bool OnAsynJsEventFrom(int browserId, const std::string& name, std::vector<VARIANT>& args,
                                   const std::string& origin) {
        (void)origin;
        return OnAsynJsEvent(browserId, name, args);
    }
    // Browser process, UI thread: whether documents of `origin` may receive
    // the host's replies and events and have the system open addresses for
    // them. The default trusts every page.
    virtual bool TrustsPageOrigin(const std::string& origin) {
        (void)origin;
        return true;
    }

protected:
    ~CJSCallbackHandler() = default;  // never deleted through this interface
};

// Process callbacks.
class CProcessHandler {
public:
    // Each render process, before the library registers its extensions: the
    // place to call RegisterJsNativeFunc / RegisterAsyJsNativeFunc.
    virtual void OnRegisterNatives() = 0;
    // Browser process, once the engine's context is ready.
    virtual void OnBrowserContextReady() = 0;

protected:
    ~CProcessHandler() = default;
};

// A bound call of one CJSCallbackHandler-shaped operation; copied into the
// lists that hold it (as Clone()s, owned by the list).
class KXCEF2_API CCEF3JSDelegateBase {
public:
    virtual ~CCEF3JSDelegateBase() = default;

    virtual void InvokeJsCommandResult(int browserId, const std::string& messageName,
                                       const std::string& functionName, VARIANT* result) {
        CallJsCommandResult(browserId, messageName, functionName, result);
    }
    virtual bool InvokePrepareJsCommand(int browserId, const std::string& messageName,
                                        const std::string& functionName, std::vector<VARIANT>& extraArgs) {
        return CallPrepareJsCommand(browserId, messageName, functionName, extraArgs);
    }
    virtual bool InvokeAsynJsEvent(int browserId, const std::string& name, std::vector<VARIANT>& args) {
        return CallAsynJsEvent(browserId, name, args);
    }
    virtual bool InvokeSyncJsCall(int browserId, const std::string& name, std::vector<VARIANT>& args,
                                  VARIANT* result) {
        return CallSyncJsCall(browserId, name, args, result);
    }

protected:
    virtual void CallJsCommandResult(int, const std::string&, const std::string&, VARIANT*) {}
    virtual bool CallPrepareJsCommand(int, const std::string&, const std::string&, std::vector<VARIANT>&) {
        return false;
    }
    virtual bool CallAsynJsEvent(int, const std::string&, std::vector<VARIANT>&) { return false; }
    virtual bool CallSyncJsCall(int, const std::string&, std::vector<VARIANT>&, VARIANT*) { return false; }

public:
    // A new heap copy (null for the base).
    virtual CCEF3JSDelegateBase* Clone() const { return nullptr; }
    // Same target and same bound operations.
    virtual bool Equals(const CCEF3JSDelegateBase& other) const { return typeid(*this) == typeid(other); }
    bool operator==(const CCEF3JSDelegateBase& other) const { return Equals(other); }

    // An asynchronous call together with the calling frame's origin. A delegate
    // bound to an operation without the origin is called without it.
    virtual bool InvokeAsynJsEventFrom(int browserId, const std::string& name, std::vector<VARIANT>& args,
                                       const std::string& origin) {
        return CallAsynJsEventFrom(browserId, name, args, origin);
    }

protected:
    virtual bool CallAsynJsEventFrom(int browserId, const std::string& name, std::vector<VARIANT>& args,
                                     const std::string&) {
        return CallAsynJsEvent(browserId, name, args);
    }
};

// A delegate bound to one operation of a target of type T (seen as interface I).
template <class T, class I = T>
class CCEF3JSDelegate : public CCEF3JSDelegateBase {
public:
    using SyncCall = bool (I::*)(int, const std::string&, std::vector<VARIANT>&, VARIANT*);
    using AsynEvent = bool (I::*)(int, const std::string&, std::vector<VARIANT>&);
    using PrepareCommand = bool (I::*)(int, const std::string&, const std::string&, std::vector<VARIANT>&);
    using CommandResult = void (I::*)(int, const std::string&, const std::string&, VARIANT*);
    using AsynEventFrom = bool (I::*)(int, const std::string&, std::vector<VARIANT>&, const std::string&);

    CCEF3JSDelegate(T* target, SyncCall op) : target_(target), sync_(op) {}
    CCEF3JSDelegate(T* target, AsynEvent op) : target_(target), asyn_(op) {}
    CCEF3JSDelegate(T* target, PrepareCommand op) : target_(target), prepare_(op) {}
    CCEF3JSDelegate(T* target, CommandResult op) : target_(target), result_(op) {}
    CCEF3JSDelegate(T* target, AsynEventFrom op) : target_(target), asynFrom_(op) {}

    CCEF3JSDelegateBase* Clone() const override { return new CCEF3JSDelegate(*this); }
    bool Equals(const CCEF3JSDelegateBase& other) const override {
        auto* o = dynamic_cast<const CCEF3JSDelegate*>(&other);
        return o && o->target_ == target_ && o->sync_ == sync_ && o->asyn_ == asyn_ &&
               o->prepare_ == prepare_ && o->result_ == result_ && o->asynFrom_ == asynFrom_;
    }

protected:
    void CallJsCommandResult(int id, const std::string& m, const std::string& f, VARIANT* r) override {
        if (target_ && result_) (static_cast<I*>(target_)->*result_)(id, m, f, r);
    }
    bool CallPrepareJsCommand(int id, const std::string& m, const std::string& f,
                              std::vector<VARIANT>& extra) override {
        return target_ && prepare_ ? (static_cast<I*>(target_)->*prepare_)(id, m, f, extra) : false;
    }
    bool CallAsynJsEvent(int id, const std::string& n, std::vector<VARIANT>& args) override {
        return target_ && asyn_ ? (static_cast<I*>(target_)->*asyn_)(id, n, args) : false;
    }
    bool CallSyncJsCall(int id, const std::string& n, std::vector<VARIANT>& args, VARIANT* r) override {
        return target_ && sync_ ? (static_cast<I*>(target_)->*sync_)(id, n, args, r) : false;
    }
    bool CallAsynJsEventFrom(int id, const std::string& n, std::vector<VARIANT>& args,
                             const std::string& origin) override {
        if (target_ && asynFrom_) return (static_cast<I*>(target_)->*asynFrom_)(id, n, args, origin);
        return CallAsynJsEvent(id, n, args);
    }

private:
    T* target_ = nullptr;
    SyncCall sync_ = nullptr;
    AsynEvent asyn_ = nullptr;
    PrepareCommand prepare_ = nullptr;
    CommandResult result_ = nullptr;
    AsynEventFrom asynFrom_ = nullptr;
};

// An ordered list of owned delegate copies; an equal delegate is added once.
class KXCEF2_API CCEF3JSDelegateList {
public:
    bool Add(const CCEF3JSDelegateBase& delegate);
    bool empty() const { return items_.empty(); }
    size_t size() const { return items_.size(); }
    const std::vector<std::unique_ptr<CCEF3JSDelegateBase>>& items() const { return items_; }

private:
    std::vector<std::unique_ptr<CCEF3JSDelegateBase>> items_;
};
