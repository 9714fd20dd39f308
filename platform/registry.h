// Read-only machine registry: HKEY_LOCAL_MACHINE values from a file in the
// Windows ".reg" export format. The file is "/etc/qm/machine.reg" unless the
// environment variable QM_REGISTRY_FILE names another; a missing file holds no keys.
// Safe to use from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/paths.h"

namespace platform {

class RegistryKey {
public:
    RegistryKey();
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Opens "SOFTWARE\\..." under HKEY_LOCAL_MACHINE (case-insensitive); false when absent.
    bool Open(const std::wstring& subKey);
    void Close();
    bool IsOpen() const;

    // REG_SZ only: false when the value is missing or of another type.
    bool QueryString(const std::wstring& name, std::wstring& value) const;
    // REG_DWORD only.
    bool QueryDword(const std::wstring& name, std::uint32_t& value) const;

private:
    struct Values;
    std::unique_ptr<Values> values_;
};

// The path of the registry file in use.
std::wstring RegistryFilePath();
// How the registry file was last read: a file over kMaxConfigFileBytes, or not a
// regular file, holds no keys. The file is read again only when it changed.
ReadStatus RegistryFileStatus();

// Parses ".reg" text into key (upper-cased full path) -> value name (upper-cased) -> value.
struct RegValue {
    enum class Type { String, Dword, Other } type = Type::Other;
    std::wstring text;
    std::uint32_t dword = 0;
};
using RegistryTree = std::map<std::wstring, std::map<std::wstring, RegValue>>;
RegistryTree ParseRegFile(const std::string& fileBytes);

}  // namespace platform
