#include "platform/ini.h"

#include "platform/paths.h"
#include "platform/text.h"

namespace platform {
namespace {

std::wstring Trim(const std::wstring& s) {
    size_t b = s.find_first_not_of(L" \t\r\n");
    if (b == std::wstring::npos) return {};
    size_t e = s.find_last_not_of(L" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find(L'\n', start);
        if (nl == std::wstring::npos) {
            if (start < text.size()) lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    for (auto& l : lines)
        if (!l.empty() && l.back() == L'\r') l.pop_back();
    return lines;
}

// "[name]" (blanks allowed around it) gives the trimmed name.
bool SectionHeader(const std::wstring& line, std::wstring& name) {
    std::wstring t = Trim(line);
    if (t.size() < 2 || t.front() != L'[') return false;
    size_t close = t.find(L']');
    if (close == std::wstring::npos) return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

std::vector<std::wstring> SectionBody(const std::vector<std::wstring>& lines, const std::wstring& section) {
    std::vector<std::wstring> body;
    bool inside = false, seen = false;
    for (const auto& line : lines) {
        std::wstring name;
        if (SectionHeader(line, name)) {
            if (inside) break;  // the first matching section wins
            inside = !seen && EqualsIgnoreCaseAscii(name, section);
            seen = seen || inside;
            continue;
        }
        if (!inside) continue;
        std::wstring t = Trim(line);
        if (t.empty() || t[0] == L';') continue;
        body.push_back(t);
    }
    return body;
}

}  // namespace

std::vector<std::wstring> ParseIniSection(const std::string& fileBytes, const std::wstring& section) {
    bool ok = false;
    std::wstring text = DecodeTextFile(fileBytes, nullptr, &ok);
    if (!ok) return {};
    return SectionBody(SplitLines(text), section);
}

std::vector<std::wstring> ReadIniSection(const std::wstring& path, const std::wstring& section, ReadStatus* status) {
    std::string bytes;
    ReadStatus read = ReadConfigFile(path, bytes);
    if (status) *status = read;
    if (read != ReadStatus::Ok) return {};
    return ParseIniSection(bytes, section);
}

std::wstring ReadIniValue(const std::wstring& path, const std::wstring& section, const std::wstring& key) {
    for (const auto& line : ReadIniSection(path, section)) {
        size_t eq = line.find(L'=');
        if (eq == std::wstring::npos) continue;
        if (EqualsIgnoreCaseAscii(Trim(line.substr(0, eq)), key)) return Trim(line.substr(eq + 1));
    }
    return {};
}

bool WriteIniSection(const std::wstring& path, const std::wstring& section, const std::vector<std::wstring>& lines) {
    std::string bytes;
    TextEncoding enc = TextEncoding::Ansi;
    std::vector<std::wstring> old;
    if (ReadConfigFile(path, bytes) == ReadStatus::Ok && !bytes.empty()) {
        bool ok = false;
        std::wstring text = DecodeTextFile(bytes, &enc, &ok);
        if (ok) old = SplitLines(text);  // an unreadable file is replaced
        else enc = TextEncoding::Ansi;
    }
    std::vector<std::wstring> out;
    bool replaced = false, skipping = false;
    for (const auto& line : old) {
        std::wstring name;
        if (SectionHeader(line, name)) {
            skipping = false;
            if (!replaced && EqualsIgnoreCaseAscii(name, section)) {
                out.push_back(line);
                out.insert(out.end(), lines.begin(), lines.end());
                replaced = skipping = true;
                continue;
            }
        }
        if (!skipping) out.push_back(line);
    }
    if (!replaced) {
        out.push_back(L"[" + section + L"]");
        out.insert(out.end(), lines.begin(), lines.end());
    }
    std::wstring text;
    for (const auto& l : out) text += l + L"\r\n";
    std::wstring dir = DirPart(path);
    if (!dir.empty()) CreateDirectories(dir);
    return WriteFileBytes(path, EncodeTextFile(text, enc));
}

}  // namespace platform
