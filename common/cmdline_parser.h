// CCmdLineParser: the switch syntax of the whole system. A switch is '*' or
// '/', a name, and optionally ':' and a value ("*cid:83302ACB1052"). Names are
// case-insensitive and the first occurrence wins; values keep their case.
#pragma once

#include <map>
#include <string>

class CCmdLineParser {
public:
    CCmdLineParser() = default;
    explicit CCmdLineParser(const std::wstring& commandLine) { Parse(commandLine); }

    void Parse(const std::wstring& commandLine);

    // Value of the switch (empty when absent or without value).
    std::wstring GetVal(const std::wstring& name) const;
    bool HasKey(const std::wstring& name) const;
    const std::map<std::wstring, std::wstring>& Switches() const { return switches_; }
    const std::wstring& CommandLine() const { return commandLine_; }

private:
    void Store(std::wstring name, std::wstring value);

    std::wstring commandLine_;
    std::map<std::wstring, std::wstring> switches_;
};
