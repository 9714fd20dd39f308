// What the client knows of the server's channels and users, as the control
// messages describe them. Written by the session thread; read by anyone
// through copies.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "outside/qm_nim/proto/messages.h"

namespace qmnim::session {

struct Channel {
    std::uint32_t id = 0;
    std::uint32_t parent = 0;
    std::string name;
    bool temporary = false;
};

struct User {
    std::uint32_t session = 0;
    std::string name;
    std::uint32_t channel = 0;
    bool selfMute = false;
    bool mute = false;
};

class Roster {
public:
    void Clear();
    void Apply(const proto::ChannelStateMsg& m);
    void Apply(const proto::ChannelRemoveMsg& m);
    // Returns the user's channel before the change (nullopt for a new user).
    std::optional<std::uint32_t> Apply(const proto::UserStateMsg& m);
    void Apply(const proto::UserRemoveMsg& m);

    // The channel named `name` directly under `parent`.
    std::optional<std::uint32_t> FindChild(std::uint32_t parent, const std::string& name) const;
    const Channel* FindChannel(std::uint32_t id) const;
    const User* FindUser(std::uint32_t session) const;
    // Users in `channel`, by session.
    std::vector<User> UsersIn(std::uint32_t channel) const;

private:
    std::map<std::uint32_t, Channel> channels_;
    std::map<std::uint32_t, User> users_;
};

}  // namespace qmnim::session
