#include "platform/registry.h"

#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/file_stamp.h"
#include "platform/paths.h"
#include "platform/system_info.h"
#include "platform/text.h"

namespace platform {
namespace {

const wchar_t kRoot[] = L"HKEY_LOCAL_MACHINE\\";

std::wstring Upper(std::wstring s) {
    for (auto& c : s)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return s;
}

std::wstring Trim(const std::wstring& s) {
    size_t b = s.find_first_not_of(L" \t\r");
    if (b == std::wstring::npos) return {};
    size_t e = s.find_last_not_of(L" \t\r");
    return s.substr(b, e - b + 1);
}

// Reads a quoted ".reg" string starting at s[pos] == '"'; pos ends after the quote.
bool ReadQuoted(const std::wstring& s, size_t& pos, std::wstring& out) {
    if (pos >= s.size() || s[pos] != L'"') return false;
    out.clear();
    for (++pos; pos < s.size(); ++pos) {
        wchar_t c = s[pos];
        if (c == L'\\' && pos + 1 < s.size()) {
            out += s[++pos];
        } else if (c == L'"') {
            ++pos;
            return true;
        } else {
            out += c;
        }
    }
    return false;
}

std::wstring NormaliseKey(std::wstring key) {
    key = Upper(Trim(key));
    if (key.rfind(L"HKLM\\", 0) == 0) key = std::wstring(kRoot) + key.substr(5);
    while (!key.empty() && key.back() == L'\\') key.pop_back();
    return key;
}

}  // namespace

RegistryTree ParseRegFile(const std::string& fileBytes) {
    RegistryTree tree;
    bool ok = false;
    std::wstring text = DecodeTextFile(fileBytes, nullptr, &ok);
    if (!ok) return tree;
    // Join continuation lines (a trailing backslash, as regedit writes long hex values).
    std::vector<std::wstring> lines;
    std::wstring cur;
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find(L'\n', start);
        std::wstring line = text.substr(start, nl == std::wstring::npos ? std::wstring::npos : nl - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        std::wstring t = Trim(line);
        if (!t.empty() && t.back() == L'\\' && t[0] != L'[') {
            cur += t.substr(0, t.size() - 1);
        } else {
            lines.push_back(cur + t);
            cur.clear();
        }
        if (nl == std::wstring::npos) break;
        start = nl + 1;
    }
    if (!cur.empty()) lines.push_back(cur);

    size_t first = 0;
    while (first < lines.size() && lines[first].empty()) ++first;
    if (first >= lines.size()) return tree;
    if (lines[first] != L"Windows Registry Editor Version 5.00" && lines[first] != L"REGEDIT4") return tree;

    std::map<std::wstring, RegValue>* values = nullptr;
    for (size_t i = first + 1; i < lines.size(); ++i) {
        const std::wstring& line = lines[i];
        if (line.empty() || line[0] == L';') continue;
        if (line[0] == L'[') {
            size_t close = line.rfind(L']');
            if (close == std::wstring::npos) {
                values = nullptr;
                continue;
            }
            std::wstring key = line.substr(1, close - 1);
            if (!key.empty() && key[0] == L'-') {  // a deletion entry
                values = nullptr;
                continue;
            }
            values = &tree[NormaliseKey(key)];
            continue;
        }
        if (!values) continue;
        std::wstring name;
        size_t pos = 0;
        if (line[0] == L'@') {
            pos = 1;
        } else if (!ReadQuoted(line, pos, name)) {
            continue;
        }
        while (pos < line.size() && line[pos] == L' ') ++pos;
        if (pos >= line.size() || line[pos] != L'=') continue;
        ++pos;
        while (pos < line.size() && line[pos] == L' ') ++pos;
        RegValue v;
        if (pos < line.size() && line[pos] == L'"') {
            if (!ReadQuoted(line, pos, v.text)) continue;
            v.type = RegValue::Type::String;
        } else if (Upper(line.substr(pos, 6)) == L"DWORD:") {
            std::wstring hex = Trim(line.substr(pos + 6));
            if (hex.empty() || hex.size() > 8 || hex.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos)
                continue;
            v.type = RegValue::Type::Dword;
            v.dword = static_cast<std::uint32_t>(std::wcstoul(hex.c_str(), nullptr, 16));
        } else if (line.substr(pos) == L"-") {
            continue;  // value deletion
        } else {
            v.type = RegValue::Type::Other;
        }
        (*values)[Upper(name)] = v;
    }
    return tree;
}

std::wstring RegistryFilePath() {
    std::string env = GetEnv("QM_REGISTRY_FILE");
    return env.empty() ? std::wstring(L"/etc/qm/machine.reg") : FromNativePath(env);
}

namespace {

// The parsed file, kept until the file changes: a lookup costs one stat.
struct CachedRegistry {
    std::wstring path;
    FileStamp stamp;
    ReadStatus status = ReadStatus::Missing;
    std::shared_ptr<const RegistryTree> tree;
};

std::mutex g_cacheLock;
CachedRegistry* g_cache = nullptr;  // lives until the process ends

std::shared_ptr<const RegistryTree> CurrentTree() {
    std::wstring path = RegistryFilePath();
    FileStamp stamp = StampFile(path);
    std::lock_guard<std::mutex> lock(g_cacheLock);
    if (!g_cache) g_cache = new CachedRegistry();
    if (g_cache->tree && g_cache->path == path && g_cache->stamp.settled && g_cache->stamp.SameContentAs(stamp))
        return g_cache->tree;
    std::string bytes;
    g_cache->status = ReadConfigFile(path, bytes);
    g_cache->path = path;
    g_cache->stamp = stamp;
    g_cache->tree = std::make_shared<const RegistryTree>(ParseRegFile(bytes));
    return g_cache->tree;
}

}  // namespace

ReadStatus RegistryFileStatus() {
    CurrentTree();
    std::lock_guard<std::mutex> lock(g_cacheLock);
    return g_cache->status;
}

struct RegistryKey::Values {
    std::map<std::wstring, RegValue> values;
};

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;

bool RegistryKey::Open(const std::wstring& subKey) {
    Close();
    std::shared_ptr<const RegistryTree> tree = CurrentTree();
    auto it = tree->find(NormaliseKey(std::wstring(kRoot) + subKey));
    if (it == tree->end()) return false;
    values_ = std::make_unique<Values>();
    values_->values = it->second;
    return true;
}

void RegistryKey::Close() { values_.reset(); }
bool RegistryKey::IsOpen() const { return values_ != nullptr; }

namespace {

// The value `name` of an open key if it has `type`, or null.
const RegValue* FindValue(const std::map<std::wstring, RegValue>& values, const std::wstring& name,
                          RegValue::Type type) {
    auto it = values.find(Upper(name));
    return it != values.end() && it->second.type == type ? &it->second : nullptr;
}

}  // namespace

bool RegistryKey::QueryString(const std::wstring& name, std::wstring& value) const {
    const RegValue* found = values_ ? FindValue(values_->values, name, RegValue::Type::String) : nullptr;
    if (found) value = found->text;
    return found != nullptr;
}

bool RegistryKey::QueryDword(const std::wstring& name, std::uint32_t& value) const {
    const RegValue* found = values_ ? FindValue(values_->values, name, RegValue::Type::Dword) : nullptr;
    if (found) value = found->dword;
    return found != nullptr;
}

}  // namespace platform
