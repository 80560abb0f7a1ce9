// Release catalogue: architecture choice, the official download URL and the built-in checksums.
#include "provision/catalogue.h"

namespace mw {

namespace {

const wchar_t kOfficialBase[] = L"https://github.com/cloudflare/cloudflared/releases/download/";

struct BuiltinChecksum {
    const wchar_t* version;
    const wchar_t* arch;
    const wchar_t* sha256;
};

const BuiltinChecksum kChecksums[] = {
    {L"2023.10.0", L"amd64", L"b3d21940a10fdef5e415ad70331ce257c24fe3bcf7722262302e0421791f87e8"},
    {L"2023.10.0", L"386", L"2fb6c04c4f95fb8d158af94c137f90ac820716deaf88d8ebec956254e046cb29"},
};

}  // namespace

std::wstring DefaultArch(const OsVersionInfo& osInfo) { return osInfo.isNative64 ? L"amd64" : L"386"; }

std::wstring ChooseArch(const std::wstring& setting, const OsVersionInfo& osInfo) {
    if (setting == L"amd64" || setting == L"386") return setting;
    return DefaultArch(osInfo);
}

std::wstring BuiltinSha256(const std::wstring& version, const std::wstring& arch) {
    for (const BuiltinChecksum& row : kChecksums) {
        if (version == row.version && arch == row.arch) return row.sha256;
    }
    return std::wstring();
}

std::wstring OfficialUrl(const std::wstring& version, const std::wstring& arch) {
    return kOfficialBase + version + L"/cloudflared-windows-" + arch + L".exe";
}

}  // namespace mw
