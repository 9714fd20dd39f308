// The browser side of the JavaScript bridge in CCEF3Handler.
#include "bridge/variant_convert.h"
#include "bridge/wire_format.h"
#include "browser/handler_impl.h"
#include "common/log_text.h"
#include "kxcef/cef3_manager.h"
#include "log.h"
#include "ui_thread.h"

bool CCEF3Handler::OnProcessMessageReceived(CefRefPtr<CefBrowser> browser, CefProcessId /*source*/,
                                            CefRefPtr<CefProcessMessage> message) {
    if (!browser || !message) return true;
    std::string name = message->GetName();
    CefRefPtr<CefListValue> args = message->GetArgumentList();
    CefRefPtr<CefProcessMessage> reply = CefProcessMessage::Create(name);
    {
        // What the handlers answer while they handle the call goes to the
        // calling document alone.
        int id = browser->GetIdentifier();
        kxcef::CallScope scope(id, message->GetFrameDocument());
        impl_->route.NoteCaller(message->GetFrameDocument(), kxcef::PageOriginTrusted(message->GetFrameOrigin()));
        HandleAsynJsEventFrom(id, message->GetFrameOrigin(), name, args);
    }
    if (args->GetSize() > 0 && args->GetType(0) == VTYPE_INT && args->GetInt(0) >= 0) {
        reply->GetArgumentList()->SetInt(0, args->GetInt(0));
        if (auto* impl = dynamic_cast<kxcef::BrowserImpl*>(browser.get()))
            impl->SendProcessMessage(PID_RENDERER, reply);
    }
    return true;
}

bool CCEF3Handler::HandleAsynJsEvent(int browserId, const std::string& name, CefRefPtr<CefListValue>& args) {
    return HandleAsynJsEventFrom(browserId, std::string(), name, args);
}

bool CCEF3Handler::HandleAsynJsEventFrom(int browserId, const std::string& origin, const std::string& name,
                                         CefRefPtr<CefListValue>& args) {
    if (impl_->asyncTask.empty() || !args) return true;
    kxcef::ScopedVariants values;
    for (size_t i = 0; i < args->GetSize(); ++i) values.get().push_back(kxcef::ListEntryToVariant(*args, i));
    impl_->asyncTask.FanOut([&](CCEF3JSDelegateBase* d) {
        return d->InvokeAsynJsEventFrom(browserId, name, values.get(), origin);
    });
    return true;
}

void CCEF3Handler::AddASynCPPCallBack(const CCEF3JSDelegateBase& delegate) {
    impl_->asyncTask.Add(delegate);
}

bool CCEF3Handler::SendJSCommand(std::string functionName, std::vector<VARIANT>& args) {
    return SendJSCommandTo(std::move(functionName), args, 0);
}

bool CCEF3Handler::SendJSCommandTo(std::string functionName, std::vector<VARIANT>& args, std::uint64_t document) {
    int id;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (!impl_->browser) return false;
        id = impl_->browserId;
    }
    if (!document) document = kxcef::CallScope::CallingDocument(id);
    // Converted on the caller's thread; the addressee is chosen and the
    // message sent on the UI thread, where the page's documents are known.
    CefRefPtr<CefListValue> list = CefListValue::Create();
    list->SetInt(0, -1);
    for (size_t i = 0; i < args.size(); ++i) kxcef::VariantToListEntry(args[i], *list, i + 1);
    // The page's web process would not take it; it is never dropped unseen.
    if (!kxcef::FitsLimits(*list, kxcef::kToPageLimits)) {
        kxcef::LogWarning(kxcef::kLogHandler, "page command " + PageTextForLog(functionName, 64) +
                                                  " not sent: over the bound of " +
                                                  std::to_string(kMaxPageCommandTextBytes) +
                                                  " bytes of text for what the client sends a page");
        return false;
    }
    CefRefPtr<CCEF3Handler> self(this);
    kxcef::RunOnUi([self, id, document, name = std::move(functionName), list] {
        kxcef::BrowserImpl* b = kxcef::FindBrowser(id);
        kxcef::MessageExtras extras;
        extras.document = document ? document : self->impl_->route.EventDocument();
        if (!b || !extras.document) return;
        b->SendEncodedMessage(name, kxcef::EncodeMessageParams(*list, extras));
    });
    return true;
}
