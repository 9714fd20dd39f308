// A desktop notification server on a test's private session bus that keeps
// what programs show (summary and body of each Notify call), so that a test
// can read what a program tells its user.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GMainContext GMainContext;
typedef struct _GMainLoop GMainLoop;

namespace qmtest {

class NotificationRecorder {
public:
    // Takes org.freedesktop.Notifications on the bus at `busAddress`.
    explicit NotificationRecorder(const std::string& busAddress);
    ~NotificationRecorder();
    NotificationRecorder(const NotificationRecorder&) = delete;
    NotificationRecorder& operator=(const NotificationRecorder&) = delete;
    bool started() const { return owned_; }

    // "SUMMARY: BODY" of every notification so far.
    std::vector<std::string> Shown() const;
    // Waits for a notification, after the first `skip`, containing every one of `parts`.
    bool WaitFor(const std::vector<std::string>& parts, std::chrono::milliseconds timeout, size_t skip = 0) const;
    size_t count() const;

    // GDBus's method handler (called on the recorder's thread).
    void Record(std::string text);

private:
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    GDBusConnection* connection_ = nullptr;
    std::thread thread_;
    unsigned registration_ = 0;
    bool owned_ = false;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<std::string> shown_;
};

}  // namespace qmtest
