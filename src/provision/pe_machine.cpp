// PE header parsing from bytes: MZ, e_lfanew, the "PE\0\0" signature and the COFF Machine field.
#include "provision/pe_machine.h"

namespace mw {

namespace {

uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

}  // namespace

PeHeaderScan ScanPeHeader(const uint8_t* data, size_t count, std::wstring* machine) {
    if (data == nullptr || count < 64 || data[0] != 'M' || data[1] != 'Z') return PeHeaderScan::NotPe;
    // 64-bit arithmetic: e_lfanew near 0xFFFFFFFF must not wrap into range.
    uint64_t offset = ReadLe32(data + 0x3C);
    if (offset + 6 >= count) return PeHeaderScan::Beyond;
    const uint8_t* pe = data + offset;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return PeHeaderScan::NotPe;
    uint16_t value = uint16_t(pe[4] | (pe[5] << 8));
    const wchar_t* word = nullptr;
    switch (value) {
        case 0x8664: word = L"amd64"; break;
        case 0x014C: word = L"386"; break;
        case 0xAA64: word = L"arm64"; break;
        default: return PeHeaderScan::OtherMachine;
    }
    if (machine) *machine = word;
    return PeHeaderScan::Machine;
}

}  // namespace mw
