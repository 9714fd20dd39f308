// The process's one record of the UI thread: the first claim wins for good,
// and every thread reads the same answer.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/thread_rule.h"

namespace {

// A thread that claims the UI thread and lives until the test ends (an ended
// thread's id may be given to the next one).
class UiThread {
public:
    UiThread()
        : thread_([this] {
              std::unique_lock<std::mutex> lock(lock_);
              claimed_ = platform::ClaimUiThread();
              isUi_ = platform::IsUiThread();
              ready_ = true;
              wake_.notify_all();
              wake_.wait(lock, [this] { return done_; });
          }) {
        std::unique_lock<std::mutex> lock(lock_);
        wake_.wait(lock, [this] { return ready_; });
    }
    ~UiThread() {
        {
            std::lock_guard<std::mutex> lock(lock_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    bool claimed() const { return claimed_; }
    bool isUi() const { return isUi_; }

private:
    std::mutex lock_;
    std::condition_variable wake_;
    bool ready_ = false, done_ = false, claimed_ = false, isUi_ = false;
    std::thread thread_;
};

TEST(UiThreadRecord, TheFirstClaimWinsAndOtherThreadsAreNotTheUiThread) {
    // Before any claim every thread may still become the UI thread.
    ASSERT_FALSE(platform::HasUiThread());
    EXPECT_TRUE(platform::MayActAsUiThread());

    UiThread ui;
    EXPECT_TRUE(ui.claimed());
    EXPECT_TRUE(ui.isUi());
    // This thread came too late: its claim fails and it is not the UI thread.
    EXPECT_TRUE(platform::HasUiThread());
    EXPECT_FALSE(platform::ClaimUiThread());
    EXPECT_FALSE(platform::IsUiThread());
    EXPECT_FALSE(platform::MayActAsUiThread());
    bool uiElsewhere = true;
    std::thread([&] { uiElsewhere = platform::IsUiThread(); }).join();
    EXPECT_FALSE(uiElsewhere);

#ifndef NDEBUG
    // A function for the UI thread alone stops with its name elsewhere.
    EXPECT_DEATH([] { QM_ASSERT_UI_THREAD(); }(), "operator\\(\\).* runs off the UI thread");
#endif
}

}  // namespace
