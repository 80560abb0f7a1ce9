// PE header bytes -> machine word: never reads outside the bytes given, only known words come out.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "provision/pe_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A heap copy of exactly `size` bytes lets AddressSanitizer catch any read past the end.
    std::vector<uint8_t> copy(data, data + size);
    std::wstring machine = L"untouched";
    mw::PeHeaderScan scan = mw::ScanPeHeader(copy.empty() ? nullptr : copy.data(), copy.size(), &machine);
    if (scan == mw::PeHeaderScan::Machine) {
        if (machine != L"amd64" && machine != L"386" && machine != L"arm64") std::abort();
    } else if (machine != L"untouched") {
        std::abort();
    }
    return 0;
}
