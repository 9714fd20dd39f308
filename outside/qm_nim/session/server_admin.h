// What an operator does once on a voice server so that rooms work: let every
// user make temporary channels under the root channel. Done as SuperUser with
// the server's own access-list message (the tools/voiceadmin program and the
// test harness use it).
#pragma once

#include <chrono>
#include <string>

#include "outside/qm_nim/net/endpoint.h"

namespace qmnim::session {

// Adds MakeTempChannel for the group "all" to the root channel's access list,
// keeping every other entry. False with `error` when it could not.
bool GrantTemporaryChannels(const net::ServerEndpoint& server, const std::string& superUserPassword,
                            std::chrono::milliseconds timeout, std::string& error);

}  // namespace qmnim::session
