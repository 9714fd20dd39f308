// The encryption of voice datagrams: OCB2 with AES-128, keyed by the
// server's CryptSetup. Each datagram is one byte of the sender's nonce (its
// lowest byte), three bytes of the tag, then the encrypted voice packet. The
// receiver rebuilds the full nonce from that byte and keeps a history of the
// nonces it has accepted, so that it can tell a late datagram from a lost
// one and refuse a replayed one.
//
// OCB2 has a known forgery (2019) that needs a plaintext whose last full
// block but one is all zero but for its last byte, or a forged final block
// that decrypts to the block's own offset. Both ends guard: encryption flips
// a bit of such a block (the sound does not notice), decryption refuses a
// final block that matches its offset.
//
// Not thread-safe: one thread (the session's) uses it.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

namespace qmnim::net {

class CryptState {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr size_t kKeyBytes = 16;
    static constexpr size_t kBlockBytes = 16;
    static constexpr size_t kHeaderBytes = 4;  // nonce byte + 3 bytes of tag
    using Block = std::array<std::uint8_t, kBlockBytes>;

    struct Stats {
        std::uint32_t good = 0;    // datagrams accepted
        std::uint32_t late = 0;    // accepted after a later one
        std::uint32_t lost = 0;    // never seen (a late arrival takes one back)
        std::uint32_t resync = 0;  // times the server's nonce was set again
    };

    CryptState();
    ~CryptState();
    CryptState(const CryptState&) = delete;
    CryptState& operator=(const CryptState&) = delete;

    // The key and both nonces (16 bytes each); false (and not ready) when a
    // size is wrong. `encryptNonce` is this side's, `decryptNonce` the peer's.
    bool SetKey(std::string_view key, std::string_view encryptNonce, std::string_view decryptNonce);
    // A new nonce of the peer (the server's answer to a resync request).
    bool SetDecryptNonce(std::string_view nonce);
    bool ready() const { return ready_; }
    std::string encryptNonce() const;
    // Forgets key, nonces and history.
    void Reset();

    // `plain` sealed into `datagram` (kHeaderBytes longer). False when not ready.
    bool Encrypt(std::string_view plain, std::string& datagram);
    // A datagram opened into `plain`; false when it is not authentic, a
    // replay, too old to place, or when not ready. A refused datagram leaves
    // the state as it was.
    bool Decrypt(std::string_view datagram, std::string& plain);

    const Stats& stats() const { return stats_; }
    void CountResync() { ++stats_.resync; }
    // When the last datagram was accepted (the time of SetKey until then).
    Clock::time_point lastGood() const { return lastGood_; }

    // The raw mode, for tests with the published vectors: the full tag.
    // EncryptBlocks returns false when it had to flip a bit against the forgery.
    bool EncryptBlocks(const std::uint8_t* plain, std::uint8_t* out, size_t length, const Block& nonce, Block& tag);
    // False when the final block matches its offset (a forgery).
    bool DecryptBlocks(const std::uint8_t* in, std::uint8_t* plain, size_t length, const Block& nonce, Block& tag);

private:
    void Aes(const std::uint8_t* in, std::uint8_t* out);
    void AesInverse(const std::uint8_t* in, std::uint8_t* out);

    EVP_CIPHER_CTX* encrypt_ = nullptr;
    EVP_CIPHER_CTX* decrypt_ = nullptr;
    bool ready_ = false;
    Block encryptNonce_{};
    Block decryptNonce_{};
    // For each value of a nonce's lowest byte, 0x100 | the second byte of the
    // last nonce accepted with it (0: none yet): a second datagram with both
    // the same is a replay.
    std::array<std::uint16_t, 256> history_{};
    Stats stats_;
    Clock::time_point lastGood_{};
};

}  // namespace qmnim::net
