// Helpers of the services tests: a recorder for page replies, a web window
// with a command table, and the daily log read back.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/log_record.h"
#include "common/qn_interfaces.h"
#include "core/services/reply/js_reply.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tests/support/logs.h"
#include "tests/support/process.h"

namespace qmtest {

struct SentReply {
    std::string function;
    std::wstring text;
    int browserId = 0;
    size_t argCount = 0;
    VARTYPE argType = VT_EMPTY;
};

// Replaces the page-call sender for its lifetime and records every call.
class ReplyRecorder {
public:
    ReplyRecorder() {
        previous_ = SetJsCommandSender([this](const std::string& fn, std::vector<VARIANT>& args, int id) {
            SentReply r;
            r.function = fn;
            r.browserId = id;
            r.argCount = args.size();
            if (!args.empty()) {
                r.argType = args[0].vt;
                r.text = platform::VariantText(args[0]);
            }
            std::lock_guard<std::mutex> lock(lock_);
            replies_.push_back(r);
            arrived_.notify_all();
            return true;
        });
    }
    ~ReplyRecorder() { SetJsCommandSender(previous_); }

    std::vector<SentReply> Replies() const {
        std::lock_guard<std::mutex> lock(lock_);
        return replies_;
    }
    // UTF-8 texts of the replies whose "cbfn" is `callbackName` (all when empty).
    std::vector<std::string> Texts(const std::string& callbackName = "") const {
        std::vector<std::string> out;
        for (const SentReply& r : Replies()) {
            std::string text = platform::WideToUtf8(r.text);
            if (callbackName.empty() || text.find("\"cbfn\":\"" + callbackName + "\"") != std::string::npos)
                out.push_back(text);
        }
        return out;
    }
    // Waits (bounded) until `count` replies for `callbackName` arrived.
    bool WaitFor(const std::string& callbackName, size_t count,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        std::unique_lock<std::mutex> lock(lock_);
        while (true) {
            size_t n = 0;
            for (const SentReply& r : replies_) {
                if (platform::WideToUtf8(r.text).find("\"cbfn\":\"" + callbackName + "\"") != std::string::npos) ++n;
            }
            if (n >= count) return true;
            if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout) return false;
        }
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(lock_);
        replies_.clear();
    }

private:
    mutable std::mutex lock_;
    mutable std::condition_variable arrived_;
    std::vector<SentReply> replies_;
    JsCommandSender previous_;
};

// Sends the daily log to a fresh directory for its lifetime and reads it back.
class LogCapture {
public:
    explicit LogCapture(bool privateLog = false) {
        if (privateLog) qmtest::WriteFile(dir_.File("hunter_no_private.txt"), "");
        qmlog::ResetForTesting();
        qmlog::SetExecutablePathForTesting(platform::FromNativePath(dir_.File("services_test")));
    }
    ~LogCapture() {
        qmlog::ResetForTesting();
        qmlog::SetExecutablePathForTesting(L"");
    }
    // Everything logged so far, as UTF-8.
    std::string Text() const { return qmtest::DailyLogs(dir_.path()); }
    // The message lines (without the entry headers), in order.
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        std::string text = Text();
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find("\r\n", start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line[0] != '[') out.push_back(line);
            start = end + 2;
        }
        return out;
    }
    // How many message lines equal `line` exactly.
    size_t CountLine(const std::string& line) const {
        size_t n = 0;
        for (const std::string& l : Lines()) n += l == line;
        return n;
    }
    size_t Count(const std::string& needle) const {
        std::string text = Text();
        size_t n = 0;
        for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) ++n;
        return n;
    }

private:
    qmtest::TempDir dir_;
};

}  // namespace qmtest
