#include "render/extension_code.h"

#include <algorithm>
#include <cctype>

namespace kxcef {

const char kWebAppExtensionName[] = "KXWebApp";
const char kWebAppExtensionCode[] =
    "var _dummyCallback = function () {};var KXWebApp;if(!KXWebApp)KXWebApp = {};(function(){\t"
    "KXWebApp.SendCPPTask = function(szReq,szJson)\t{\t\tnative function SendCPPTask();\t\t"
    "return SendCPPTask(szReq,szJson);\t};\tKXWebApp.PostCPPTask = function(szReq,szJson,callback)\t{\t\t"
    "native function PostCPPTask();\t\treturn PostCPPTask(callback||_dummyCallback,szReq,szJson);\t};})();";

namespace {

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '$'; }
bool IsIdentPart(char c) { return IsIdentStart(c) || std::isdigit(static_cast<unsigned char>(c)); }

size_t SkipSpace(const std::string& s, size_t i) {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    return i;
}

// Parses "native function NAME ( ) ;" at `pos`; returns the end and the name.
bool ParseDeclaration(const std::string& s, size_t pos, size_t* end, std::string* name) {
    static const std::string kNative = "native";
    static const std::string kFunction = "function";
    if (s.compare(pos, kNative.size(), kNative) != 0) return false;
    if (pos > 0 && IsIdentPart(s[pos - 1])) return false;
    size_t i = pos + kNative.size();
    size_t j = SkipSpace(s, i);
    if (j == i || s.compare(j, kFunction.size(), kFunction) != 0) return false;
    i = j + kFunction.size();
    j = SkipSpace(s, i);
    if (j == i || j >= s.size() || !IsIdentStart(s[j])) return false;
    size_t nameStart = j;
    while (j < s.size() && IsIdentPart(s[j])) ++j;
    *name = s.substr(nameStart, j - nameStart);
    j = SkipSpace(s, j);
    if (j >= s.size() || s[j] != '(') return false;
    j = SkipSpace(s, j + 1);
    if (j >= s.size() || s[j] != ')') return false;
    j = SkipSpace(s, j + 1);
    if (j < s.size() && s[j] == ';') ++j;
    *end = j;
    return true;
}

}  // namespace

RewrittenExtension RewriteNativeDeclarations(const std::string& code, const std::string& holder) {
    RewrittenExtension out;
    out.code.reserve(code.size() + 64);
    size_t i = 0;
    while (i < code.size()) {
        size_t at = code.find("native", i);
        if (at == std::string::npos) break;
        size_t end;
        std::string name;
        if (!ParseDeclaration(code, at, &end, &name)) {
            out.code.append(code, i, at + 1 - i);
            i = at + 1;
            continue;
        }
        out.code.append(code, i, at - i);
        out.code += "var " + name + " = " + holder + "." + name + ";";
        if (std::find(out.natives.begin(), out.natives.end(), name) == out.natives.end()) out.natives.push_back(name);
        i = end;
    }
    out.code.append(code, i, std::string::npos);
    return out;
}

}  // namespace kxcef
