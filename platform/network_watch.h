// Whether the machine's network is there, and a call when it comes back.
#pragma once

#include <functional>
#include <memory>

namespace platform {

// Watches the machine's network on the thread that runs the main loop (the
// UI thread): `onAvailable` runs there each time the network becomes
// available or changes while it is. Stops when destroyed.
class NetworkWatch {
public:
    explicit NetworkWatch(std::function<void()> onAvailable);
    ~NetworkWatch();
    NetworkWatch(const NetworkWatch&) = delete;
    NetworkWatch& operator=(const NetworkWatch&) = delete;

    // Whether the system believes the network is reachable now (a default
    // route exists); true when that cannot be told.
    bool Available() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
