#include "browser/view_signals.h"

#include <utility>

#include "bridge/wire_format.h"
#include "browser/browser.h"
#include "browser/handler_impl.h"
#include "browser/load_errors.h"
#include "browser/system_launch.h"
#include "common/log_text.h"
#include "kxcef/origin.h"
#include "log.h"
#include "platform/text.h"
#include "ui_thread.h"
#include "uilib/keys.h"

namespace kxcef {
namespace {

const char kBrowserKey[] = "kxcef-browser";

BrowserImpl* Of(gpointer data) { return static_cast<BrowserImpl*>(data); }

std::wstring Wide(const char* utf8) { return platform::Utf8ToWide(utf8 ? utf8 : ""); }

// Runs `fn` with the browser's client while the browser is open; the browser
// stays alive for the call even if a delegate closes it.
template <class F>
void WithClient(BrowserImpl* browser, F&& fn) {
    if (!browser || browser->closed()) return;
    CefRefPtr<BrowserImpl> hold(browser);
    CefRefPtr<CCEF3Handler> client = browser->client();
    if (client) fn(client.get(), hold);
}

void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    BrowserImpl* b = Of(data);
    switch (event) {
        case WEBKIT_LOAD_STARTED:
            b->load_failed() = false;
            b->page_loaded() = false;
            break;
        case WEBKIT_LOAD_COMMITTED:
            // The engine reports a frame's load start once its navigation has committed.
            WithClient(b, [](CCEF3Handler* c, CefRefPtr<BrowserImpl>& br) { c->OnLoadStart(br.get(), br->GetMainFrame()); });
            break;
        case WEBKIT_LOAD_FINISHED: {
            if (b->load_failed()) {
                b->load_failed() = false;
                break;
            }
            b->page_loaded() = true;
            int status = 0;
            if (WebKitWebResource* main = webkit_web_view_get_main_resource(b->view()))
                if (WebKitURIResponse* r = webkit_web_resource_get_response(main))
                    status = static_cast<int>(webkit_uri_response_get_status_code(r));
            WithClient(b, [status](CCEF3Handler* c, CefRefPtr<BrowserImpl>& br) {
                c->OnLoadEnd(br.get(), br->GetMainFrame(), status);
            });
            break;
        }
        default:
            break;
    }
}

gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
    BrowserImpl* b = Of(data);
    b->load_failed() = true;
    int code = LoadErrorCode(error);
    std::wstring text = Wide(error ? error->message : nullptr);
    // The engine only says the certificate was unacceptable; the refusal just
    // before says which problem it had.
    BrowserImpl::CertificateRefusal refusal = std::exchange(b->certificate_refusal(), {});
    if (error && error->domain == G_TLS_ERROR && refusal.code != 0) {
        code = refusal.code;
        text += Wide((" (" + refusal.problems + ")").c_str());
    }
    LogInfo(kLogHandler, "load failed: " + PageTextForLog(MaskUrl(uri ? uri : "")) + " (" +
                             (error ? g_quark_to_string(error->domain) : "?") + " " +
                             std::to_string(error ? error->code : 0) + " -> " + std::to_string(code) + ")");
    std::wstring failed = Wide(uri);
    WithClient(b, [&](CCEF3Handler* c, CefRefPtr<BrowserImpl>& br) {
        c->OnLoadError(br.get(), br->GetMainFrame(), code, text, failed);
    });
    return TRUE;  // no engine error page
}

std::string HostOf(const char* uri) {
    GUri* parsed = uri ? g_uri_parse(uri, G_URI_FLAGS_NONE, nullptr) : nullptr;
    std::string host = parsed && g_uri_get_host(parsed) ? g_uri_get_host(parsed) : "";
    if (parsed) g_uri_unref(parsed);
    return host;
}

