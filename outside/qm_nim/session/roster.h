// What the client knows of the server's channels and users, as the control
// messages describe them. Written by the session thread; read by anyone
// through copies.
//
// A server may hold 100,000 channels and users (or a hostile one may claim
// to): a channel is found by parent and name, and a channel's users are
// listed, through indexes kept beside the tables, so that neither costs a
// walk over the whole server.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
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
    bool suppress = false;
    bool selfDeaf = false;
    bool deaf = false;

    bool muted() const { return selfMute || mute || suppress; }
    bool deafened() const { return selfDeaf || deaf; }
};

class Roster {
public:
    // Longer user names are cut (at a character boundary) when stored.
    static constexpr size_t kMaxNameBytes = 256;

    void Clear();
    void Apply(const proto::ChannelStateMsg& m);
    void Apply(const proto::ChannelRemoveMsg& m);
    // Returns the user's channel before the change (nullopt for a new user).
    std::optional<std::uint32_t> Apply(const proto::UserStateMsg& m);
    void Apply(const proto::UserRemoveMsg& m);

    // The channel named `name` directly under `parent` (the lowest id when a
    // server names two siblings alike).
    std::optional<std::uint32_t> FindChild(std::uint32_t parent, const std::string& name) const;
    const Channel* FindChannel(std::uint32_t id) const;
    const User* FindUser(std::uint32_t session) const;
    // Users in `channel`, by session.
    std::vector<User> UsersIn(std::uint32_t channel) const;
    size_t CountIn(std::uint32_t channel) const;
    // At most `max` users of `channel`: those of `first` that are in it, in
    // that order, then the others by session.
    std::vector<User> ListIn(std::uint32_t channel, const std::vector<std::uint32_t>& first, size_t max) const;
    size_t channelCount() const { return channels_.size(); }
    size_t userCount() const { return users_.size(); }

private:
    using NameKey = std::pair<std::uint32_t, std::string>;  // parent, name
    void Unindex(const Channel& c);
    void Index(const Channel& c);
    void MoveUser(std::uint32_t session, std::uint32_t from, std::uint32_t to);

    std::map<std::uint32_t, Channel> channels_;
    std::map<std::uint32_t, User> users_;
    std::map<NameKey, std::set<std::uint32_t>> byName_;
    std::map<std::uint32_t, std::set<std::uint32_t>> byChannel_;  // channel -> sessions
};

// `text` cut to at most `maxBytes` without splitting a UTF-8 sequence.
std::string CutUtf8(std::string text, size_t maxBytes);

}  // namespace qmnim::session
