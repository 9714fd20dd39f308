#include "platform/shell.h"

#include <glib.h>
#include <glib/gstdio.h>

#include "platform/paths.h"
#include "platform/text.h"

namespace platform {
namespace {

// One argument in the quoting of the Exec key of the desktop entry format.
std::string QuoteExecArg(const std::string& arg) {
    std::string out = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    return out + "\"";
}

// Splits at blanks outside double quotes; the quotes stay part of the argument.
std::vector<std::string> SplitKeepingQuotes(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (c == ' ' && !quoted) {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

std::string EscapeValue(const std::string& v) {
    std::string out;
    for (char c : v) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\\') out += "\\\\";
        else out += c;
    }
    return out;
}

}  // namespace

std::wstring DesktopFolder() {
    const char* dir = g_get_user_special_dir(G_USER_DIRECTORY_DESKTOP);
    return dir ? FromNativePath(dir) : std::wstring();
}

bool WriteDesktopLauncher(const std::wstring& path, const std::wstring& name, const std::wstring& executable,
                          const std::wstring& arguments, const std::wstring& iconPath) {
    std::string exec = QuoteExecArg(NativePath(executable));
    for (const auto& arg : SplitKeepingQuotes(WideToUtf8(arguments))) exec += " " + QuoteExecArg(arg);
    std::string text = "[Desktop Entry]\nType=Application\nVersion=1.0\n";
    text += "Name=" + EscapeValue(WideToUtf8(name)) + "\n";
    text += "Exec=" + EscapeValue(exec) + "\n";
    if (!iconPath.empty()) text += "Icon=" + EscapeValue(NativePath(iconPath)) + "\n";
    text += "Terminal=false\n";
    if (!WriteFileBytes(path, text)) return false;
    g_chmod(NativePath(path).c_str(), 0755);  // desktops launch only executable entries
    return true;
}

}  // namespace platform
