// Facts about Windows and this process: true version, bitness, elevation.
#pragma once

#include <cstdint>
#include <string>

namespace mw {

struct OsVersionInfo {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    bool isWow64 = false;
    bool isNative64 = false;
    bool atLeastWin7 = false;
    bool atLeastWin8 = false;
};

OsVersionInfo GetOsVersionInfo();
// For example "Windows 7 build 7601 (x64, 32/64: native)".
std::wstring DescribeOs(const OsVersionInfo& info);
bool IsElevated();

// Architecture of this build: "x64"/"x86", and the release's machine word "amd64"/"386".
const wchar_t* BuildArchWord();
const wchar_t* BuildMachineWord();

// The two lines of the "version" command.
int RunVersionCommand();

}  // namespace mw
