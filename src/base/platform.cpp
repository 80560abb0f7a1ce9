// Describing a Windows version, and the architecture this build was made for.
#include "base/platform.h"

#include "base/text.h"

namespace mw {

std::wstring DescribeOs(const OsVersionInfo& info) {
    std::wstring name;
    if (info.major == 6 && info.minor == 1) {
        name = L"Windows 7";
    } else if (info.major == 6 && info.minor == 2) {
        name = L"Windows 8";
    } else if (info.major == 6 && info.minor == 3) {
        name = L"Windows 8.1";
    } else if (info.major == 6 && info.minor == 0) {
        name = L"Windows Vista";
    } else if (info.major == 10) {
        name = info.build < 22000 ? L"Windows 10" : L"Windows 11";
    } else {
        name = FormatText(L"Windows %u.%u", unsigned(info.major), unsigned(info.minor));
    }
    return FormatText(L"%s build %u (%s, 32/64: %s%s)", name.c_str(), unsigned(info.build),
                      info.isNative64 ? L"x64" : L"x86", L"native", info.isWow64 ? L", WOW64" : L"");
}

const wchar_t* BuildArchWord() {
#if defined(MW_ARCH_x86) || defined(__i386__)
    return L"x86";
#else
    return L"x64";
#endif
}

const wchar_t* BuildMachineWord() {
#if defined(MW_ARCH_x86) || defined(__i386__)
    return L"386";
#else
    return L"amd64";
#endif
}

}  // namespace mw
