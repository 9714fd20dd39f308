#include "engine/handler_slots.h"

#include <atomic>

#include "engine/js_command_listener.h"

// One list for the life of the process: page commands are sent from any
// thread, and a sender that has read this pointer must never meet a freed
// list. The engine's shutdown empties it instead.
CCEFJSCommandListener* CCEF3Manager::m_pListener = new CCEFJSCommandListener();

namespace {

std::atomic<CCEF3Manager*> g_instance{nullptr};

}  // namespace

namespace kxcef {

CCEF3Manager* ManagerInstance() { return g_instance.load(); }

CCEF3Manager* EnsureManagerInstance() {
    CCEF3Manager* instance = g_instance.load();
    if (!instance) {
        instance = new CCEF3Manager();
        g_instance.store(instance);
    }
    return instance;
}

CCEF3Manager* ExchangeManagerInstance(CCEF3Manager* next) { return g_instance.exchange(next); }

CefRefPtr<CCEF3APP> CurrentApp() {
    CCEF3Manager* instance = g_instance.load();
    return instance ? instance->GetCEFApp() : nullptr;
}

}  // namespace kxcef

CCEF3Manager::CCEF3Manager() : m_app(new CCEF3APP()) {}
CCEF3Manager::CCEF3Manager(const CCEF3Manager& other) : m_app(other.m_app) {}
CCEF3Manager& CCEF3Manager::operator=(const CCEF3Manager& other) {
    m_app = other.m_app;
    return *this;
}
CCEF3Manager::~CCEF3Manager() = default;

CefRefPtr<CCEF3APP> CCEF3Manager::GetCEFApp() { return m_app; }

void CCEF3Manager::SetProcessHandler(CProcessHandler* handler) {
    CCEF3Manager* instance = kxcef::EnsureManagerInstance();
    if (handler && instance->m_app) instance->m_app->binding().processHandler = handler;
}

void CCEF3Manager::SetJSCallBackHandler(CJSCallbackHandler* handler) {
    CCEF3Manager* instance = kxcef::EnsureManagerInstance();
    if (instance->m_app) instance->m_app->binding().jsHandler = handler;
}

void CCEF3Manager::RegisterJsNativeFunc(std::string objectName, std::string code) {
    CCEF3Manager* instance = kxcef::ManagerInstance();
    if (!instance || !instance->m_app) return;
    instance->m_app->SyncSlot() = {std::move(objectName), std::move(code)};
}

void CCEF3Manager::RegisterAsyJsNativeFunc(std::string objectName, std::string code) {
    CCEF3Manager* instance = kxcef::ManagerInstance();
    if (!instance || !instance->m_app) return;
    instance->m_app->AsyncSlot() = {std::move(objectName), std::move(code)};
}
