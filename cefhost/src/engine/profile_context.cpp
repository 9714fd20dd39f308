#include "engine/profile_context.h"

#include <chrono>
#include <map>

#include "browser/view_signals.h"
#include "engine/profile.h"
#include "engine/session_cookies.h"
#include "log.h"
#include "platform/paths.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "ui_thread.h"

namespace kxcef {
namespace {

std::map<std::wstring, std::weak_ptr<ProfileContext>>& LiveContexts() {
    static auto* contexts = new std::map<std::wstring, std::weak_ptr<ProfileContext>>();
    return *contexts;
}

std::string CookieDbPath(const std::wstring& dir) { return platform::NativePath(platform::JoinPath(dir, L"Cookies")); }
std::wstring SessionCookiePath(const std::wstring& dir) { return platform::JoinPath(dir, L"SessionCookies"); }

// Under the sanitizer build the web processes load an instrumented extension:
// the runtime it needs has to be loaded first (QM_ASAN_PRELOAD names it).
void PreloadSanitizerRuntime() {
    std::string runtime = platform::GetEnv("QM_ASAN_PRELOAD");
    if (runtime.empty()) return;
    std::string preload = platform::GetEnv("LD_PRELOAD");
    if (preload.find(runtime) != std::string::npos) return;
    platform::SetEnv("LD_PRELOAD", preload.empty() ? runtime : runtime + ":" + preload);
}

// Keeps the profile alive across one asynchronous cookie operation.
struct CookieOp {
    std::shared_ptr<ProfileContext> self;
    std::function<void()> done;
    int pending = 0;
};

void FinishOne(CookieOp* op) {
    if (--op->pending > 0) return;
    auto done = std::move(op->done);
    if (done) done();
    // The operation may hold the last reference to its profile: the web
    // context must not end inside one of its own cookie callbacks.
    PostToUiIdle([op] { delete op; });
}

void OnCookieAdded(GObject* source, GAsyncResult* result, gpointer data) {
    webkit_cookie_manager_add_cookie_finish(WEBKIT_COOKIE_MANAGER(source), result, nullptr);
    FinishOne(static_cast<CookieOp*>(data));
}

// A jar of a few thousand cookies at their largest; a bigger file is no jar of ours.
constexpr size_t kMaxSessionCookieBytes = 16 * 1024 * 1024;

// Adds the saved session cookies (none for a profile kept in memory); `op->done` runs when all are in.
void AddSessionCookies(WebKitCookieManager* manager, const std::wstring& dir, bool persistent, CookieOp* op) {
    std::string bytes;
    std::vector<SoupCookie*> cookies;
    if (persistent &&
        platform::ReadOwnPrivateFile(SessionCookiePath(dir), bytes, kMaxSessionCookieBytes) == platform::ReadStatus::Ok)
        cookies = ParseSessionCookies(bytes);
    op->pending = static_cast<int>(cookies.size()) + 1;
    for (SoupCookie* c : cookies) {
        webkit_cookie_manager_add_cookie(manager, c, nullptr, &OnCookieAdded, op);
        soup_cookie_free(c);
    }
    FinishOne(op);
}

}  // namespace

ProfileContext::ProfileContext(std::wstring dir, const EngineSwitches& switches)
    : dir_(std::move(dir)), switches_(switches) {}

ProfileContext::~ProfileContext() {
    auto& live = LiveContexts();
    auto it = live.find(dir_);
    if (it != live.end() && it->second.expired()) live.erase(it);
    if (context_) g_object_unref(context_);
}

std::shared_ptr<ProfileContext> ProfileContext::Acquire(const std::wstring& dir, const EngineSwitches& switches) {
    KX_ASSERT_UI_THREAD();
    auto& live = LiveContexts();
    auto it = live.find(dir);
    if (it != live.end())
        if (auto existing = it->second.lock()) return existing;
    std::shared_ptr<ProfileContext> created(new ProfileContext(dir, switches));
    live[dir] = created;
    created->Create();
    return created;
}

void ProfileContext::Create() {
    // The profile holds the cookie jar: this user's only. The engine opens its
    // own files inside the folder, so the folder is what must be private and
    // the user's; the jar is created private before the engine opens it (its
    // journals take the jar's mode). A folder or jar of someone else's is not
    // used: the profile then lives in memory only.
    std::string path = platform::NativePath(dir_);
    std::wstring cacheDir = CacheDirectoryFor(dir_);
    std::string cachePath = platform::NativePath(cacheDir);
    std::string why;
    persistent_ = PrepareProfileFolder(dir_, &why) && (cacheDir == dir_ || PrepareProfileFolder(cacheDir, &why)) &&
                  platform::EnsurePrivateFile(platform::FromNativePath(CookieDbPath(dir_)), &why);
    if (!persistent_)
        LogWarning(kLogManager, "Profile " + path + " not used (" + why + "): cookies and storage are kept in memory only");
    PreloadSanitizerRuntime();

    WebKitWebsiteDataManager* data =
        persistent_ ? webkit_website_data_manager_new("base-data-directory", path.c_str(), "base-cache-directory",
                                                      cachePath.c_str(), nullptr)
                    : webkit_website_data_manager_new_ephemeral();
    if (switches_.noProxy)
        webkit_website_data_manager_set_network_proxy_settings(data, WEBKIT_NETWORK_PROXY_MODE_NO_PROXY, nullptr);
    // A TLS error fails the load; the deployment's exceptions are granted
    // certificate by certificate as loads fail (AcceptCertificate).
    webkit_website_data_manager_set_tls_errors_policy(data, WEBKIT_TLS_ERRORS_POLICY_FAIL);
    context_ = webkit_web_context_new_with_website_data_manager(data);
    g_object_unref(data);

    // Before any view exists: the first web process must load the extension.
    std::string extensionDir = WebExtensionDirectory();
    webkit_web_context_set_web_extensions_directory(context_, extensionDir.c_str());
    GVariantBuilder init;
    g_variant_builder_init(&init, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&init, "{sv}", "log-severity", g_variant_new_int32(static_cast<int>(MinLogLevel())));
    webkit_web_context_set_web_extensions_initialization_user_data(context_, g_variant_builder_end(&init));

    webkit_web_context_set_cache_model(context_, WEBKIT_CACHE_MODEL_DOCUMENT_BROWSER);
    const char* const languages[] = {"zh-CN", "zh", nullptr};
    webkit_web_context_set_preferred_languages(context_, languages);

    WebKitCookieManager* cookies = webkit_web_context_get_cookie_manager(context_);
    if (persistent_)
        webkit_cookie_manager_set_persistent_storage(cookies, CookieDbPath(dir_).c_str(),
                                                     WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    g_signal_connect(context_, "download-started", G_CALLBACK(&OnDownloadStarted), nullptr);

    RestoreSessionCookies([weak = std::weak_ptr<ProfileContext>(shared_from_this())] {
        if (auto self = weak.lock()) self->SetReady();
    });
    LogInfo(kLogManager, "Profile " + path + (persistent_ ? ", web cache " + cachePath : std::string(" in memory")) +
                             " ready, web extensions from " + extensionDir);
}

bool ProfileContext::AcceptCertificate(const std::string& host, GTlsCertificate* certificate) {
    auto bare = [](std::string h) {
        if (h.size() > 1 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
        return platform::ToLowerAscii(h);
    };
    const std::string* pinned = nullptr;
    for (const auto& e : switches_.certificateExceptions)
        if (bare(e.first) == bare(host)) pinned = &e.second;
    if (!pinned || !certificate) return false;
    GByteArray* der = nullptr;
    g_object_get(certificate, "certificate", &der, nullptr);
    if (!der) return false;
    gchar* sum = g_compute_checksum_for_data(G_CHECKSUM_SHA256, der->data, der->len);
    std::string sha256 = sum ? sum : "";
    g_free(sum);
    g_byte_array_unref(der);
    if (*pinned != "any" && *pinned != sha256) return false;
    if (!grantedCertificates_.insert(bare(host) + " " + sha256).second) return false;
    webkit_web_context_allow_tls_certificate_for_host(context_, certificate, bare(host).c_str());
    return true;
}

WebKitCookieManager* ProfileContext::cookie_manager() const {
    return context_ ? webkit_web_context_get_cookie_manager(context_) : nullptr;
}

void ProfileContext::RestoreSessionCookies(std::function<void()> done) {
    auto* op = new CookieOp{shared_from_this(), std::move(done), 0};
    AddSessionCookies(cookie_manager(), dir_, persistent_, op);
}

void ProfileContext::SetReady() {
    ready_ = true;
    auto tasks = std::move(whenReady_);
    whenReady_.clear();
    for (auto& t : tasks) t();
}

void ProfileContext::WhenReady(std::function<void()> task) {
    KX_ASSERT_UI_THREAD();
    if (ready_) task();
    else whenReady_.push_back(std::move(task));
}

void ProfileContext::FlushCookieStore(std::function<void()> done) {
    KX_ASSERT_UI_THREAD();
    auto self = shared_from_this();
    WhenReady([self, done = std::move(done)]() mutable {
        auto* op = new CookieOp{self, std::move(done), 1};
        webkit_cookie_manager_get_all_cookies(
            self->cookie_manager(), nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* op = static_cast<CookieOp*>(data);
                GList* cookies =
                    webkit_cookie_manager_get_all_cookies_finish(WEBKIT_COOKIE_MANAGER(source), result, nullptr);
                if (op->self->persistent_)
                    platform::WriteFileBytes(SessionCookiePath(op->self->dir_), SerializeSessionCookies(cookies));
                g_list_free_full(cookies, reinterpret_cast<GDestroyNotify>(&soup_cookie_free));
                FinishOne(op);
            },
            op);
    });
}

void ProfileContext::ReopenCookieStore(std::function<void()> done) {
    KX_ASSERT_UI_THREAD();
    auto self = shared_from_this();
    WhenReady([self, done = std::move(done)]() mutable {
        // Until the session cookies are back, the store holds only the
        // persistent ones: reads, writes and flushes wait (a flush now would
        // overwrite the saved session cookies with none).
        self->ready_ = false;
        if (self->persistent_)
            webkit_cookie_manager_set_persistent_storage(self->cookie_manager(), CookieDbPath(self->dir_).c_str(),
                                                         WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
        auto* op = new CookieOp{self, [self, done = std::move(done)] {
                                    self->SetReady();
                                    if (done) done();
                                },
                                0};
        AddSessionCookies(self->cookie_manager(), self->dir_, self->persistent_, op);
    });
}

void ProfileContext::FlushAll() {
    KX_ASSERT_UI_THREAD();
    std::vector<std::shared_ptr<ProfileContext>> live;
    for (auto& entry : LiveContexts())
        if (auto p = entry.second.lock()) live.push_back(p);
    if (live.empty()) return;
    auto remaining = std::make_shared<size_t>(live.size());
    for (auto& p : live) p->FlushCookieStore([remaining] { --*remaining; });
    live.clear();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    guint tick = g_timeout_add(20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    while (*remaining > 0 && std::chrono::steady_clock::now() < deadline) g_main_context_iteration(nullptr, TRUE);
    g_source_remove(tick);
}

int ProfileContext::LiveCount() {
    int n = 0;
    for (auto& entry : LiveContexts())
        if (!entry.second.expired()) ++n;
    return n;
}

WXRequestContextHandler::WXRequestContextHandler(std::shared_ptr<ProfileContext> context)
    : path_(context ? context->dir() : std::wstring()), context_(std::move(context)) {}

WebKitCookieManager* WXRequestContextHandler::GetCookieManager() {
    return context_ ? context_->cookie_manager() : nullptr;
}

void WXRequestContextHandler::FlushCookieStore(std::function<void()> done) {
    if (context_) context_->FlushCookieStore(std::move(done));
    else if (done) done();
}

void WXRequestContextHandler::ReopenCookieStore(std::function<void()> done) {
    if (context_) context_->ReopenCookieStore(std::move(done));
    else if (done) done();
}

}  // namespace kxcef
