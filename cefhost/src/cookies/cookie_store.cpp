#include "cookies/cookie_store.h"

#include <utility>
#include <vector>

#include "cookies/cookie_convert.h"
#include "engine/engine_state.h"
#include "engine/profile.h"
#include "log.h"
#include "ui_thread.h"

namespace kxcef {

const char kLogCookies[] = "CEF\\CEF3CookieManager";

namespace {

// An operation's state may hold the last reference to its profile, whose
// web context must not end inside one of its own callbacks: it goes on the
// next turn of the loop.
template <class T>
void ReleaseLater(T* p) {
    PostToUiIdle([p] { delete p; });
}

struct ListOp {
    CefRefPtr<CookieStore> self;
    CefRefPtr<CefCookieVisitor> visitor;            // visits
    CefRefPtr<CefDeleteCookiesCallback> deleted;    // deletions by name
    bool includeHttpOnly = false;
    std::string name;
    // Deletions of every cookie of this host, whatever its path: the host
    // cookies of the URL's host (a domain cookie is the domain's, not the host's).
    std::string host;
};

// Deletions in flight; the visitor or callback is released when the last ends.
struct DeleteBatch {
    CefRefPtr<CookieStore> self;
    CefRefPtr<CefCookieVisitor> visitor;
    CefRefPtr<CefDeleteCookiesCallback> callback;
    int pending = 1;  // the issuing loop itself
    int count = 0;
};

void FinishOne(DeleteBatch* batch) {
    if (--batch->pending > 0) return;
    if (batch->callback) batch->callback->OnComplete(batch->count);
    ReleaseLater(batch);
}

void OnDeleted(GObject* source, GAsyncResult* result, gpointer data) {
    auto* batch = static_cast<DeleteBatch*>(data);
    GError* error = nullptr;
    if (webkit_cookie_manager_delete_cookie_finish(WEBKIT_COOKIE_MANAGER(source), result, &error)) ++batch->count;
    if (error) {
        LogWarning(kLogCookies, std::string("a cookie could not be deleted: ") + error->message);
        g_error_free(error);
    }
    FinishOne(batch);
}

void DeleteOne(WebKitCookieManager* manager, SoupCookie* cookie, DeleteBatch* batch) {
    ++batch->pending;
    webkit_cookie_manager_delete_cookie(manager, cookie, nullptr, &OnDeleted, batch);
}

bool IsHostCookieOf(SoupCookie* cookie, const std::string& host) {
    const char* domain = soup_cookie_get_domain(cookie);
    return domain && g_ascii_strcasecmp(domain, host.c_str()) == 0;
}

// Visits or deletes the cookies listed for `op`, then releases both.
void HandleListed(ListOp* op, WebKitCookieManager* manager, GList* list, GError* error) {
    if (error) {
        LogWarning(kLogCookies, std::string("the cookies could not be read: ") + error->message);
        g_error_free(error);
    }
    auto* batch = new DeleteBatch{op->self, op->visitor, op->deleted};
    if (op->visitor) {
        std::vector<SoupCookie*> visible;
        for (GList* l = list; l; l = l->next) {
            auto* c = static_cast<SoupCookie*>(l->data);
            if (c && (op->includeHttpOnly || !soup_cookie_get_http_only(c))) visible.push_back(c);
        }
        int total = static_cast<int>(visible.size());
        for (int i = 0; i < total; ++i) {
            bool remove = false;
            bool more = op->visitor->Visit(FromSoupCookie(visible[i]), i, total, remove);
            if (remove) DeleteOne(manager, visible[i], batch);
            if (!more) break;
        }
    } else if (!op->host.empty()) {
        for (GList* l = list; l; l = l->next) {
            auto* c = static_cast<SoupCookie*>(l->data);
            if (c && IsHostCookieOf(c, op->host)) DeleteOne(manager, c, batch);
        }
    } else {
        for (GList* l = list; l; l = l->next) {
            auto* c = static_cast<SoupCookie*>(l->data);
            if (c && op->name == soup_cookie_get_name(c)) DeleteOne(manager, c, batch);
        }
    }
    g_list_free_full(list, reinterpret_cast<GDestroyNotify>(&soup_cookie_free));
    FinishOne(batch);
    ReleaseLater(op);
}

void OnUrlCookies(GObject* source, GAsyncResult* result, gpointer data) {
    auto* manager = WEBKIT_COOKIE_MANAGER(source);
    GError* error = nullptr;
    GList* list = webkit_cookie_manager_get_cookies_finish(manager, result, &error);
    HandleListed(static_cast<ListOp*>(data), manager, list, error);
}

void OnAllCookies(GObject* source, GAsyncResult* result, gpointer data) {
    auto* manager = WEBKIT_COOKIE_MANAGER(source);
    GError* error = nullptr;
    GList* list = webkit_cookie_manager_get_all_cookies_finish(manager, result, &error);
    HandleListed(static_cast<ListOp*>(data), manager, list, error);
}

struct SetOp {
    CefRefPtr<CookieStore> self;
    CefRefPtr<CefSetCookieCallback> callback;
};

void OnAdded(GObject* source, GAsyncResult* result, gpointer data) {
    auto* op = static_cast<SetOp*>(data);
    GError* error = nullptr;
    bool ok = webkit_cookie_manager_add_cookie_finish(WEBKIT_COOKIE_MANAGER(source), result, &error);
    if (error) {
        LogWarning(kLogCookies, std::string("a cookie could not be set: ") + error->message);
        g_error_free(error);
    }
    if (op->callback) op->callback->OnComplete(ok);
    ReleaseLater(op);
}

// Lists the cookies of `url` for a visit or a deletion by name; every cookie
// of the store for a deletion by host.
bool ListUrlCookies(CookieStore* store, const std::string& url, ListOp* op) {
    if (!ParseCookieUrl(url, nullptr)) {
        LogWarning(kLogCookies, "not a web address: " + url);
        delete op;
        return false;
    }
    std::shared_ptr<ProfileContext> profile = store->profile();
    profile->WhenReady([profile, url, op] {
        WebKitCookieManager* manager = profile->cookie_manager();
        if (!manager) {
            delete op;
            return;
        }
        if (op->host.empty()) {
            webkit_cookie_manager_get_cookies(manager, url.c_str(), nullptr, &OnUrlCookies, op);
        } else {
            webkit_cookie_manager_get_all_cookies(manager, nullptr, &OnAllCookies, op);
        }
    });
    return true;
}

}  // namespace

CefRefPtr<CookieStore> CookieStore::GetGlobalManager(CefRefPtr<CefCompletionCallback> callback) {
    KX_ASSERT_UI_THREAD();
    if (!EngineRunning()) return nullptr;
    std::shared_ptr<ProfileContext> profile = ProfileContext::Acquire(ProfileDirectory(), CurrentSwitches());
    if (!profile || !profile->web_context()) return nullptr;
    if (callback) profile->WhenReady([callback] { callback->OnComplete(); });
    return new CookieStore(std::move(profile));
}

CookieStore::CookieStore(std::shared_ptr<ProfileContext> profile) : profile_(std::move(profile)) {}

CookieStore::~CookieStore() {
    // The profile ends on the UI thread, where its web context lives.
    if (profile_ && !IsUiThread()) PostToUi([profile = std::move(profile_)] {});
}

bool CookieStore::VisitUrlCookies(const std::string& url, bool includeHttpOnly, CefRefPtr<CefCookieVisitor> visitor) {
    KX_ASSERT_UI_THREAD();
    if (!visitor) return false;
    auto* op = new ListOp{this, visitor, nullptr, includeHttpOnly, {}, {}};
    return ListUrlCookies(this, url, op);
}

bool CookieStore::DeleteCookies(const std::string& url, const std::string& name,
                                CefRefPtr<CefDeleteCookiesCallback> callback) {
    KX_ASSERT_UI_THREAD();
    auto* op = new ListOp{this, nullptr, callback, true, name, {}};
    // Without a name: every cookie of the URL's host, not only those its path would carry.
    CookieUrl parsed;
    if (name.empty() && ParseCookieUrl(url, &parsed)) op->host = parsed.host;
    return ListUrlCookies(this, url, op);
}

bool CookieStore::SetCookie(const std::string& url, const CefCookie& cookie, CefRefPtr<CefSetCookieCallback> callback) {
    KX_ASSERT_UI_THREAD();
    CookieUrl parsed;
    if (!ParseCookieUrl(url, &parsed)) {
        LogWarning(kLogCookies, "not a web address: " + url);
        return false;
    }
    std::string error;
    SoupCookie* made = ToSoupCookie(parsed, cookie, &error);
    if (!made) {
        LogWarning(kLogCookies, "cookie for " + url + " refused: " + error);
        return false;
    }
    std::shared_ptr<SoupCookie> soup(made, &soup_cookie_free);
    CefRefPtr<CookieStore> self(this);
    profile_->WhenReady([self, soup, callback] {
        WebKitCookieManager* manager = self->profile_->cookie_manager();
        if (!manager) {
            if (callback) callback->OnComplete(false);
            return;
        }
        webkit_cookie_manager_add_cookie(manager, soup.get(), nullptr, &OnAdded, new SetOp{self, callback});
    });
    return true;
}

bool CookieStore::FlushStore(CefRefPtr<CefCompletionCallback> callback) {
    KX_ASSERT_UI_THREAD();
    profile_->FlushCookieStore([callback] {
        if (callback) callback->OnComplete();
    });
    return true;
}

}  // namespace kxcef
