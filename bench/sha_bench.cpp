// Times mosswarden's SHA-256 over a file (Sha256FileHex) and over memory, for bench/sha.sh.
#include <cstdio>
#include <string>
#include <vector>

#include "base/win.h"
#include "provision/sha256.h"

namespace {

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& freq) {
    return double(to.QuadPart - from.QuadPart) / double(freq.QuadPart);
}

}  // namespace

// Usage: sha_bench FILE [REPEATS]. Prints one line per measurement, best of REPEATS:
//   file bytes=N seconds=S mbps=R sha256=HEX
//   memory bytes=N seconds=S mbps=R
int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: sha_bench FILE [REPEATS]\n");
        return 2;
    }
    const std::wstring path = argv[1];
    const int repeats = argc > 2 ? _wtoi(argv[2]) : 3;
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);

    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) {
        std::fprintf(stderr, "cannot stat the file\n");
        return 1;
    }
    const unsigned long long size = (unsigned long long)info.nFileSizeHigh << 32 | info.nFileSizeLow;

    double best = 0;
    std::wstring hex;
    for (int i = 0; i < repeats; ++i) {
        QueryPerformanceCounter(&t0);
        if (!mw::Sha256FileHex(path, &hex)) {
            std::fprintf(stderr, "Sha256FileHex failed\n");
            return 1;
        }
        QueryPerformanceCounter(&t1);
        double s = Seconds(t0, t1, freq);
        if (i == 0 || s < best) best = s;
    }
    std::printf("file bytes=%llu seconds=%.4f mbps=%.1f sha256=%ls\n", size, best, double(size) / best / 1e6,
                hex.c_str());

    // The same work without file reads: the compression function alone, fed in 256 KiB pieces.
    const size_t piece = 262144, pieces = 256;
    std::vector<unsigned char> buffer(piece);
    for (size_t i = 0; i < piece; ++i) buffer[i] = (unsigned char)(i % 251);
    best = 0;
    for (int i = 0; i < repeats; ++i) {
        mw::Sha256 sha;
        uint8_t digest[32];
        QueryPerformanceCounter(&t0);
        for (size_t p = 0; p < pieces; ++p) sha.Update(buffer.data(), piece);
        sha.Final(digest);
        QueryPerformanceCounter(&t1);
        double s = Seconds(t0, t1, freq);
        if (i == 0 || s < best) best = s;
    }
    std::printf("memory bytes=%llu seconds=%.4f mbps=%.1f\n", (unsigned long long)(piece * pieces), best,
                double(piece * pieces) / best / 1e6);
    return 0;
}
