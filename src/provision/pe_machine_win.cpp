// PE machine type of a file on disk: one short read, and a longer one when the header lies further in.
#include <vector>

#include "base/handles.h"
#include "provision/pe_machine.h"

namespace mw {

std::wstring DetectPeMachine(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::wstring result = L"unknown";
    if (!file) return result;
    std::vector<uint8_t> head(512, 0);
    DWORD got = 0;
    if (!ReadFile(file.get(), head.data(), 512, &got, nullptr)) return result;
    PeHeaderScan scan = ScanPeHeader(head.data(), got, &result);
    if (scan != PeHeaderScan::Beyond) return result;
    LARGE_INTEGER start;
    start.QuadPart = 0;
    if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) return result;
    std::vector<uint8_t> wide(4096, 0);
    got = 0;
    if (!ReadFile(file.get(), wide.data(), 4096, &got, nullptr)) return result;
    ScanPeHeader(wide.data(), got, &result);
    return result;
}

}  // namespace mw
