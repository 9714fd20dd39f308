// Conversions between page values and the bridge's list values and VARIANTs,
// on the render side. Page values are JavaScriptCore's C API values: they
// cross as they are (the GLib API would build a wrapper object for each) and
// their strings as UTF-16 (whose unpaired surrogates the GLib API's UTF-8
// conversion stops at). Everything here runs on the web process's main
// thread, inside a call from the page or with the page's context entered.
#pragma once

#include <JavaScriptCore/JavaScript.h>

#include <string>
#include <vector>

#include "bridge/wire_format.h"
#include "kxcef/cef_base.h"
#include "platform/variant.h"

namespace kxcef {

// What one page call may still put into its message: entries at any depth
// and string bytes (the bridge's message limits).
struct CallBudget {
    size_t entries = kMaxMessageEntries;
    size_t textBytes = kMaxMessageTextBytes;
    bool exceeded = false;

    bool SpendEntries(size_t n);
    bool SpendText(size_t n);
    bool Exceed() {
        exceeded = true;
        return false;
    }
};

// An owned JavaScriptCore string (property names, kept where they are used often).
class JsString {
public:
    explicit JsString(const char* utf8) : string_(JSStringCreateWithUTF8CString(utf8)) {}
    explicit JsString(const std::string& utf8) : JsString(utf8.c_str()) {}
    ~JsString() {
        if (string_) JSStringRelease(string_);
    }
    JsString(const JsString&) = delete;
    JsString& operator=(const JsString&) = delete;
    JSStringRef get() const { return string_; }

private:
    JSStringRef string_;
};

// Values to pass to a page function. The collector finds values on the stack
// but not on the heap: the first few live inside this (stack) object, any
// further ones are protected while they are held.
class JsArguments {
public:
    JsArguments() = default;
    ~JsArguments();
    JsArguments(const JsArguments&) = delete;
    JsArguments& operator=(const JsArguments&) = delete;
    void Add(JSContextRef context, JSValueRef value);
    size_t size() const { return count_; }
    // Contiguous while size() <= kInline; otherwise copied into `spill`.
    const JSValueRef* data();

private:
    static constexpr size_t kInline = 8;
    JSValueRef inline_[kInline] = {};
    size_t count_ = 0;
    JSContextRef context_ = nullptr;
    std::vector<JSValueRef> heap_;  // all values once there are more than kInline, protected
};

// array → nested list, string → string, bool → bool, int → int, other
// number → double; anything else sets nothing (the entry reads as null).
// Arrays nested deeper than kMaxListDepth convert as nothing. False, with the
// list incomplete, once the budget is spent.
bool JsToListEntry(JSContextRef context, JSValueRef value, CefListValue& list, size_t index, CallBudget& budget);
// bool, int, double, string, list → array; anything else → null.
JSValueRef ListEntryToJs(JSContextRef context, const CefListValue& list, size_t index);
// string → VT_BSTR, number → VT_R8, bool → VT_BOOL (1/0); else VT_EMPTY.
VARIANT JsToVariant(JSContextRef context, JSValueRef value);
// VT_I4/VT_INT → int, VT_UINT → unsigned, VT_R8 → double, VT_BSTR → string,
// VT_BOOL → bool; null for any other type.
JSValueRef VariantToJs(JSContextRef context, const VARIANT& value);

// The UTF-8 text of a value made a string, embedded nulls kept, unpaired
// surrogates replaced by U+FFFD.
std::string JsStringUtf8(JSContextRef context, JSValueRef value);
// A page string from UTF-8 text (malformed sequences replaced), nulls kept.
JSValueRef NewJsString(JSContextRef context, const std::string& utf8);

}  // namespace kxcef
