// What a server operator does by hand, for tests against murmurd: as
// SuperUser, make a permanent channel (one that stays when the last user
// leaves) or move a user to another channel. Each call is a short session of
// its own over TLS, on the voice protocol's own messages.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace qmtest {

class MurmurAdmin {
public:
    MurmurAdmin(int port, std::string superUserPassword) : port_(port), password_(std::move(superUserPassword)) {}

    // A permanent channel under the root; its id (also when it exists already).
    std::optional<std::uint32_t> MakeChannel(const std::string& name,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Moves the user called `user` into `channel` ("" for the root).
    bool Move(const std::string& user, const std::string& channel,
              std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    int port_;
    std::string password_;
};

}  // namespace qmtest
