// SHA-256 compression, padding and hex rendering, written from FIPS 180-4.
#include "provision/sha256.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define MW_SHA256_X86 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define MW_SHA256_X86 0
#endif

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

void CompressScalar(uint32_t state[8], const uint8_t* blocks, size_t count) {
    for (; count > 0; --count, blocks += 64) {
        uint32_t w[64];
        for (int t = 0; t < 16; ++t) {
            w[t] = (uint32_t(blocks[t * 4]) << 24) | (uint32_t(blocks[t * 4 + 1]) << 16) |
                   (uint32_t(blocks[t * 4 + 2]) << 8) | uint32_t(blocks[t * 4 + 3]);
        }
        for (int t = 16; t < 64; ++t) {
            uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
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
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

#if MW_SHA256_X86

// The SHA extensions keep the state in two registers, {A,B,E,F} and {C,D,G,H} (A and C in the top
// lane); sha256rnds2 runs two rounds from the low two lanes of W+K and returns the new {A,B,E,F},
// while the old {A,B,E,F} becomes the new {C,D,G,H}.
#define MW_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
#if defined(__i386__)
// 32-bit Windows keeps the stack only 4-byte aligned (threads a service starts begin in system
// code), while GCC spills vectors here with aligned operands: realign on entry.
#define MW_SHA_ENTRY __attribute__((force_align_arg_pointer))
#else
#define MW_SHA_ENTRY
#endif

// Four rounds from four schedule words w; round constants from kRound[first].
MW_SHA_TARGET inline void FourRounds(__m128i& abef, __m128i& cdgh, __m128i w, int first) {
    __m128i wk = _mm_add_epi32(w, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRound[first])));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0e));
}

// The next four schedule words from the previous sixteen, oldest group first:
// W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16].
MW_SHA_TARGET inline __m128i NextWords(__m128i w0, __m128i w1, __m128i w2, __m128i w3) {
    __m128i x = _mm_sha256msg1_epu32(w0, w1);
    x = _mm_add_epi32(x, _mm_alignr_epi8(w3, w2, 4));
    return _mm_sha256msg2_epu32(x, w3);
}

MW_SHA_TARGET MW_SHA_ENTRY void CompressShaExtensions(uint32_t state[8], const uint8_t* blocks,
                                                      size_t count) {
    // Big-endian words to lanes.
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i abcd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i efgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    abcd = _mm_shuffle_epi32(abcd, 0xb1);                // lanes 0..3: B A D C
    efgh = _mm_shuffle_epi32(efgh, 0x1b);                // lanes 0..3: H G F E
    __m128i abef = _mm_alignr_epi8(abcd, efgh, 8);       // F E B A
    __m128i cdgh = _mm_blend_epi16(efgh, abcd, 0xf0);    // H G D C

    for (; count > 0; --count, blocks += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        const __m128i* in = reinterpret_cast<const __m128i*>(blocks);
        __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(in), byteSwap);
        __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byteSwap);
        __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byteSwap);
        __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byteSwap);
        FourRounds(abef, cdgh, w0, 0);
        FourRounds(abef, cdgh, w1, 4);
        FourRounds(abef, cdgh, w2, 8);
        FourRounds(abef, cdgh, w3, 12);
        for (int t = 16; t < 64; t += 16) {
            w0 = NextWords(w0, w1, w2, w3);
            FourRounds(abef, cdgh, w0, t);
            w1 = NextWords(w1, w2, w3, w0);
            FourRounds(abef, cdgh, w1, t + 4);
            w2 = NextWords(w2, w3, w0, w1);
            FourRounds(abef, cdgh, w2, t + 8);
            w3 = NextWords(w3, w0, w1, w2);
            FourRounds(abef, cdgh, w3, t + 12);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }

    __m128i feba = _mm_shuffle_epi32(abef, 0x1b);        // A B E F
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xb1);        // G H C D
    abcd = _mm_blend_epi16(feba, dchg, 0xf0);            // A B C D
    efgh = _mm_alignr_epi8(dchg, feba, 8);               // E F G H
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), abcd);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), efgh);
}

#undef MW_SHA_ENTRY
#undef MW_SHA_TARGET

// SHA for the rounds and the schedule, SSSE3 for the byte swap, SSE4.1 for the blend.
bool CpuHasShaExtensions() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool ssse3 = (ecx & (1u << 9)) != 0;
    const bool sse41 = (ecx & (1u << 19)) != 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    const bool sha = (ebx & (1u << 29)) != 0;
    return ssse3 && sse41 && sha;
}

#endif  // MW_SHA256_X86

// Asked of the CPU once per process.
bool ShaExtensionsUsable() {
#if MW_SHA256_X86
    static const bool usable = CpuHasShaExtensions();
    return usable;
#else
    return false;
#endif
}

}  // namespace

bool Sha256EngineAvailable(Sha256Engine engine) {
    return engine != Sha256Engine::kShaExtensions || ShaExtensionsUsable();
}

Sha256::Sha256(Sha256Engine engine) : compress_(CompressScalar) {
#if MW_SHA256_X86
    if (engine != Sha256Engine::kScalar && ShaExtensionsUsable()) compress_ = CompressShaExtensions;
#else
    (void)engine;
#endif
}

void Sha256::Update(const void* bytes, size_t count) {
    if (count == 0) return;
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    // Top up a partly filled block first.
    if (waiting_ > 0) {
        size_t take = 64 - waiting_;
        if (take > count) take = count;
        std::memcpy(block_ + waiting_, p, take);
        waiting_ += take;
        p += take;
        count -= take;
        if (waiting_ < 64) return;
        compress_(state_, block_, 1);
        bitCount_ += 512;
        waiting_ = 0;
    }
    // Whole blocks straight from the caller's buffer, in one call.
    const size_t whole = count / 64;
    if (whole > 0) {
        compress_(state_, p, whole);
        bitCount_ += 512 * uint64_t(whole);
        p += whole * 64;
        count -= whole * 64;
    }
    if (count > 0) {
        std::memcpy(block_, p, count);
        waiting_ = count;
    }
}

void Sha256::Final(uint8_t out[32]) {
    uint64_t totalBits = bitCount_ + 8 * uint64_t(waiting_);
    block_[waiting_++] = 0x80;
    if (waiting_ > 56) {
        while (waiting_ < 64) block_[waiting_++] = 0;
        compress_(state_, block_, 1);
        waiting_ = 0;
    }
    while (waiting_ < 56) block_[waiting_++] = 0;
    for (int i = 0; i < 8; ++i) block_[56 + i] = uint8_t(totalBits >> (56 - 8 * i));
    compress_(state_, block_, 1);
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
