// The voice datagram path as a receiver meets it: datagrams opened by the
// crypt state (its nonce reconstruction and history) and, when they open,
// parsed as pings or relayed voice. The input is a script: seal a packet,
// deliver a sealed one (again, late, or with a byte changed), deliver raw
// bytes, or resynchronise. One rule must hold whatever the order: a sealed
// datagram that opened never opens a second time (a replay). (With a
// three-byte tag a datagram placed at the wrong nonce opens to noise once in
// 2^24 tries; that is the protocol's, and only parsed.)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "outside/qm_nim/net/crypt_state.h"
#include "outside/qm_nim/proto/voice_packet.h"

using namespace qmnim;

namespace {

void Parse(std::string_view plain) {
    std::uint64_t timestamp;
    if (proto::ParseUdpPing(plain, timestamp)) return;
    proto::ReceivedVoice voice;
    if (proto::ParseServerVoice(plain, voice) &&
        (voice.opus.data() < plain.data() || voice.opus.data() + voice.opus.size() > plain.data() + plain.size()))
        std::abort();
}

struct Sealed {
    std::string plain, datagram;
    bool opened = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::string key(16, 'K'), nonce(16, '\x7f'), unused(16, '\0');
    net::CryptState sender, receiver;
    sender.SetKey(key, nonce, unused);
    receiver.SetKey(key, unused, nonce);
    std::vector<Sealed> pool;
    size_t at = 0;
    auto take = [&](size_t n) {
        std::string_view piece = in.substr(std::min(at, in.size()), n);
        at += piece.size();
        return piece;
    };
    auto byte = [&]() -> std::uint8_t { return at < in.size() ? static_cast<std::uint8_t>(in[at++]) : 0; };
    std::string plain;
    while (at < in.size()) {
        switch (byte() % 5) {
        case 0: {  // seal a packet (a tenth of them pings)
            std::string p(take(byte() % 64));
            if (!p.empty() && p[0] == '\x20') p = proto::BuildUdpPing(p.size());
            Sealed s;
            s.plain = p;
            sender.Encrypt(p, s.datagram);
            if (pool.size() < 400) pool.push_back(std::move(s));
            break;
        }
        case 1: {  // deliver a sealed one as it is
            if (pool.empty()) break;
            Sealed& s = pool[byte() % pool.size()];
            if (receiver.Decrypt(s.datagram, plain)) {
                if (plain == s.plain) {
                    if (s.opened) std::abort();
                    s.opened = true;
                }
                Parse(plain);
            }
            break;
        }
        case 2: {  // deliver a sealed one with one byte changed
            if (pool.empty()) break;
            std::string d = pool[byte() % pool.size()].datagram;
            if (d.empty()) break;
            size_t where = byte() % d.size();
            d[where] = static_cast<char>(d[where] ^ (byte() | 1));
            if (receiver.Decrypt(d, plain)) Parse(plain);
            break;
        }
        case 3: {  // raw bytes from anyone
            std::string_view d = take(byte());
            if (receiver.Decrypt(d, plain)) Parse(plain);
            Parse(d);
            break;
        }
        case 4:  // the server's nonce given again
            receiver.SetDecryptNonce(sender.encryptNonce());
            break;
        }
    }
    return 0;
}
