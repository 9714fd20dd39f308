// The blocking cookie facade over the global store (the store of the
// process's profile directory). The work runs on the UI thread, where the
// engine lives; the caller waits on its event until the work has reached its
// end: all cookies visited, or all settings and deletions taken by the store.
#include "kxcef/cookie_manager.h"

#include <functional>
#include <mutex>

#include "cookies/cookie_call.h"
#include "cookies/cookie_handlers.h"
#include "cookies/cookie_store.h"
#include "engine/engine_state.h"
#include "log.h"
#include "platform/text.h"
#include "ui_thread.h"

using kxcef::CookieCall;
using kxcef::CookieStore;

struct CCEF3CookieManager::Impl {
    // Shared with the work queued to the UI thread, which may outlive the facade.
    struct Shared {
        std::mutex mutex;
        CefRefPtr<CookieStore> manager;  // the store last fetched
    };
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();

    // UI thread: fetches the global store again and keeps it in place of the previous one.
    static CefRefPtr<CookieStore> Refetch(const std::shared_ptr<Shared>& shared) {
        CefRefPtr<CookieStore> manager = CookieStore::GetGlobalManager(nullptr);
        CefRefPtr<CookieStore> previous;
        {
            std::lock_guard<std::mutex> lock(shared->mutex);
            previous = shared->manager;
            shared->manager = manager;
        }
        return manager;
    }

    // UI thread. Issues every setting; the call ends when the store has taken them all.
    static void SetOnUiThread(CefRefPtr<CookieStore> manager, const std::string& url,
                              const std::vector<CefCookie>& cookies, std::shared_ptr<CookieCall> call) {
        bool any = !cookies.empty();
        CefRefPtr<SetCookieHandler> handler(new SetCookieHandler([manager, call, any] {
            if (any) manager->FlushStore(nullptr);
            call->Finish();
        }));
        for (const CefCookie& cookie : cookies) manager->SetCookie(url, cookie, handler);
    }

    // UI thread. As SetOnUiThread, for the deletion of `name` (all when empty).
    static void DeleteOnUiThread(CefRefPtr<CookieStore> manager, const std::string& url, const std::string& name,
                                 std::shared_ptr<CookieCall> call) {
        CefRefPtr<DeleteCookieHandler> handler(new DeleteCookieHandler([manager, call] {
            manager->FlushStore(nullptr);
            call->Finish();
        }));
        manager->DeleteCookies(url, name, handler);
    }

    // Whether a blocking call may go ahead on this thread; logs why not.
    static bool MayBlock(const char* operation) {
        if (!kxcef::IsUiThread()) return true;
        kxcef::LogWarning(kxcef::kLogCookies, std::string(operation) +
                                                  " refused on the UI thread: the engine's work runs there and "
                                                  "waiting for it would never end");
        return false;
    }

    static bool Wait(CookieCall& call, const char* operation) {
        if (call.Wait([] { return kxcef::EngineRunning(); })) return true;
        kxcef::LogWarning(kxcef::kLogCookies, std::string(operation) + " given up: the engine stopped");
        return false;
    }

    using Work = std::function<void(CefRefPtr<CookieStore>, std::shared_ptr<CookieCall>)>;

    // The shape of every blocking call: refused without an engine or on the UI
    // thread (null); else `work` runs on the UI thread with the store fetched
    // again (the call ends at once when there is none) and the caller waits.
    // The call when it ended, null when it was refused or given up.
    std::shared_ptr<CookieCall> Run(const char* operation, platform::Event* done, Work work) {
        if (!kxcef::EngineRunning()) return nullptr;  // no global store
        if (!MayBlock(operation)) return nullptr;
        auto call = std::make_shared<CookieCall>(done);
        kxcef::PostToUi([shared = shared, call, work = std::move(work)] {
            CefRefPtr<CookieStore> manager = Refetch(shared);
            if (!manager) {
                call->Finish();
                return;
            }
            work(manager, call);
        });
        return Wait(*call, operation) ? call : nullptr;
    }
};

CCEF3CookieManager::CCEF3CookieManager() : impl_(new Impl()) {
    if (!kxcef::EngineRunning()) return;
    std::shared_ptr<Impl::Shared> shared = impl_->shared;
    kxcef::RunOnUi([shared] { Impl::Refetch(shared); });
}

CCEF3CookieManager::~CCEF3CookieManager() {
    CefRefPtr<CookieStore> manager;
    {
        std::lock_guard<std::mutex> lock(impl_->shared->mutex);
        manager = impl_->shared->manager;
        impl_->shared->manager = nullptr;
    }
    delete impl_;
    // Released here; the store hands its profile to the UI thread if need be.
}

std::vector<CefCookie> CCEF3CookieManager::GetCookie(const CefString& url, bool deleteAfterRead,
                                                     platform::Event* done) {
    std::string target = platform::WideToUtf8(url);
    auto call = impl_->Run("GetCookie", done, [target, deleteAfterRead](CefRefPtr<CookieStore> manager,
                                                                        std::shared_ptr<CookieCall> call) {
        manager->VisitUrlCookies(target, false, new CCEF3CookieVisitor(call, deleteAfterRead, manager));
    });
    return call ? call->TakeResult() : std::vector<CefCookie>();
}

void CCEF3CookieManager::SetCookies(const CefString& url, std::vector<CefCookie>& cookies, platform::Event* done) {
    std::string target = platform::WideToUtf8(url);
    // A copy: a call given up must leave nothing behind that points at the caller's vector.
    impl_->Run("SetCookies", done, [target, copy = cookies](CefRefPtr<CookieStore> manager,
                                                            std::shared_ptr<CookieCall> call) {
        Impl::SetOnUiThread(manager, target, copy, call);
    });
}

void CCEF3CookieManager::DeleteCookies(const CefString& url, const CefString& name, platform::Event* done) {
    std::string target = platform::WideToUtf8(url);
    std::string cookieName = platform::WideToUtf8(name);
    impl_->Run("DeleteCookies", done, [target, cookieName](CefRefPtr<CookieStore> manager,
                                                           std::shared_ptr<CookieCall> call) {
        Impl::DeleteOnUiThread(manager, target, cookieName, call);
    });
}
