#include "outside/qm_nim/session/roster.h"

namespace qmnim::session {

void Roster::Clear() {
    channels_.clear();
    users_.clear();
}

void Roster::Apply(const proto::ChannelStateMsg& m) {
    if (!m.channelId) return;
    auto [it, added] = channels_.try_emplace(*m.channelId);
    Channel& c = it->second;
    c.id = *m.channelId;
    if (m.parent) c.parent = *m.parent;
    if (m.name) c.name = *m.name;
    if (m.temporary) c.temporary = *m.temporary;
    (void)added;
}

void Roster::Apply(const proto::ChannelRemoveMsg& m) {
    if (m.channelId) channels_.erase(*m.channelId);
}

std::optional<std::uint32_t> Roster::Apply(const proto::UserStateMsg& m) {
    if (!m.session) return std::nullopt;
    auto it = users_.find(*m.session);
    std::optional<std::uint32_t> before;
    if (it == users_.end()) {
        it = users_.emplace(*m.session, User{}).first;
        it->second.session = *m.session;
    } else {
        before = it->second.channel;
    }
    User& u = it->second;
    if (m.name) u.name = *m.name;
    if (m.channelId) u.channel = *m.channelId;
    if (m.selfMute) u.selfMute = *m.selfMute;
    if (m.mute) u.mute = *m.mute;
    return before;
}

void Roster::Apply(const proto::UserRemoveMsg& m) {
    if (m.session) users_.erase(*m.session);
}

std::optional<std::uint32_t> Roster::FindChild(std::uint32_t parent, const std::string& name) const {
    for (const auto& [id, c] : channels_) {
        if (id != parent && c.parent == parent && c.name == name) return id;
    }
    return std::nullopt;
}

const Channel* Roster::FindChannel(std::uint32_t id) const {
    auto it = channels_.find(id);
    return it == channels_.end() ? nullptr : &it->second;
}

const User* Roster::FindUser(std::uint32_t session) const {
    auto it = users_.find(session);
    return it == users_.end() ? nullptr : &it->second;
}

std::vector<User> Roster::UsersIn(std::uint32_t channel) const {
    std::vector<User> out;
    for (const auto& [s, u] : users_) {
        if (u.channel == channel) out.push_back(u);
    }
    return out;
}

}  // namespace qmnim::session
