#include "ui_thread.h"

#include <glib.h>


namespace kxcef {
namespace {

gboolean RunTask(gpointer data) {
    (*static_cast<std::function<void()>*>(data))();
    return G_SOURCE_REMOVE;
}

void DeleteTask(gpointer data) { delete static_cast<std::function<void()>*>(data); }

}  // namespace

void SetUiThread() {
    // The window library may have claimed it when it started GTK: the engine
    // must start on that same thread.
    bool claimed = platform::ClaimUiThread();
    QM_ASSERT_THREAD(claimed);
    (void)claimed;
}

bool IsUiThread() { return platform::MayActAsUiThread(); }

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
