// The voice datagrams' encryption: OCB2-AES128 against the published
// vectors, both halves of the guard against the 2019 forgery, and the
// receiver's nonce history (in order, lost, late, replayed, wrapped,
// tampered). AES itself comes from OpenSSL here, independently of the code
// under test, to build the forgery.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <string>
#include <vector>

#include "outside/qm_nim/net/crypt_state.h"

namespace qmnim {
namespace {

using net::CryptState;
using Block = CryptState::Block;

std::vector<std::uint8_t> Unhex(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string Counting(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i);
    return s;
}

Block CountingBlock() {
    Block b;
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i);
    return b;
}

std::string Bytes(const Block& b) { return std::string(reinterpret_cast<const char*>(b.data()), b.size()); }

// The OCB2 test vectors (key = nonce = 00 01 .. 0f, plaintext 00 01 .. of
// each length, no header).
TEST(CryptState, MatchesThePublishedVectorsBothWays) {
    struct Vector {
        size_t length;
        const char* cipher;
        const char* tag;
    };
    const Vector vectors[] = {
        {0, "", "BF3108130773AD5EC70EC69E7875A7B0"},
        {8, "C636B3A868F429BB", "A45F5FDEA5C088D1D7C8BE37CABC8C5C"},
        {16, "52E48F5D19FE2D9869F0C4A4B3D2BE57", "F7EE49AE7AA5B5E6645DB6B3966136F9"},
        {24, "F75D6BC8B4DC8D66B836A2B08B32A636CC579E145D323BEB", "A1A50F822819D6E0A216784AC24AC84C"},
        {32, "F75D6BC8B4DC8D66B836A2B08B32A636CEC3C555037571709DA25E1BB0421A27", "09CA6C73F0B5C6C5FD587122D75F2AA3"},
        {40, "F75D6BC8B4DC8D66B836A2B08B32A6369F1CD3C5228D79FD6C267F5F6AA7B231C7DFB9D59951AE9C",
         "9DB0CDF880F73E3E10D4EB3217766688"},
    };
    Block key = CountingBlock();
    CryptState cs;
    ASSERT_TRUE(cs.SetKey(Bytes(key), Bytes(key), Bytes(key)));
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.length);
        std::string plain = Counting(v.length);
        std::vector<std::uint8_t> out(v.length), back(v.length);
        Block tag, tagBack;
        EXPECT_TRUE(cs.EncryptBlocks(reinterpret_cast<const std::uint8_t*>(plain.data()), out.data(), v.length, key, tag));
        EXPECT_EQ(out, Unhex(v.cipher));
        EXPECT_EQ(std::vector<std::uint8_t>(tag.begin(), tag.end()), Unhex(v.tag));
        EXPECT_TRUE(cs.DecryptBlocks(out.data(), back.data(), v.length, key, tagBack));
        EXPECT_EQ(std::string(back.begin(), back.end()), plain);
        EXPECT_EQ(tagBack, tag);
    }
}

void AesEncrypt(const Block& key, const std::uint8_t* in, std::uint8_t* out) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, out, &n, in, 16);
    EVP_CIPHER_CTX_free(ctx);
}

void Double(Block& b) {
    std::uint8_t carry = b[0] >> 7;
    for (size_t i = 0; i < 15; ++i) b[i] = static_cast<std::uint8_t>((b[i] << 1) | (b[i + 1] >> 7));
    b[15] = static_cast<std::uint8_t>((b[15] << 1) ^ (carry * 0x87));
}

