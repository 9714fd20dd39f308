#include <utility>

#include "platform/text.h"
#include "kxcef/cef_base.h"

// String entries are kept as UTF-8: the wire format and both converters work
// in UTF-8, so most strings never take the detour through wide text.
struct CefListValue::Entry {
    CefValueType type = VTYPE_NULL;
    bool b = false;
    int i = 0;
    double d = 0;
    std::string s;
    CefRefPtr<CefListValue> list;
};

CefListValue::CefListValue() = default;
CefListValue::~CefListValue() = default;

CefRefPtr<CefListValue> CefListValue::Create() { return CefRefPtr<CefListValue>(new CefListValue()); }

size_t CefListValue::GetSize() const { return entries_.size(); }

bool CefListValue::SetSize(size_t size) {
    entries_.resize(size);
    return true;
}

void CefListValue::Clear() { entries_.clear(); }

CefValueType CefListValue::GetType(size_t index) const {
    return index < entries_.size() ? entries_[index].type : VTYPE_INVALID;
}

bool CefListValue::GetBool(size_t index) const {
    return index < entries_.size() && entries_[index].type == VTYPE_BOOL && entries_[index].b;
}

int CefListValue::GetInt(size_t index) const {
    if (index >= entries_.size()) return 0;
    const Entry& e = entries_[index];
    if (e.type == VTYPE_INT) return e.i;
    if (e.type == VTYPE_DOUBLE) {
        // Truncation toward zero, clamped: an out-of-range double is no id.
        if (!(e.d > -2147483649.0 && e.d < 2147483648.0)) return 0;
        return static_cast<int>(e.d);
    }
    return 0;
}

double CefListValue::GetDouble(size_t index) const {
    if (index >= entries_.size()) return 0;
    const Entry& e = entries_[index];
    if (e.type == VTYPE_DOUBLE) return e.d;
    if (e.type == VTYPE_INT) return e.i;
    return 0;
}

CefString CefListValue::GetString(size_t index) const {
    if (index >= entries_.size() || entries_[index].type != VTYPE_STRING) return {};
    return platform::Utf8ToWideLenient(entries_[index].s);
}

std::string CefListValue::GetStringUtf8(size_t index) const {
    if (index >= entries_.size() || entries_[index].type != VTYPE_STRING) return {};
    return entries_[index].s;
}

CefRefPtr<CefListValue> CefListValue::GetList(size_t index) const {
    if (index >= entries_.size() || entries_[index].type != VTYPE_LIST) return nullptr;
    return entries_[index].list;
}

#define KXCEF_SET_ENTRY(index, body)            \
    if ((index) >= entries_.size()) entries_.resize((index) + 1); \
    Entry& e = entries_[(index)];              \
    e = Entry();                               \
    body;                                      \
    return true

bool CefListValue::SetNull(size_t index) { KXCEF_SET_ENTRY(index, e.type = VTYPE_NULL); }

bool CefListValue::SetBool(size_t index, bool value) {
    KXCEF_SET_ENTRY(index, (e.type = VTYPE_BOOL, e.b = value));
}

bool CefListValue::SetInt(size_t index, int value) { KXCEF_SET_ENTRY(index, (e.type = VTYPE_INT, e.i = value)); }

bool CefListValue::SetDouble(size_t index, double value) {
    KXCEF_SET_ENTRY(index, (e.type = VTYPE_DOUBLE, e.d = value));
}

bool CefListValue::SetString(size_t index, const CefString& value) {
    KXCEF_SET_ENTRY(index, (e.type = VTYPE_STRING, e.s = platform::WideToUtf8Lenient(value)));
}

bool CefListValue::SetStringUtf8(size_t index, const std::string& value) {
    KXCEF_SET_ENTRY(index, (e.type = VTYPE_STRING, e.s = platform::SanitizeUtf8(value.data(), value.size())));
}

const std::string* CefListValue::StringUtf8(size_t index) const {
    if (index >= entries_.size() || entries_[index].type != VTYPE_STRING) return nullptr;
    return &entries_[index].s;
}

bool CefListValue::SetStringUtf8(size_t index, std::string&& value) {
    if (!platform::IsValidUtf8(value.data(), value.size())) value = platform::SanitizeUtf8(value.data(), value.size());
    KXCEF_SET_ENTRY(index, (e.type = VTYPE_STRING, e.s = std::move(value)));
}

bool CefListValue::SetList(size_t index, CefRefPtr<CefListValue> value) {
    if (!value || value.get() == this) return SetNull(index);
    KXCEF_SET_ENTRY(index, (e.type = VTYPE_LIST, e.list = std::move(value)));
}
