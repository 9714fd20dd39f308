#include "outside/qm_nim/net/crypt_state.h"

#include <cstring>

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace qmnim::net {
namespace {

using Block = CryptState::Block;
constexpr size_t kB = CryptState::kBlockBytes;

// Doubling in GF(2^128) with the block read big-endian.
void Times2(Block& b) {
    std::uint8_t carry = b[0] >> 7;
    for (size_t i = 0; i + 1 < kB; ++i) b[i] = static_cast<std::uint8_t>((b[i] << 1) | (b[i + 1] >> 7));
    b[kB - 1] = static_cast<std::uint8_t>((b[kB - 1] << 1) ^ (carry * 0x87));
}

void Times3(Block& b) {
    Block twice = b;
    Times2(twice);
    for (size_t i = 0; i < kB; ++i) b[i] ^= twice[i];
}

void XorInto(std::uint8_t* dst, const std::uint8_t* a, const std::uint8_t* b) {
    for (size_t i = 0; i < kB; ++i) dst[i] = a[i] ^ b[i];
}

// The block that says how long the final (partial) block is, in bits.
Block LengthBlock(size_t bytes) {
    Block b{};
    b[kB - 1] = static_cast<std::uint8_t>(bytes * 8);  // bytes <= 16
    return b;
}

// The nonce's bytes above the lowest one, as one little-endian counter.
void CarryUp(Block& nonce) {
    for (size_t i = 1; i < kB; ++i)
        if (++nonce[i] != 0) break;
}
void BorrowDown(Block& nonce) {
    for (size_t i = 1; i < kB; ++i)
        if (nonce[i]-- != 0) break;
}

}  // namespace

CryptState::CryptState() : encrypt_(EVP_CIPHER_CTX_new()), decrypt_(EVP_CIPHER_CTX_new()) {}

CryptState::~CryptState() {
    Reset();
    EVP_CIPHER_CTX_free(encrypt_);
    EVP_CIPHER_CTX_free(decrypt_);
}

void CryptState::Reset() {
    ready_ = false;
    OPENSSL_cleanse(encryptNonce_.data(), kB);
    OPENSSL_cleanse(decryptNonce_.data(), kB);
    history_.fill(0);
    stats_ = Stats();
    if (encrypt_) EVP_CIPHER_CTX_reset(encrypt_);
    if (decrypt_) EVP_CIPHER_CTX_reset(decrypt_);
}

bool CryptState::SetKey(std::string_view key, std::string_view encryptNonce, std::string_view decryptNonce) {
    Reset();
    if (!encrypt_ || !decrypt_ || key.size() != kKeyBytes || encryptNonce.size() != kB || decryptNonce.size() != kB)
        return false;
    auto* raw = reinterpret_cast<const unsigned char*>(key.data());
    // ECB on single blocks is the raw cipher OCB is built from.
    if (EVP_EncryptInit_ex(encrypt_, EVP_aes_128_ecb(), nullptr, raw, nullptr) != 1 ||
        EVP_DecryptInit_ex(decrypt_, EVP_aes_128_ecb(), nullptr, raw, nullptr) != 1) {
        Reset();
        return false;
    }
    EVP_CIPHER_CTX_set_padding(encrypt_, 0);
    EVP_CIPHER_CTX_set_padding(decrypt_, 0);
    std::memcpy(encryptNonce_.data(), encryptNonce.data(), kB);
    std::memcpy(decryptNonce_.data(), decryptNonce.data(), kB);
    ready_ = true;
    lastGood_ = Clock::now();
    return true;
}

bool CryptState::SetDecryptNonce(std::string_view nonce) {
    if (nonce.size() != kB) return false;
    // The history stays: a datagram accepted before must not open again.
    std::memcpy(decryptNonce_.data(), nonce.data(), kB);
    return true;
}

std::string CryptState::encryptNonce() const {
    return std::string(reinterpret_cast<const char*>(encryptNonce_.data()), kB);
}

void CryptState::Aes(const std::uint8_t* in, std::uint8_t* out) {
    int n = 0;
    EVP_EncryptUpdate(encrypt_, out, &n, in, static_cast<int>(kB));
}

void CryptState::AesInverse(const std::uint8_t* in, std::uint8_t* out) {
    int n = 0;
    EVP_DecryptUpdate(decrypt_, out, &n, in, static_cast<int>(kB));
}

bool CryptState::EncryptBlocks(const std::uint8_t* plain, std::uint8_t* out, size_t length, const Block& nonce,
                               Block& tag) {
    bool untouched = true;
    Block delta, checksum{}, tmp, pad;
    Aes(nonce.data(), delta.data());
    while (length > kB) {
        // The block before the final one, zero but for its last byte, is what
        // the forgery needs: flip a bit of it (in the cipher input and in the
        // checksum alike, so the peer reads the flipped block as authentic).
        bool flip = false;
        if (length - kB <= kB) {
            std::uint8_t any = 0;
            for (size_t i = 0; i + 1 < kB; ++i) any |= plain[i];
            flip = any == 0;
        }
        Times2(delta);
        XorInto(tmp.data(), delta.data(), plain);
        if (flip) tmp[0] ^= 1;
        Aes(tmp.data(), tmp.data());
        XorInto(out, delta.data(), tmp.data());
        XorInto(checksum.data(), checksum.data(), plain);
        if (flip) {
            checksum[0] ^= 1;
            untouched = false;
        }
        length -= kB;
        plain += kB;
        out += kB;
    }
    Times2(delta);
    tmp = LengthBlock(length);
    XorInto(tmp.data(), tmp.data(), delta.data());
    Aes(tmp.data(), pad.data());
    // The final block padded with the pad's own bytes goes into the checksum.
    tmp = pad;
    if (length) std::memcpy(tmp.data(), plain, length);
    XorInto(checksum.data(), checksum.data(), tmp.data());
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(pad[i] ^ tmp[i]);
    Times3(delta);
    XorInto(tmp.data(), delta.data(), checksum.data());
    Aes(tmp.data(), tag.data());
    return untouched;
}

bool CryptState::DecryptBlocks(const std::uint8_t* in, std::uint8_t* plain, size_t length, const Block& nonce,
                               Block& tag) {
    Block delta, checksum{}, tmp, pad;
    Aes(nonce.data(), delta.data());
    while (length > kB) {
        Times2(delta);
        XorInto(tmp.data(), delta.data(), in);
        AesInverse(tmp.data(), tmp.data());
        XorInto(plain, delta.data(), tmp.data());
        XorInto(checksum.data(), checksum.data(), plain);
        length -= kB;
        plain += kB;
        in += kB;
    }
    Times2(delta);
    tmp = LengthBlock(length);
    XorInto(tmp.data(), tmp.data(), delta.data());
    Aes(tmp.data(), pad.data());
    tmp.fill(0);
    if (length) std::memcpy(tmp.data(), in, length);
    XorInto(tmp.data(), tmp.data(), pad.data());
    XorInto(checksum.data(), checksum.data(), tmp.data());
    if (length) std::memcpy(plain, tmp.data(), length);
    // A forged final block decrypts to its own offset (all but the length
    // byte, which the attacker may vary): refuse it whatever the tag says.
    bool authentic = std::memcmp(tmp.data(), delta.data(), kB - 1) != 0;
    Times3(delta);
    XorInto(tmp.data(), delta.data(), checksum.data());
    Aes(tmp.data(), tag.data());
    return authentic;
}

bool CryptState::Encrypt(std::string_view plain, std::string& datagram) {
    if (!ready_) return false;
    for (size_t i = 0; i < kB; ++i)
        if (++encryptNonce_[i] != 0) break;
    datagram.assign(kHeaderBytes + plain.size(), '\0');
    auto* out = reinterpret_cast<std::uint8_t*>(datagram.data());
    Block tag;
    EncryptBlocks(reinterpret_cast<const std::uint8_t*>(plain.data()), out + kHeaderBytes, plain.size(),
                  encryptNonce_, tag);
    out[0] = encryptNonce_[0];
    out[1] = tag[0];
    out[2] = tag[1];
    out[3] = tag[2];
    return true;
}

bool CryptState::Decrypt(std::string_view datagram, std::string& plain) {
    if (!ready_ || datagram.size() < kHeaderBytes) return false;
    const auto* in = reinterpret_cast<const std::uint8_t*>(datagram.data());
    const Block saved = decryptNonce_;
    const std::uint8_t got = in[0];
    const std::uint8_t had = decryptNonce_[0];
    bool late = false, restore = false;
    std::uint32_t lost = 0;

    if (static_cast<std::uint8_t>(had + 1) == got) {
        // The next one, as expected (the low byte may wrap into the next round).
        decryptNonce_[0] = got;
        if (got < had) CarryUp(decryptNonce_);
    } else {
        int diff = int(got) - int(had);
        if (diff > 128) diff -= 256;
        if (diff < -128) diff += 256;
        if (diff < 0 && diff > -30) {
            // Late: it belongs before the newest one accepted, possibly in the
            // previous round of the low byte. Placed, opened, then forgotten.
            late = true;
            restore = true;
            decryptNonce_[0] = got;
            if (got > had) BorrowDown(decryptNonce_);
        } else if (diff > 0) {
            // Some were lost on the way; this one is beyond them.
            lost = static_cast<std::uint32_t>(diff - 1);
            decryptNonce_[0] = got;
            if (got < had) CarryUp(decryptNonce_);
        } else {
            return false;  // the newest one again, or too old to place
        }
        if (history_[decryptNonce_[0]] == (0x100 | decryptNonce_[1])) {
            decryptNonce_ = saved;
            return false;  // replayed
        }
    }

    size_t length = datagram.size() - kHeaderBytes;
    plain.assign(length, '\0');
    Block tag;
    bool authentic = DecryptBlocks(in + kHeaderBytes, reinterpret_cast<std::uint8_t*>(plain.data()), length,
                                   decryptNonce_, tag);
    if (!authentic || CRYPTO_memcmp(tag.data(), in + 1, 3) != 0) {
        decryptNonce_ = saved;
        plain.clear();
        return false;
    }
    history_[decryptNonce_[0]] = static_cast<std::uint16_t>(0x100 | decryptNonce_[1]);
    if (restore) decryptNonce_ = saved;
    ++stats_.good;
    if (late) {
        ++stats_.late;
        if (stats_.lost > 0) --stats_.lost;  // counted as lost when a later one came first
    }
    stats_.lost += lost;
    lastGood_ = Clock::now();
    return true;
}

}  // namespace qmnim::net