TEST(CryptState, BothHalvesOfTheForgeryGuardHold) {
    Block key = CountingBlock(), nonce{};
    nonce[0] = 0x42;
    CryptState cs;
    ASSERT_TRUE(cs.SetKey(Bytes(key), Bytes(nonce), Bytes(nonce)));

    // Sending: a block before the final one that is zero but for its last
    // byte (digital silence makes them) is sent with one bit flipped, and
    // still opens as authentic, flipped.
    std::string plain(32, '\0');
    plain[15] = 0x10;
    plain[20] = 0x33;
    std::vector<std::uint8_t> sealed(32), opened(32);
    Block tag, tagBack;
    EXPECT_FALSE(cs.EncryptBlocks(reinterpret_cast<const std::uint8_t*>(plain.data()), sealed.data(), 32, nonce, tag));
    EXPECT_TRUE(cs.DecryptBlocks(sealed.data(), opened.data(), 32, nonce, tagBack));
    EXPECT_EQ(tagBack, tag);
    EXPECT_EQ(opened[0], 1);
    EXPECT_EQ(std::string(opened.begin() + 1, opened.end()), plain.substr(1));
    // Only that block: the same zeros earlier in a longer message are sent as they are.
    std::string longer(48, '\0');
    longer[17] = 1;
    std::vector<std::uint8_t> sealedLonger(48);
    EXPECT_TRUE(cs.EncryptBlocks(reinterpret_cast<const std::uint8_t*>(longer.data()), sealedLonger.data(), 48,
                                 nonce, tag));

    // Receiving: a final block that decrypts to its own offset is refused,
    // whatever its length byte says.
    Block delta;
    AesEncrypt(key, nonce.data(), delta.data());
    Double(delta);  // the offset of a one-block message's final block
    Block lengthBlock{};
    lengthBlock[15] = 16 * 8;
    for (size_t i = 0; i < 16; ++i) lengthBlock[i] ^= delta[i];
    Block pad;
    AesEncrypt(key, lengthBlock.data(), pad.data());
    std::vector<std::uint8_t> forged(16), out(16);
    for (size_t i = 0; i < 16; ++i) forged[i] = delta[i] ^ pad[i];
    for (std::uint8_t last : {0x00, 0x80, 0xFF}) {
        forged[15] = last;
        EXPECT_FALSE(cs.DecryptBlocks(forged.data(), out.data(), 16, nonce, tagBack)) << int(last);
    }
    forged[3] ^= 0x01;  // any other block decrypts normally (and then fails its tag)
    EXPECT_TRUE(cs.DecryptBlocks(forged.data(), out.data(), 16, nonce, tagBack));
}

// Two ends with the same key, as client and server.
struct Pair {
    CryptState sender, receiver;
    explicit Pair(std::uint8_t firstLowByte = 0) {
        std::string key(16, 'k'), nonce(16, '\0');
        nonce[0] = static_cast<char>(firstLowByte);
        sender.SetKey(key, nonce, std::string(16, 'x'));
        receiver.SetKey(key, std::string(16, 'y'), nonce);
    }
    std::string Seal(const std::string& plain) {
        std::string d;
        EXPECT_TRUE(sender.Encrypt(plain, d));
        return d;
    }
    bool Open(const std::string& datagram, std::string* plain = nullptr) {
        std::string p;
        bool ok = receiver.Decrypt(datagram, p);
        if (plain) *plain = p;
        return ok;
    }
};

