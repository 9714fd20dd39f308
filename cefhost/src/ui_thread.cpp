#include "ui_thread.h"

#include <glib.h>

#include <atomic>
#include <thread>

namespace kxcef {
namespace {

std::atomic<bool> g_haveUiThread{false};
std::thread::id g_uiThread;

gboolean RunTask(gpointer data) {
    (*static_cast<std::function<void()>*>(data))();
    return G_SOURCE_REMOVE;
}

void DeleteTask(gpointer data) { delete static_cast<std::function<void()>*>(data); }

}  // namespace

void SetUiThread() {
    g_uiThread = std::this_thread::get_id();
    g_haveUiThread.store(true, std::memory_order_release);
}

bool IsUiThread() {
    if (!g_haveUiThread.load(std::memory_order_acquire)) return true;
    return std::this_thread::get_id() == g_uiThread;
}

// An idle source rather than g_main_context_invoke: invoke runs the function
// on the calling thread whenever that thread manages to acquire the default
// context, i.e. whenever the UI thread is not iterating at that moment.
namespace {

void Attach(GSource* source, int priority, std::function<void()> task) {
    g_source_set_priority(source, priority);
    g_source_set_callback(source, &RunTask, new std::function<void()>(std::move(task)), &DeleteTask);
    g_source_attach(source, nullptr);
    g_source_unref(source);
}

}  // namespace

void PostToUi(std::function<void()> task) { Attach(g_idle_source_new(), G_PRIORITY_DEFAULT, std::move(task)); }

void PostToUiAfter(unsigned delayMs, std::function<void()> task) {
    Attach(g_timeout_source_new(delayMs), G_PRIORITY_DEFAULT, std::move(task));
}

void PostToUiIdle(std::function<void()> task) {
    Attach(g_idle_source_new(), G_PRIORITY_DEFAULT_IDLE, std::move(task));
}

void RunOnUi(std::function<void()> task) {
    if (IsUiThread()) task();
    else PostToUi(std::move(task));
}

}  // namespace kxcef
