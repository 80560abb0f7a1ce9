// SHA-256 compression, padding and hex rendering, written from FIPS 180-4.
#include "provision/sha256.h"

namespace mw {

namespace {

const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline uint32_t Rotr(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

}  // namespace

namespace {

// One round with the working variables named in place: instead of shifting all eight every round,
// the caller rotates the names, which keeps them in registers.
inline void Round(uint32_t a, uint32_t b, uint32_t c, uint32_t& d, uint32_t e, uint32_t f, uint32_t g,
                  uint32_t& h, uint32_t k, uint32_t w) {
    uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + (g ^ (e & (f ^ g))) + k + w;
    uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) | (c & (a | b)));
    d += t1;
    h = t1 + t2;
}

}  // namespace

void Sha256::Compress(const uint8_t* block) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) {
        w[t] = (uint32_t(block[t * 4]) << 24) | (uint32_t(block[t * 4 + 1]) << 16) |
               (uint32_t(block[t * 4 + 2]) << 8) | uint32_t(block[t * 4 + 3]);
    }
    for (int t = 16; t < 64; ++t) {
        uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
    for (int t = 0; t < 64; t += 8) {
        Round(a, b, c, d, e, f, g, h, kRound[t], w[t]);
        Round(h, a, b, c, d, e, f, g, kRound[t + 1], w[t + 1]);
        Round(g, h, a, b, c, d, e, f, kRound[t + 2], w[t + 2]);
        Round(f, g, h, a, b, c, d, e, kRound[t + 3], w[t + 3]);
        Round(e, f, g, h, a, b, c, d, kRound[t + 4], w[t + 4]);
        Round(d, e, f, g, h, a, b, c, kRound[t + 5], w[t + 5]);
        Round(c, d, e, f, g, h, a, b, kRound[t + 6], w[t + 6]);
        Round(b, c, d, e, f, g, h, a, kRound[t + 7], w[t + 7]);
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
    state_[5] += f;
    state_[6] += g;
    state_[7] += h;
}

void Sha256::Update(const void* bytes, size_t count) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    while (count > 0) {
        // Whole blocks straight from the caller's buffer, without copying.
        if (waiting_ == 0 && count >= 64) {
            Compress(p);
            bitCount_ += 512;
            p += 64;
            count -= 64;
            continue;
        }
        size_t take = 64 - waiting_;
        if (take > count) take = count;
        for (size_t i = 0; i < take; ++i) block_[waiting_ + i] = p[i];
        waiting_ += take;
        p += take;
        count -= take;
        if (waiting_ == 64) {
            Compress(block_);
            bitCount_ += 512;
            waiting_ = 0;
        }
    }
}

void Sha256::Final(uint8_t out[32]) {
    uint64_t totalBits = bitCount_ + 8 * uint64_t(waiting_);
    block_[waiting_++] = 0x80;
    if (waiting_ > 56) {
        while (waiting_ < 64) block_[waiting_++] = 0;
        Compress(block_);
        waiting_ = 0;
    }
    while (waiting_ < 56) block_[waiting_++] = 0;
    for (int i = 0; i < 8; ++i) block_[56 + i] = uint8_t(totalBits >> (56 - 8 * i));
    Compress(block_);
    waiting_ = 0;
    for (int i = 0; i < 8; ++i) {
        out[i * 4] = uint8_t(state_[i] >> 24);
        out[i * 4 + 1] = uint8_t(state_[i] >> 16);
        out[i * 4 + 2] = uint8_t(state_[i] >> 8);
        out[i * 4 + 3] = uint8_t(state_[i]);
    }
}

std::wstring DigestToHex(const uint8_t digest[32]) {
    static const wchar_t kAlphabet[] = L"0123456789abcdef";
    std::wstring hex;
    hex.reserve(64);
    for (int i = 0; i < 32; ++i) {
        hex.push_back(kAlphabet[digest[i] >> 4]);
        hex.push_back(kAlphabet[digest[i] & 0x0f]);
    }
    return hex;
}

std::wstring Sha256Hex(const void* data, size_t length) {
    Sha256 sha;
    sha.Update(data, length);
    uint8_t digest[32];
    sha.Final(digest);
    return DigestToHex(digest);
}

}  // namespace mw