TEST(CryptState, TheNonceHistoryTellsLostLateAndReplayed) {
    Pair p;
    std::vector<std::string> d;
    for (int i = 0; i < 10; ++i) d.push_back(p.Seal("voice " + std::to_string(i)));
    std::string plain;
    ASSERT_TRUE(p.Open(d[0], &plain));
    EXPECT_EQ(plain, "voice 0");
    // 1 and 2 are lost on the way, 3 comes.
    ASSERT_TRUE(p.Open(d[3]));
    EXPECT_EQ(p.receiver.stats().lost, 2u);
    // 2 comes after all: late, no longer lost; a second time it is a replay.
    ASSERT_TRUE(p.Open(d[2], &plain));
    EXPECT_EQ(plain, "voice 2");
    EXPECT_EQ(p.receiver.stats().late, 1u);
    EXPECT_EQ(p.receiver.stats().lost, 1u);
    EXPECT_FALSE(p.Open(d[2]));
    EXPECT_FALSE(p.Open(d[3]));  // the newest again
    EXPECT_FALSE(p.Open(d[0]));
    // The late one did not move the receiver back: 4 follows 3 as usual.
    ASSERT_TRUE(p.Open(d[4], &plain));
    EXPECT_EQ(plain, "voice 4");
    // A tampered datagram (body, tag or nonce byte) is refused and changes nothing.
    for (size_t at : {size_t(0), size_t(1), size_t(6)}) {
        std::string bad = d[5];
        bad[at] = static_cast<char>(bad[at] ^ 0x04);
        EXPECT_FALSE(p.Open(bad)) << at;
    }
    EXPECT_FALSE(p.Open(d[5].substr(0, 3)));
    ASSERT_TRUE(p.Open(d[5]));
    EXPECT_EQ(p.receiver.stats().good, 5u);
}

TEST(CryptState, TheLowByteWrapsIntoTheNextRoundEitherWay) {
    Pair p(250);
    std::vector<std::string> d;
    for (int i = 0; i < 40; ++i) d.push_back(p.Seal("n" + std::to_string(i)));  // low bytes 251, 252, ..., 255, 0, 1, ...
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(p.Open(d[i])) << i;
    // In order across the wrap, then a gap across it, then a late one from before it.
    ASSERT_TRUE(p.Open(d[4]));   // 255
    ASSERT_TRUE(p.Open(d[5]));   // 0 of the next round
    ASSERT_TRUE(p.Open(d[8]));   // 3
    ASSERT_TRUE(p.Open(d[6]));   // 1, late
    std::string plain;
    ASSERT_TRUE(p.Open(d[9], &plain));
    EXPECT_EQ(plain, "n9");
    EXPECT_EQ(p.receiver.stats().lost, 1u);  // 7 never came
    // Too far back to place (30 or more): refused, not mistaken for the next round.
    for (int i = 10; i < 40; ++i) p.Open(d[i]);
    EXPECT_FALSE(p.Open(d[7]));
    // A late one from the previous round of the low byte.
    Pair q(253);
    std::vector<std::string> e;
    for (int i = 0; i < 6; ++i) e.push_back(q.Seal("m" + std::to_string(i)));  // 254, 255, 0, 1, 2, 3
    ASSERT_TRUE(q.Open(e[0]));
    ASSERT_TRUE(q.Open(e[3]));  // 1, across the wrap
    ASSERT_TRUE(q.Open(e[1], &plain));  // 255, of the round before
    EXPECT_EQ(plain, "m1");
    ASSERT_TRUE(q.Open(e[4], &plain));
    EXPECT_EQ(plain, "m4");
}

TEST(CryptState, AResyncedNonceOpensWhatTheSenderSendsNext) {
    Pair p;
    ASSERT_TRUE(p.Open(p.Seal("a")));
    // The receiver lost track (it missed more than it can place).
    for (int i = 0; i < 300; ++i) p.Seal("lost");
    std::string next = p.Seal("b");
    EXPECT_FALSE(p.Open(next));
    // The sender's current nonce, as the server gives it on request.
    ASSERT_TRUE(p.receiver.SetDecryptNonce(p.sender.encryptNonce()));
    std::string plain;
    ASSERT_TRUE(p.Open(p.Seal("c"), &plain));
    EXPECT_EQ(plain, "c");
    EXPECT_FALSE(p.receiver.SetDecryptNonce("short"));
    // Without a key nothing is sealed or opened.
    CryptState none;
    std::string out;
    EXPECT_FALSE(none.Encrypt("x", out));
    EXPECT_FALSE(none.Decrypt(next, out));
    EXPECT_FALSE(none.SetKey("short", std::string(16, 'a'), std::string(16, 'b')));
    EXPECT_FALSE(none.ready());
}

}  // namespace
}  // namespace qmnim