// What is wrong with a certificate, in words.
std::string CertificateProblems(GTlsCertificateFlags errors) {
    static const std::pair<GTlsCertificateFlags, const char*> kWords[] = {
        {G_TLS_CERTIFICATE_UNKNOWN_CA, "unknown issuer"},
        {G_TLS_CERTIFICATE_BAD_IDENTITY, "issued for another host"},
        {G_TLS_CERTIFICATE_NOT_ACTIVATED, "not valid yet"},
        {G_TLS_CERTIFICATE_EXPIRED, "expired"},
        {G_TLS_CERTIFICATE_REVOKED, "revoked"},
        {G_TLS_CERTIFICATE_INSECURE, "insecure algorithm"},
        {G_TLS_CERTIFICATE_GENERIC_ERROR, "invalid"},
    };
    std::string out;
    for (const auto& w : kWords)
        if (errors & w.first) out += (out.empty() ? "" : ", ") + std::string(w.second);
    return out.empty() ? "invalid" : out;
}

// A main-frame load whose TLS certificate failed verification: the load fails
// (nobody but the real host gets the page, and with it the bridge) unless the
// deployment names an exception for the host and this certificate.
gboolean OnTlsErrors(WebKitWebView* view, gchar* uri, GTlsCertificate* certificate, GTlsCertificateFlags errors,
                     gpointer data) {
    BrowserImpl* b = Of(data);
    std::string host = HostOf(uri);
    if (b->profile() && b->profile()->AcceptCertificate(host, certificate)) {
        LogInfo(kLogHandler, "the TLS certificate of " + PageTextForLog(host) +
                                 " fails verification and is accepted by the deployment's exception");
        webkit_web_view_load_uri(view, uri);
        return TRUE;
    }
    LogWarning(kLogHandler, "load of " + PageTextForLog(MaskUrl(uri ? uri : "")) + " failed: the TLS certificate of " +
                                PageTextForLog(host) +
                                " is not trusted (" + CertificateProblems(errors) + ")");
    b->certificate_refusal() = {CertificateErrorCode(errors), CertificateProblems(errors)};
    return FALSE;  // the engine reports the failed load next
}

void OnTitle(WebKitWebView* view, GParamSpec*, gpointer data) {
    std::wstring title = Wide(webkit_web_view_get_title(view));
    WithClient(Of(data), [&](CCEF3Handler* c, CefRefPtr<BrowserImpl>& br) { c->OnTitleChange(br.get(), title); });
}

void OnUri(WebKitWebView* view, GParamSpec*, gpointer data) {
    std::wstring uri = Wide(webkit_web_view_get_uri(view));
    WithClient(Of(data), [&](CCEF3Handler* c, CefRefPtr<BrowserImpl>& br) {
        c->OnAddressChange(br.get(), br->GetMainFrame(), uri);
    });
}

void OnLoading(WebKitWebView* view, GParamSpec*, gpointer data) {
    bool loading = webkit_web_view_is_loading(view);
    bool back = webkit_web_view_can_go_back(view);
    bool forward = webkit_web_view_can_go_forward(view);
    WithClient(Of(data), [&](CCEF3Handler* c, CefRefPtr<BrowserImpl>& br) {
        c->OnLoadingStateChange(br.get(), loading, back, forward);
    });
}

std::vector<std::string> LaunchSchemes(BrowserImpl* browser) {
    return browser && browser->profile() ? browser->profile()->switches().launchSchemes : std::vector<std::string>();
}

std::wstring RequestReferrer(WebKitURIRequest* request) {
    SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request);
    const char* referrer = headers ? soup_message_headers_get_one(headers, "Referer") : nullptr;
    return Wide(referrer);
}

gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                        gpointer data) {
    BrowserImpl* b = Of(data);
    if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        std::wstring url = Wide(webkit_uri_request_get_uri(webkit_navigation_action_get_request(action)));
        bool gesture = webkit_navigation_action_is_user_gesture(action);
        webkit_policy_decision_ignore(decision);
        WithClient(b, [&](CCEF3Handler* c, CefRefPtr<BrowserImpl>& br) { c->OnBeforePopup(br.get(), url, gesture); });
        return TRUE;
    }
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
        // An address of a scheme the engine does not show (a companion
        // program's "example-app:", "mailto:") is no page load: loaded, it
        // would only fail and take the page's place. It is a request to have
        // the desktop open it, and the page stays as it is.
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        if (!uri || EngineShowsScheme(uri)) return FALSE;
        bool gesture = webkit_navigation_action_is_user_gesture(action);
        webkit_policy_decision_ignore(decision);
        std::string url = uri;
        WithClient(b, [&](CCEF3Handler* c, CefRefPtr<BrowserImpl>& br) {
            LaunchForPage(url, LaunchLedger::Kind::Navigation, gesture, c->impl()->launch, LaunchSchemes(br.get()));
        });
        return TRUE;
    }
    if (type != WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
    // Navigations are offered to the client once their response is known:
    // only there does the engine tell a frame's navigation from the main
    // frame's. The new document has not been committed yet.
    auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
    bool main = webkit_response_policy_decision_is_main_frame_main_resource(response);
    WebKitURIRequest* request = webkit_response_policy_decision_get_request(response);
    // A frame's document from another origin is part of the page from now on,
    // whether or not any script of it ever runs.
    if (!main) {
        std::string origin = OriginOfAddress(webkit_uri_request_get_uri(request));
        WithClient(b, [&](CCEF3Handler* c, CefRefPtr<BrowserImpl>&) { c->impl()->launch.NoteFrameDocument(origin); });
    }
    std::wstring url = Wide(webkit_uri_request_get_uri(request));
    std::wstring referrer = RequestReferrer(request);
    bool cancel = false;
    WithClient(b, [&](CCEF3Handler* c, CefRefPtr<BrowserImpl>& br) {
        CefRefPtr<CefFrame> frame = main ? br->GetMainFrame() : br->SubFrame(std::wstring());
        cancel = c->OnBeforeBrowse(br.get(), frame, url, referrer, false);
    });
    if (!cancel) return FALSE;
    webkit_policy_decision_ignore(decision);
    return TRUE;
}

GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer data) {
    std::wstring url = Wide(webkit_uri_request_get_uri(webkit_navigation_action_get_request(action)));
    bool gesture = webkit_navigation_action_is_user_gesture(action);
    WithClient(Of(data), [&](CCEF3Handler* c, CefRefPtr<BrowserImpl>& br) { c->OnBeforePopup(br.get(), url, gesture); });
    return nullptr;  // never a pop-up window of the engine's own
}

void OnClose(WebKitWebView*, gpointer data) {
    CefRefPtr<BrowserImpl> b(Of(data));
    PostToUi([b] { b->CloseNow(); });
}

gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent*, WebKitHitTestResult*, gpointer) {
    webkit_context_menu_remove_all(menu);
    return TRUE;
}

gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
    int vk = UiLib::Keys::VirtualKeyOfEvent(*event);
    if (!vk) return FALSE;
    bool consumed = false;
    WithClient(Of(data), [&](CCEF3Handler* c, CefRefPtr<BrowserImpl>& br) {
        consumed = c->OnKeyEvent(br.get(), WM_KEYDOWN, vk);
    });
    return consumed;
}

