// What an operator does on a voice server so that rooms work: let every user
// make temporary channels under the root channel, or make a room that stays.
// Done as SuperUser with the server's own messages (the tools/voiceadmin
// program and the test harness use it).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "outside/qm_nim/net/endpoint.h"

namespace qmnim::session {

// Adds MakeTempChannel for the group "all" to the root channel's access list,
// keeping every other entry. False with `error` when it could not.
bool GrantTemporaryChannels(const net::ServerEndpoint& server, const std::string& superUserPassword,
                            std::chrono::milliseconds timeout, std::string& error);

// Makes a permanent channel named `name` (exactly: no room-id encoding) under
// `parent` and returns its id; nullopt with `error` when the server refused.
std::optional<std::uint32_t> CreatePermanentChannel(const net::ServerEndpoint& server,
                                                    const std::string& superUserPassword, std::uint32_t parent,
                                                    const std::string& name, std::chrono::milliseconds timeout,
                                                    std::string& error);

}  // namespace qmnim::session
