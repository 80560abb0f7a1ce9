// PE header parsing from bytes: machine words, broken headers and the read-length limits.
#include "provision/pe_machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mw {
namespace {

// A DOS header with e_lfanew, "PE\0\0" and the Machine field there when it fits in size bytes.
std::vector<uint8_t> MakeImage(size_t size, uint32_t lfanew, uint16_t machine) {
    std::vector<uint8_t> bytes(size, 0);
    if (size >= 2) {
        bytes[0] = 'M';
        bytes[1] = 'Z';
    }
    for (int i = 0; i < 4 && 0x3C + i < int(size); ++i) bytes[0x3C + i] = uint8_t(lfanew >> (8 * i));
    const uint8_t header[6] = {'P', 'E', 0, 0, uint8_t(machine), uint8_t(machine >> 8)};
    for (size_t i = 0; i < 6 && lfanew + i < size; ++i) bytes[lfanew + i] = header[i];
    return bytes;
}

TEST(ScanPeHeader, Table) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        PeHeaderScan scan;
        const wchar_t* machine;
    };
    std::vector<uint8_t> badMz = MakeImage(512, 0x80, 0x8664);
    badMz[0] = 'Z';
    badMz[1] = 'M';
    std::vector<uint8_t> badSignature = MakeImage(512, 0x80, 0x8664);
    badSignature[0x82] = 1;
    std::vector<uint8_t> neSignature = MakeImage(512, 0x80, 0x8664);
    neSignature[0x80] = 'N';
    std::string html = "<!DOCTYPE html><html><body>rate limited</body></html>" + std::string(100, ' ');
    Case cases[] = {
        {"amd64", MakeImage(512, 0x80, 0x8664), PeHeaderScan::Machine, L"amd64"},
        {"i386", MakeImage(512, 0x80, 0x014C), PeHeaderScan::Machine, L"386"},
        {"arm64", MakeImage(512, 0xF8, 0xAA64), PeHeaderScan::Machine, L"arm64"},
        {"itanium", MakeImage(512, 0x80, 0x0200), PeHeaderScan::OtherMachine, L"unknown"},
        {"shorter than 64", MakeImage(63, 0x20, 0x8664), PeHeaderScan::NotPe, L"unknown"},
        {"empty", {}, PeHeaderScan::NotPe, L"unknown"},
        {"no MZ", badMz, PeHeaderScan::NotPe, L"unknown"},
        {"PE\\0\\1", badSignature, PeHeaderScan::NotPe, L"unknown"},
        {"NE signature", neSignature, PeHeaderScan::NotPe, L"unknown"},
        {"html page", std::vector<uint8_t>(html.begin(), html.end()), PeHeaderScan::NotPe, L"unknown"},
        {"header past 512", MakeImage(512, 0x400, 0x8664), PeHeaderScan::Beyond, L"unknown"},
        {"header past 512, 4096 read", MakeImage(4096, 0x400, 0x8664), PeHeaderScan::Machine, L"amd64"},
        {"header at 0x1000", MakeImage(4096, 0x1000, 0x8664), PeHeaderScan::Beyond, L"unknown"},
        {"exactly lfanew + 6", MakeImage(0x80 + 6, 0x80, 0x8664), PeHeaderScan::Beyond, L"unknown"},
        {"lfanew + 7", MakeImage(0x80 + 7, 0x80, 0x8664), PeHeaderScan::Machine, L"amd64"},
        {"lfanew near 4 GiB", MakeImage(512, 0xFFFFFFFC, 0x8664), PeHeaderScan::Beyond, L"unknown"},
        {"lfanew inside DOS header", MakeImage(512, 0x10, 0x014C), PeHeaderScan::Machine, L"386"},
    };
    for (const Case& c : cases) {
        std::wstring machine = L"unknown";
        EXPECT_EQ(ScanPeHeader(c.bytes.data(), c.bytes.size(), &machine), c.scan) << c.name;
        EXPECT_EQ(machine, c.machine) << c.name;
    }
}

}  // namespace
}  // namespace mw
