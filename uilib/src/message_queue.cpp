#include "message_queue.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "window_procs.h"
#include "window_registry.h"

namespace UiLib {
namespace detail {
namespace {

struct Waiter {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    LRESULT result = 0;
};

struct Item {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::int64_t time = 0;
    std::function<void()> task;      // a marshalled call instead of a message
    std::shared_ptr<Waiter> waiter;  // set for sent messages and Sync calls
};

// Never destroyed: messages may still be posted from static destructors at exit.
struct Queues {
    std::mutex lock;
    std::deque<Item> sent;    // sent messages and marshalled calls: before posted ones
    std::deque<Item> posted;  // posted messages, FIFO
};
Queues& Q() {
    static Queues* queues = new Queues();
    return *queues;
}
GSource* g_source = nullptr;

std::vector<bool*> g_loopQuitFlags;  // innermost loop last
int g_pendingQuits = 0;              // WM_QUIT seen while no loop ran
std::int64_t g_messageTime = 0;

bool HasWork() {
    std::lock_guard<std::mutex> lock(Q().lock);
    return !Q().sent.empty() || !Q().posted.empty();
}

void Finish(const std::shared_ptr<Waiter>& waiter, LRESULT result) {
    if (!waiter) return;
    std::lock_guard<std::mutex> lock(waiter->lock);
    waiter->result = result;
    waiter->finished = true;
    waiter->done.notify_all();
}

void Deliver(Item& item) {
    if (item.task) {
        item.task();
        Finish(item.waiter, 0);
        return;
    }
    if (item.message == WM_QUIT) {
        if (!g_loopQuitFlags.empty()) {
            *g_loopQuitFlags.back() = true;
        } else {
            ++g_pendingQuits;
        }
        return;
    }
    LRESULT result = 0;
    if (item.hwnd && IsLocalWindow(item.hwnd)) {
        std::int64_t saved = g_messageTime;
        g_messageTime = item.time;
        result = DispatchToWindow(item.hwnd, item.message, item.wParam, item.lParam);
        g_messageTime = saved;
    }
    Finish(item.waiter, result);
}

gboolean SourcePrepare(GSource*, gint* timeout) {
    *timeout = -1;
    return HasWork();
}

gboolean SourceCheck(GSource*) { return HasWork(); }

gboolean SourceDispatch(GSource*, GSourceFunc, gpointer) {
    // Everything sent or marshalled first, then one posted message, so that the
    // toolkit's own events keep flowing between posted messages.
    for (;;) {
        Item item;
        bool posted = false;
        {
            std::lock_guard<std::mutex> lock(Q().lock);
            if (!Q().sent.empty()) {
                item = std::move(Q().sent.front());
                Q().sent.pop_front();
            } else if (!Q().posted.empty()) {
                item = std::move(Q().posted.front());
                Q().posted.pop_front();
                posted = true;
            } else {
                return G_SOURCE_CONTINUE;
            }
        }
        Deliver(item);
        if (posted) return G_SOURCE_CONTINUE;
    }
}

GSourceFuncs g_funcs = {SourcePrepare, SourceCheck, SourceDispatch, nullptr, nullptr, nullptr};

void Wake() {
    if (g_source) g_main_context_wakeup(g_source_get_context(g_source));
}

LRESULT Wait(const std::shared_ptr<Waiter>& waiter) {
    std::unique_lock<std::mutex> lock(waiter->lock);
    waiter->done.wait(lock, [&] { return waiter->finished; });
    return waiter->result;
}

}  // namespace

namespace {

// Caller holds Q().lock.
void AttachSourceLocked() {
    if (g_source) return;
    g_source = g_source_new(&g_funcs, sizeof(GSource));
    g_source_set_priority(g_source, G_PRIORITY_DEFAULT);
    // Handlers may run nested loops (modal work, SendMessage from the UI thread
    // into a nested loop); the queue must keep flowing there too.
    g_source_set_can_recurse(g_source, TRUE);
    g_source_set_name(g_source, "UiLib message queue");
    g_source_attach(g_source, nullptr);
}

Item MessageItem(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Item item;
    item.hwnd = hwnd;
    item.message = message;
    item.wParam = wParam;
    item.lParam = lParam;
    item.time = NowMs();
    return item;
}

// Sent messages and marshalled calls go before posted messages.
void Enqueue(Item item, bool sent) {
    {
        std::lock_guard<std::mutex> lock(Q().lock);
        AttachSourceLocked();
        (sent ? Q().sent : Q().posted).push_back(std::move(item));
    }
    Wake();
}

Item TaskItem(std::function<void()> task, std::shared_ptr<Waiter> waiter) {
    Item item;
    item.task = std::move(task);
    item.waiter = std::move(waiter);
    return item;
}

}  // namespace

void EnsureMessageSource() {
    std::lock_guard<std::mutex> lock(Q().lock);
    AttachSourceLocked();
}

bool QueuePost(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Enqueue(MessageItem(hwnd, message, wParam, lParam), false);
    return true;
}

LRESULT QueueSendAndWait(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto waiter = std::make_shared<Waiter>();
    Item item = MessageItem(hwnd, message, wParam, lParam);
    item.waiter = waiter;
    Enqueue(std::move(item), true);
    return Wait(waiter);
}

void RunOnUiAsync(std::function<void()> task) { Enqueue(TaskItem(std::move(task), nullptr), true); }

void RunOnUiSync(const std::function<void()>& task) {
    if (IsUiThread() || !HasUiThread()) {
        task();
        return;
    }
    auto waiter = std::make_shared<Waiter>();
    // Runs while this thread waits, so the references the task holds stay valid.
    Enqueue(TaskItem(task, waiter), true);
    Wait(waiter);
}

void RunMessageLoop() {
    EnsureMessageSource();
    ClaimUiThread();
    if (g_pendingQuits > 0) {
        --g_pendingQuits;
        return;
    }
    bool quit = false;
    g_loopQuitFlags.push_back(&quit);
    while (!quit) g_main_context_iteration(nullptr, TRUE);
    g_loopQuitFlags.pop_back();
}

LONG CurrentMessageTime() { return static_cast<LONG>(g_messageTime & 0x7FFFFFFF); }
void SetCurrentMessageTime(std::int64_t ms) { g_messageTime = ms; }

}  // namespace detail
}  // namespace UiLib
