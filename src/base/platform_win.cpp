// Windows version through ntdll's RtlGetVersion, bitness, and the token's elevation.
#include "base/console.h"
#include "base/handles.h"
#include "base/platform.h"
#include "base/text.h"
#include "base/version.h"
#include "base/win.h"

namespace mw {

namespace {

// kernel32's version functions lie to programs without a manifest entry; ntdll does not.
using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);

// Looked up once; the function-local static makes the first lookup safe from any thread.
RtlGetVersionFn RtlGetVersionEntry() {
    static const RtlGetVersionFn entry = []() -> RtlGetVersionFn {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (ntdll == nullptr) return nullptr;
        return reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    }();
    return entry;
}

}  // namespace

OsVersionInfo GetOsVersionInfo() {
    OsVersionInfo info;
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    RtlGetVersionFn rtlGetVersion = RtlGetVersionEntry();
    if (rtlGetVersion != nullptr && rtlGetVersion(&version) == 0) {
        info.major = version.dwMajorVersion;
        info.minor = version.dwMinorVersion;
        info.build = version.dwBuildNumber;
    }
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    info.isNative64 = system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
                      system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
    BOOL wow64 = FALSE;
    info.isWow64 = IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
    info.atLeastWin7 = info.major > 6 || (info.major == 6 && info.minor >= 1);
    info.atLeastWin8 = info.major > 6 || (info.major == 6 && info.minor >= 2);
    return info;
}

bool IsElevated() {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    BOOL ok = GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size);
    return ok && elevation.TokenIsElevated != 0;
}

int RunVersionCommand() {
    OsVersionInfo info = GetOsVersionInfo();
    WriteOut(FormatText(L"mosswarden " MW_VERSION_TEXT_W L" (Win7 SP1 目标构建, 本进程 %s)", BuildArchWord()));
    WriteOut(DescribeOs(info));
    return 0;
}

}  // namespace mw
