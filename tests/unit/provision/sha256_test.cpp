// SHA-256 against FIPS 180-4 vectors and the padding edges, in one piece and streamed.
#include "provision/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace mw {
namespace {

struct Vector {
    std::string message;
    const wchar_t* hex;
};

std::vector<Vector> Vectors() {
    return {
        {"", L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"The quick brown fox jumps over the lazy dog",
         L"d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         L"248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         L"cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        // Around the 56-byte length field and the 64-byte block.
        {std::string(55, 'a'), L"9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), L"b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(63, 'a'), L"7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), L"ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(65, 'a'), L"635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
        {std::string(119, 'a'), L"31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
        {std::string(120, 'a'), L"2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
        {std::string(1000000, 'a'), L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
}

TEST(Sha256Hex, PublishedVectorsAndPaddingEdges) {
    for (const Vector& v : Vectors()) {
        EXPECT_EQ(Sha256Hex(v.message.data(), v.message.size()), v.hex) << "length " << v.message.size();
    }
}

// Pieces that straddle block boundaries in every way must give the one-piece digest.
TEST(Sha256, StreamedInUnevenPiecesMatchesOnePiece) {
    const size_t pieces[] = {1, 63, 64, 65, 7, 128, 55, 200};
    for (const Vector& v : Vectors()) {
        Sha256 sha;
        size_t pos = 0;
        for (size_t i = 0; pos < v.message.size(); ++i) {
            size_t take = std::min(pieces[i % 8], v.message.size() - pos);
            sha.Update(v.message.data() + pos, take);
            pos += take;
        }
        sha.Update(nullptr, 0);
        uint8_t digest[32];
        sha.Final(digest);
        EXPECT_EQ(DigestToHex(digest), v.hex) << "length " << v.message.size();
    }
}

// Digest of data fed to Update in pieces of the given sizes, cycled; no sizes means one piece.
std::wstring DigestWith(Sha256Engine engine, const uint8_t* data, size_t length,
                        const std::vector<size_t>& pieces) {
    Sha256 sha(engine);
    size_t pos = 0;
    for (size_t i = 0; pos < length; ++i) {
        size_t take = pieces.empty() ? length : std::min(pieces[i % pieces.size()], length - pos);
        sha.Update(data + pos, take);
        pos += take;
    }
    uint8_t digest[32];
    sha.Final(digest);
    return DigestToHex(digest);
}

// The default engine is the accelerated one on most machines, so the fallback needs its own check.
TEST(Sha256Engine, ScalarGivesThePublishedVectors) {
    for (const Vector& v : Vectors()) {
        const uint8_t* data = reinterpret_cast<const uint8_t*>(v.message.data());
        EXPECT_EQ(DigestWith(Sha256Engine::kScalar, data, v.message.size(), {}), v.hex)
            << "length " << v.message.size();
        EXPECT_EQ(DigestWith(Sha256Engine::kScalar, data, v.message.size(), {1, 63, 64, 65, 7, 128, 55, 200}),
                  v.hex)
            << "length " << v.message.size() << " in pieces";
    }
}

// Varied bytes (a run of one letter hides word-order mistakes), starting off a 16-byte boundary,
// around the padding edges and over long runs of whole blocks, in one piece and in uneven pieces.
TEST(Sha256Engine, ShaExtensionsAgreeWithScalar) {
    if (!Sha256EngineAvailable(Sha256Engine::kShaExtensions)) GTEST_SKIP() << "no SHA extensions on this CPU";
    const size_t lengths[] = {0, 1, 55, 56, 63, 64, 65, 127, 128, 129, 1000, 1048576};
    const std::vector<std::vector<size_t>> splits = {
        {},                            // one piece
        {1, 63, 64, 65, 7, 128, 55, 200},
        {3, 61, 4096, 17, 130},
        {64},
    };
    std::vector<uint8_t> buffer(1048576 + 3);
    uint32_t x = 0x9e3779b9;
    for (uint8_t& b : buffer) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x >> 24);
    }
    const uint8_t* data = buffer.data() + 3;
    for (size_t length : lengths) {
        const std::wstring expected = DigestWith(Sha256Engine::kScalar, data, length, {});
        for (size_t i = 0; i < splits.size(); ++i) {
            EXPECT_EQ(DigestWith(Sha256Engine::kShaExtensions, data, length, splits[i]), expected)
                << "length " << length << ", split " << i;
        }
    }
}

}  // namespace
}  // namespace mw
