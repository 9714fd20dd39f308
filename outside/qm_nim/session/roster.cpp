#include "outside/qm_nim/session/roster.h"

namespace qmnim::session {

std::string CutUtf8(std::string text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t end = maxBytes;
    // Back over continuation bytes to the lead byte of the sequence that does not fit.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

void Roster::Clear() {
    channels_.clear();
    users_.clear();
    byName_.clear();
    byChannel_.clear();
}

void Roster::Unindex(const Channel& c) {
    auto it = byName_.find({c.parent, c.name});
    if (it == byName_.end()) return;
    it->second.erase(c.id);
    if (it->second.empty()) byName_.erase(it);
}

void Roster::Index(const Channel& c) {
    if (c.id != c.parent) byName_[{c.parent, c.name}].insert(c.id);
}

void Roster::Apply(const proto::ChannelStateMsg& m) {
    if (!m.channelId) return;
    auto [it, added] = channels_.try_emplace(*m.channelId);
    Channel& c = it->second;
    if (!added) Unindex(c);
    c.id = *m.channelId;
    if (m.parent) c.parent = *m.parent;
    if (m.name) c.name = *m.name;
    if (m.temporary) c.temporary = *m.temporary;
    Index(c);
}

void Roster::Apply(const proto::ChannelRemoveMsg& m) {
    if (!m.channelId) return;
    auto it = channels_.find(*m.channelId);
    if (it == channels_.end()) return;
    Unindex(it->second);
    channels_.erase(it);
}

void Roster::MoveUser(std::uint32_t session, std::uint32_t from, std::uint32_t to) {
    auto it = byChannel_.find(from);
    if (it != byChannel_.end()) {
        it->second.erase(session);
        if (it->second.empty()) byChannel_.erase(it);
    }
    byChannel_[to].insert(session);
}

std::optional<std::uint32_t> Roster::Apply(const proto::UserStateMsg& m) {
    if (!m.session) return std::nullopt;
    auto it = users_.find(*m.session);
    std::optional<std::uint32_t> before;
    if (it == users_.end()) {
        it = users_.emplace(*m.session, User{}).first;
        it->second.session = *m.session;
        byChannel_[0].insert(*m.session);  // a user first seen without a channel is in the root
    } else {
        before = it->second.channel;
    }
    User& u = it->second;
    if (m.name) u.name = CutUtf8(*m.name, kMaxNameBytes);
    if (m.channelId && *m.channelId != u.channel) {
        MoveUser(u.session, u.channel, *m.channelId);
        u.channel = *m.channelId;
    }
    if (m.selfMute) u.selfMute = *m.selfMute;
    if (m.mute) u.mute = *m.mute;
    if (m.suppress) u.suppress = *m.suppress;
    if (m.selfDeaf) u.selfDeaf = *m.selfDeaf;
    if (m.deaf) u.deaf = *m.deaf;
    return before;
}

void Roster::Apply(const proto::UserRemoveMsg& m) {
    if (!m.session) return;
    auto it = users_.find(*m.session);
    if (it == users_.end()) return;
    auto in = byChannel_.find(it->second.channel);
    if (in != byChannel_.end()) {
        in->second.erase(*m.session);
        if (in->second.empty()) byChannel_.erase(in);
    }
    users_.erase(it);
}

std::optional<std::uint32_t> Roster::FindChild(std::uint32_t parent, const std::string& name) const {
    auto it = byName_.find({parent, name});
    if (it == byName_.end() || it->second.empty()) return std::nullopt;
    return *it->second.begin();
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
    auto in = byChannel_.find(channel);
    if (in == byChannel_.end()) return out;
    out.reserve(in->second.size());
    for (std::uint32_t s : in->second) out.push_back(users_.at(s));
    return out;
}

size_t Roster::CountIn(std::uint32_t channel) const {
    auto in = byChannel_.find(channel);
    return in == byChannel_.end() ? 0 : in->second.size();
}

std::vector<User> Roster::ListIn(std::uint32_t channel, const std::vector<std::uint32_t>& first, size_t max) const {
    std::vector<User> out;
    auto in = byChannel_.find(channel);
    if (in == byChannel_.end()) return out;
    std::set<std::uint32_t> taken;
    for (std::uint32_t s : first) {
        if (out.size() >= max) return out;
        if (in->second.count(s) && taken.insert(s).second) out.push_back(users_.at(s));
    }
    for (std::uint32_t s : in->second) {
        if (out.size() >= max) break;
        if (!taken.count(s)) out.push_back(users_.at(s));
    }
    return out;
}

}  // namespace qmnim::session
