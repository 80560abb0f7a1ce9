// SHA-256 (FIPS 180-4) of memory buffers and whole files, as lower-case hex text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mw {

// Internal: the block compression routine a Sha256 runs. Callers take kBest, the fastest one this
// CPU supports; tests name a routine to check the routines against each other.
enum class Sha256Engine { kBest, kScalar, kShaExtensions };
// True when this build and this CPU can run the engine (kBest and kScalar always can).
bool Sha256EngineAvailable(Sha256Engine engine);

class Sha256 {
public:
    // An engine this CPU lacks falls back to kScalar.
    explicit Sha256(Sha256Engine engine = Sha256Engine::kBest);

    void Update(const void* bytes, size_t count);
    // Pads and writes the digest; the state is spent afterwards.
    void Final(uint8_t out[32]);

private:
    using CompressFn = void (*)(uint32_t state[8], const uint8_t* blocks, size_t count);

    CompressFn compress_;
    uint32_t state_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    uint8_t block_[64] = {};
    size_t waiting_ = 0;
    uint64_t bitCount_ = 0;
};

// 64 lower-case hex characters of a 32-byte digest.
std::wstring DigestToHex(const uint8_t digest[32]);
std::wstring Sha256Hex(const void* data, size_t length);
// False when the file cannot be opened or a read fails; hexOut is written only on success.
bool Sha256FileHex(const std::wstring& path, std::wstring* hexOut);

}  // namespace mw
