// PE machine type of a file on disk: one short read, and a longer one when the header lies further in.
#include <vector>

#include "base/handles.h"
#include "provision/pe_machine.h"

namespace mw {

PeHeaderScan ReadPeHeader(const std::wstring& path, std::wstring* machine) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return PeHeaderScan::NotPe;
    std::vector<uint8_t> head(4096, 0);
    DWORD got = 0;
    if (!ReadFile(file.get(), head.data(), 512, &got, nullptr)) return PeHeaderScan::NotPe;
    PeHeaderScan scan = ScanPeHeader(head.data(), got, machine);
    if (scan != PeHeaderScan::Beyond) return scan;
    // The header lies further in: read up to 4096 bytes from the start again.
    LARGE_INTEGER start;
    start.QuadPart = 0;
    got = 0;
    if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) ||
        !ReadFile(file.get(), head.data(), 4096, &got, nullptr)) {
        return PeHeaderScan::NotPe;
    }
    scan = ScanPeHeader(head.data(), got, machine);
    return scan == PeHeaderScan::Beyond ? PeHeaderScan::NotPe : scan;
}

std::wstring DetectPeMachine(const std::wstring& path) {
    std::wstring machine = L"unknown";
    ReadPeHeader(path, &machine);
    return machine;
}

}  // namespace mw
