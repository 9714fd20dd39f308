#include "render/js_values.h"

#include <cmath>

#include "bridge/wire_format.h"
#include "platform/text.h"

namespace kxcef {
namespace {

static_assert(sizeof(JSChar) == sizeof(std::uint16_t), "JavaScriptCore strings are UTF-16 code units");

const std::uint16_t* Units(JSStringRef s) { return reinterpret_cast<const std::uint16_t*>(JSStringGetCharactersPtr(s)); }

JSStringRef ToJsString(JSContextRef context, JSValueRef value) { return JSValueToStringCopy(context, value, nullptr); }

bool IsInt32(double d) {
    if (!std::isfinite(d) || d < -2147483648.0 || d > 2147483647.0) return false;
    if (d == 0 && std::signbit(d)) return false;
    return std::floor(d) == d;
}

JSStringRef LengthName() {
    static JsString* name = new JsString("length");  // web process main thread only; kept for the process
    return name->get();
}

bool ArrayToList(JSContextRef context, JSObjectRef array, CefListValue& list, int depth, CallBudget& budget);

bool EntryAt(JSContextRef context, JSValueRef value, CefListValue& list, size_t index, int depth,
             CallBudget& budget) {
    if (!budget.SpendEntries(1)) return false;
    switch (JSValueGetType(context, value)) {
        case kJSTypeString: {
            std::string text = JsStringUtf8(context, value);
            if (!budget.SpendText(text.size())) return false;
            list.SetStringUtf8(index, text);
            break;
        }
        case kJSTypeBoolean:
            list.SetBool(index, JSValueToBoolean(context, value));
            break;
        case kJSTypeNumber: {
            double d = JSValueToNumber(context, value, nullptr);
            if (IsInt32(d)) list.SetInt(index, static_cast<int>(d));
            else list.SetDouble(index, d);
            break;
        }
        case kJSTypeObject:
            if (JSValueIsArray(context, value)) {
                if (depth >= kMaxListDepth) return true;
                CefRefPtr<CefListValue> child = CefListValue::Create();
                if (!ArrayToList(context, JSValueToObject(context, value, nullptr), *child, depth + 1, budget))
                    return false;
                list.SetList(index, child);
            }
            break;
        default:
            break;
    }
    return true;
}

bool ArrayToList(JSContextRef context, JSObjectRef array, CefListValue& list, int depth, CallBudget& budget) {
    if (!array) return true;
    JSValueRef lengthValue = JSObjectGetProperty(context, array, LengthName(), nullptr);
    double length = lengthValue && JSValueIsNumber(context, lengthValue) ? JSValueToNumber(context, lengthValue, nullptr)
                                                                          : 0;
    if (!(length > 0)) return true;
    // Refused before a single element is read: a huge array costs nothing.
    if (length > static_cast<double>(budget.entries)) return budget.Exceed();
    unsigned n = static_cast<unsigned>(length);
    for (unsigned i = 0; i < n; ++i) {
        JSValueRef element = JSObjectGetPropertyAtIndex(context, array, i, nullptr);
        if (element && !EntryAt(context, element, list, i, depth, budget)) return false;
    }
    return true;
}

JSValueRef EntryToJs(JSContextRef context, const CefListValue& list, size_t index, int depth) {
    switch (list.GetType(index)) {
        case VTYPE_BOOL:
            return JSValueMakeBoolean(context, list.GetBool(index));
        case VTYPE_INT:
            return JSValueMakeNumber(context, list.GetInt(index));
        case VTYPE_DOUBLE:
            return JSValueMakeNumber(context, list.GetDouble(index));
        case VTYPE_STRING:
            return NewJsString(context, list.GetStringUtf8(index));
        case VTYPE_LIST: {
            CefRefPtr<CefListValue> child = list.GetList(index);
            if (!child || depth >= kMaxListDepth) return JSValueMakeNull(context);
            // Each element goes into the array as soon as it exists: the array
            // (on the stack) keeps it alive.
            JSObjectRef array = JSObjectMakeArray(context, 0, nullptr, nullptr);
            if (!array) return JSValueMakeNull(context);
            for (size_t i = 0; i < child->GetSize(); ++i)
                JSObjectSetPropertyAtIndex(context, array, static_cast<unsigned>(i),
                                           EntryToJs(context, *child, i, depth + 1), nullptr);
            return array;
        }
        default:
            return JSValueMakeNull(context);
    }
}

JSValueRef NewJsString(JSContextRef context, const std::u16string& units) {
    JSStringRef s = JSStringCreateWithCharacters(reinterpret_cast<const JSChar*>(units.data()), units.size());
    JSValueRef v = JSValueMakeString(context, s);
    JSStringRelease(s);
    return v;
}

}  // namespace

JsArguments::~JsArguments() {
    for (JSValueRef v : heap_) JSValueUnprotect(context_, v);
}

void JsArguments::Add(JSContextRef context, JSValueRef value) {
    context_ = context;
    if (heap_.empty() && count_ < kInline) {
        inline_[count_++] = value;
        return;
    }
    if (heap_.empty()) {
        for (size_t i = 0; i < count_; ++i) {
            JSValueProtect(context, inline_[i]);
            heap_.push_back(inline_[i]);
        }
    }
    JSValueProtect(context, value);
    heap_.push_back(value);
    ++count_;
}

const JSValueRef* JsArguments::data() { return heap_.empty() ? inline_ : heap_.data(); }

std::string JsStringUtf8(JSContextRef context, JSValueRef value) {
    JSStringRef s = ToJsString(context, value);
    if (!s) return {};
    std::string out = platform::Utf16ToUtf8Lenient(Units(s), JSStringGetLength(s));
    JSStringRelease(s);
    return out;
}

JSValueRef NewJsString(JSContextRef context, const std::string& utf8) {
    return NewJsString(context, platform::Utf8ToUtf16Lenient(utf8.data(), utf8.size()));
}

bool CallBudget::SpendEntries(size_t n) {
    if (exceeded || n > entries) return Exceed();
    entries -= n;
    return true;
}

bool CallBudget::SpendText(size_t n) {
    if (exceeded || n > textBytes) return Exceed();
    textBytes -= n;
    return true;
}

bool JsToListEntry(JSContextRef context, JSValueRef value, CefListValue& list, size_t index, CallBudget& budget) {
    return EntryAt(context, value, list, index, 0, budget);
}

JSValueRef ListEntryToJs(JSContextRef context, const CefListValue& list, size_t index) {
    return EntryToJs(context, list, index, 0);
}

VARIANT JsToVariant(JSContextRef context, JSValueRef value) {
    VARIANT v;
    VariantInit(&v);
    switch (JSValueGetType(context, value)) {
        case kJSTypeString:
            if (JSStringRef s = ToJsString(context, value)) {
                v = platform::MakeBstrVariant(platform::Utf16ToWideLenient(Units(s), JSStringGetLength(s)));
                JSStringRelease(s);
            }
            break;
        case kJSTypeBoolean:
            v.vt = VT_BOOL;
            v.boolVal = JSValueToBoolean(context, value) ? 1 : 0;
            break;
        case kJSTypeNumber:
            // Every number is a double to the page: numbers travel as VT_R8.
            v.vt = VT_R8;
            v.dblVal = JSValueToNumber(context, value, nullptr);
            break;
        default:
            break;
    }
    return v;
}

JSValueRef VariantToJs(JSContextRef context, const VARIANT& value) {
    switch (value.vt) {
        case VT_I4:
            return JSValueMakeNumber(context, value.lVal);
        case VT_INT:
            return JSValueMakeNumber(context, value.intVal);
        case VT_UINT:
            return JSValueMakeNumber(context, value.uintVal);
        case VT_R8:
            return JSValueMakeNumber(context, value.dblVal);
        case VT_BSTR:
            return NewJsString(context, platform::WideToUtf16Lenient(platform::VariantText(value)));
        case VT_BOOL:
            return JSValueMakeBoolean(context, value.boolVal != 0);
        default:
            return nullptr;
    }
}

}  // namespace kxcef
