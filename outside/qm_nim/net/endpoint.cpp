#include "outside/qm_nim/net/endpoint.h"

namespace qmnim::net {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<ServerEndpoint> ParseHostPort(std::string_view text) {
    text = Trim(text);
    ServerEndpoint e;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        size_t close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        e.host = std::string(text.substr(1, close - 1));
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            port = rest.substr(1);
            if (port.empty()) return std::nullopt;
        }
    } else {
        size_t colon = text.find(':');
        if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos)
            return std::nullopt;  // a bare v6 address needs brackets
        e.host = std::string(text.substr(0, colon));
        if (colon != std::string_view::npos) {
            port = text.substr(colon + 1);
            if (port.empty()) return std::nullopt;
        }
    }
    if (e.host.empty()) return std::nullopt;
    for (char c : e.host) {
        if (c == ' ' || c == '/' || c == '@' || static_cast<unsigned char>(c) < 0x21) return std::nullopt;
    }
    if (!port.empty()) {
        if (port.size() > 5) return std::nullopt;
        unsigned value = 0;
        for (char c : port) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value == 0 || value > 65535) return std::nullopt;
        e.port = static_cast<std::uint16_t>(value);
    }
    return e;
}

std::optional<std::string> ParseFingerprint(std::string_view text) {
    text = Trim(text);
    std::string out;
    int high = -1;
    for (char c : text) {
        if (c == ':') {
            if (high >= 0) return std::nullopt;  // colons only between bytes
            continue;
        }
        int v = Nibble(c);
        if (v < 0) return std::nullopt;
        if (high < 0) {
            high = v;
        } else {
            out += static_cast<char>((high << 4) | v);
            high = -1;
        }
    }
    if (high >= 0 || out.size() != 32) return std::nullopt;
    return out;
}

std::optional<ServerEndpoint> ParseVoiceServer(std::string_view host, std::string_view fingerprint,
                                               std::string& error) {
    auto e = ParseHostPort(host);
    if (!e) {
        error = "host is not HOST:PORT";
        return std::nullopt;
    }
    if (!Trim(fingerprint).empty()) {
        auto pin = ParseFingerprint(fingerprint);
        if (!pin) {
            error = "fingerprint is not a SHA-256 in hex";
            return std::nullopt;
        }
        e->pin = *pin;
    }
    return e;
}

std::string Hex(std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (char b : bytes) {
        out += kHex[static_cast<unsigned char>(b) >> 4];
        out += kHex[static_cast<unsigned char>(b) & 15];
    }
    return out;
}

}  // namespace qmnim::net
