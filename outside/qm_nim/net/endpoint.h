// Where the voice server is and how its certificate is checked, from the
// "[voice]" section of deploy.ini: host=HOST:PORT and an optional
// fingerprint=SHA-256 of the server certificate in hex (either case, colons
// allowed).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qmnim::net {

constexpr std::uint16_t kDefaultVoicePort = 64738;

struct ServerEndpoint {
    std::string host;  // name or address, without brackets
    std::uint16_t port = kDefaultVoicePort;
    std::string pin;   // 32 bytes of SHA-256, or empty: verify against the system's CAs
};

// "host", "host:port", "[v6]:port"; nullopt when malformed.
std::optional<ServerEndpoint> ParseHostPort(std::string_view text);
// 64 hex digits, optionally separated by colons; nullopt otherwise.
std::optional<std::string> ParseFingerprint(std::string_view text);
// Both values together; `error` says what is wrong.
std::optional<ServerEndpoint> ParseVoiceServer(std::string_view host, std::string_view fingerprint, std::string& error);

std::string Hex(std::string_view bytes);

}  // namespace qmnim::net
