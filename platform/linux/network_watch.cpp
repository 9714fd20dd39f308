#include "platform/network_watch.h"

#include <gio/gio.h>

namespace platform {

struct NetworkWatch::State {
    std::function<void()> onAvailable;
    GNetworkMonitor* monitor = nullptr;  // the process's default monitor, not ours to free
    gulong handler = 0;

    static void Changed(GNetworkMonitor*, gboolean available, gpointer data) {
        auto* state = static_cast<State*>(data);
        if (available && state->onAvailable) state->onAvailable();
    }
};

NetworkWatch::NetworkWatch(std::function<void()> onAvailable) : state_(new State) {
    state_->onAvailable = std::move(onAvailable);
    state_->monitor = g_network_monitor_get_default();
    if (state_->monitor)
        state_->handler = g_signal_connect(state_->monitor, "network-changed", G_CALLBACK(&State::Changed),
                                           state_.get());
}

NetworkWatch::~NetworkWatch() {
    if (state_->monitor && state_->handler) g_signal_handler_disconnect(state_->monitor, state_->handler);
}

bool NetworkWatch::Available() const {
    return !state_->monitor || g_network_monitor_get_network_available(state_->monitor);
}

}  // namespace platform