gboolean OnUserMessage(WebKitWebView*, WebKitUserMessage* message, gpointer data) {
    std::string name = webkit_user_message_get_name(message);
    CefRefPtr<CefProcessMessage> msg = CefProcessMessage::Create(name);
    MessageExtras extras;
    if (!DecodeMessageParams(webkit_user_message_get_parameters(message), *msg->GetArgumentList(), &extras))
        return FALSE;
    // The library's own reports of the page's documents (no page function
    // can bear these names).
    if (name == kMainDocumentMessage || name == kFrameDocumentMessage || name == kUserActionMessage ||
        name == kLaunchIntentMessage) {
        CefListValue& list = *msg->GetArgumentList();
        WithClient(Of(data), [&](CCEF3Handler* c, CefRefPtr<BrowserImpl>&) {
            LaunchLedger& launch = c->impl()->launch;
            if (name == kMainDocumentMessage) {
                bool restored = list.GetSize() > 0 && list.GetType(0) == VTYPE_BOOL && list.GetBool(0);
                launch.NoteMainDocument(extras.document, extras.origin, restored);
                c->impl()->route.SetMainDocument(extras.document, std::move(extras.origin));
            } else if (name == kFrameDocumentMessage) {
                launch.NoteFrameDocument(extras.origin);
            } else if (name == kUserActionMessage) {
                launch.NoteAction(extras.document, extras.origin);
            } else if (list.GetSize() > 0 && list.GetType(0) == VTYPE_STRING) {
                launch.NoteIntent(extras.document, extras.origin, list.GetStringUtf8(0));
            }
        });
        return TRUE;
    }
    msg->SetFrameOrigin(std::move(extras.origin));
    msg->SetFrameDocument(extras.document);
    WithClient(Of(data), [&](CCEF3Handler* c, CefRefPtr<BrowserImpl>& br) {
        c->OnProcessMessageReceived(br.get(), PID_RENDERER, msg);
    });
    return TRUE;
}

// Reloads after a web process died, per view: a page whose process keeps dying
// is reloaded a few times, then left as it is.
constexpr int kMaxCrashReloads = 3;
constexpr gint64 kCrashReloadWindowUs = 60 * G_USEC_PER_SEC;
const char kCrashReloadsKey[] = "kxcef-crash-reloads";

struct CrashReloads {
    gint64 windowStart = 0;
    int count = 0;
};

bool MayReloadAfterCrash(WebKitWebView* view) {
    auto* r = static_cast<CrashReloads*>(g_object_get_data(G_OBJECT(view), kCrashReloadsKey));
    if (!r) {
        r = new CrashReloads();
        g_object_set_data_full(G_OBJECT(view), kCrashReloadsKey, r,
                               [](gpointer p) { delete static_cast<CrashReloads*>(p); });
    }
    gint64 now = g_get_monotonic_time();
    if (r->count == 0 || now - r->windowStart > kCrashReloadWindowUs) {
        r->windowStart = now;
        r->count = 0;
    }
    return ++r->count <= kMaxCrashReloads;
}

void OnWebProcessTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason, gpointer data) {
    BrowserImpl* b = Of(data);
    std::string id = std::to_string(b->GetIdentifier());
    bool loaded = b->page_loaded();
    LogWarning(kLogHandler, "web process of browser " + id + " ended (reason " +
                                std::to_string(static_cast<int>(reason)) + ")" +
                                (loaded ? "" : " before its page loaded"));
    // Ended on purpose, or closing anyway, the page stays down.
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API || b->closed()) return;
    // A crash or the memory limit leaves an empty view that answers nothing.
    // A page that was up comes back at once, a few times. One whose process
    // ended before it loaded (a process that cannot start), or that keeps
    // ending, fails like a load: the client shows why, with a way to try again.
    if (loaded && MayReloadAfterCrash(view)) {
        LogWarning(kLogHandler, "browser " + id + ": reloading the page");
        webkit_web_view_reload(view);
        return;
    }
    if (loaded)
        LogWarning(kLogHandler, "browser " + id + ": its web process keeps ending, the page is not reloaded again");
    b->page_loaded() = false;
    const char* uri = webkit_web_view_get_uri(view);
    std::wstring failed = Wide(uri);
    std::wstring text = Wide(loaded ? "the page's web process kept ending"
                                    : "the page's web process ended before the page loaded");
    WithClient(b, [&](CCEF3Handler* c, CefRefPtr<BrowserImpl>& br) {
        c->OnLoadError(br.get(), br->GetMainFrame(), ERR_WEB_PROCESS_ENDED, text, failed);
    });
}

// Developer tools: the inspector opens in a top-level window of its own.
gboolean OnInspectorAttach(WebKitWebInspector*, gpointer) { return TRUE; }

gboolean OnInspectorOpenWindow(WebKitWebInspector* inspector, gpointer data) {
    BrowserImpl* b = Of(data);
    WebKitWebViewBase* inspectorView = webkit_web_inspector_get_web_view(inspector);
    if (!inspectorView || b->closed()) return FALSE;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "DevTools");
    gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
    gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(inspectorView));
    g_signal_connect(window, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer inspector) -> gboolean {
                         webkit_web_inspector_close(WEBKIT_WEB_INSPECTOR(inspector));
                         return TRUE;
                     }),
                     inspector);
    gtk_widget_show_all(window);
    b->devtools_window() = window;
    return TRUE;
}

void OnInspectorClosed(WebKitWebInspector*, gpointer data) {
    BrowserImpl* b = Of(data);
    if (GtkWidget* window = b->devtools_window()) {
        b->devtools_window() = nullptr;
        gtk_widget_destroy(window);
    }
}

}  // namespace

void ConnectViewSignals(BrowserImpl* browser) {
    WebKitWebView* view = browser->view();
    g_object_set_data(G_OBJECT(view), kBrowserKey, browser);
    g_signal_connect(view, "load-changed", G_CALLBACK(&OnLoadChanged), browser);
    g_signal_connect(view, "load-failed", G_CALLBACK(&OnLoadFailed), browser);
    g_signal_connect(view, "load-failed-with-tls-errors", G_CALLBACK(&OnTlsErrors), browser);
    g_signal_connect(view, "notify::title", G_CALLBACK(&OnTitle), browser);
    g_signal_connect(view, "notify::uri", G_CALLBACK(&OnUri), browser);
    g_signal_connect(view, "notify::is-loading", G_CALLBACK(&OnLoading), browser);
    g_signal_connect(view, "decide-policy", G_CALLBACK(&OnDecidePolicy), browser);
    g_signal_connect(view, "create", G_CALLBACK(&OnCreate), browser);
    g_signal_connect(view, "close", G_CALLBACK(&OnClose), browser);
    g_signal_connect(view, "context-menu", G_CALLBACK(&OnContextMenu), browser);
    g_signal_connect(view, "key-press-event", G_CALLBACK(&OnKeyPress), browser);
    g_signal_connect(view, "user-message-received", G_CALLBACK(&OnUserMessage), browser);
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(&OnWebProcessTerminated), browser);
    WebKitWebInspector* inspector = webkit_web_view_get_inspector(view);
    g_signal_connect(inspector, "attach", G_CALLBACK(&OnInspectorAttach), browser);
    g_signal_connect(inspector, "open-window", G_CALLBACK(&OnInspectorOpenWindow), browser);
    g_signal_connect(inspector, "closed", G_CALLBACK(&OnInspectorClosed), browser);
}

void DisconnectViewSignals(WebKitWebView* view) {
    gpointer browser = g_object_get_data(G_OBJECT(view), kBrowserKey);
    if (!browser) return;
    g_signal_handlers_disconnect_by_data(view, browser);
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_inspector(view), browser);
    g_object_set_data(G_OBJECT(view), kBrowserKey, nullptr);
}

void OnDownloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer) {
    WebKitWebView* view = webkit_download_get_web_view(download);
    auto* browser = view ? static_cast<BrowserImpl*>(g_object_get_data(G_OBJECT(view), kBrowserKey)) : nullptr;
    int id = browser ? browser->GetIdentifier() : 0;
    g_signal_connect(download, "decide-destination",
                     G_CALLBACK(+[](WebKitDownload* d, gchar* suggested, gpointer idPtr) -> gboolean {
                         std::wstring url = Wide(webkit_uri_request_get_uri(webkit_download_get_request(d)));
                         std::wstring name = Wide(suggested);
                         // Nothing is ever written: the download stops before it has a file.
                         webkit_download_cancel(d);
                         if (BrowserImpl* b = FindBrowser(GPOINTER_TO_INT(idPtr))) {
                             WithClient(b, [&](CCEF3Handler* c, CefRefPtr<BrowserImpl>& br) {
                                 c->OnBeforeDownload(br.get(), url, name);
                             });
                         }
                         return TRUE;
                     }),
                     GINT_TO_POINTER(id));
}

}  // namespace kxcef
