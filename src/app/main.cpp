// mosswarden.exe: one command per run; the handler's result is the exit code.
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/dispatch.h"
#include "base/paths.h"
#include "base/win.h"

#include <delayimp.h>

namespace {

// WINHTTP is not a KnownDLL on Windows 7: a static import would be looked for in the program's folder
// first, where anyone who can write there could plant one. It is bound at its first use instead
// (delay-load), from the System32 folder by its full path.
FARPROC WINAPI LoadFromSystemFolder(unsigned notify, PDelayLoadInfo info) {
    if (notify != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr) return nullptr;
    std::string name = info->szDll;
    for (char& c : name) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (name != "winhttp.dll") return nullptr;
    wchar_t dir[MAX_PATH] = {};
    UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    std::wstring path = std::wstring(dir, n) + L"\\winhttp.dll";
    // Kept for the rest of the process, as the loader keeps a DLL it binds itself.
    return reinterpret_cast<FARPROC>(LoadLibraryExW(path.c_str(), nullptr, 0));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    __pfnDliNotifyHook2 = LoadFromSystemFolder;
    // No system dialogs for missing media or crashes: the program often runs unattended.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return mw::Dispatch(mw::ParseCommandLine(args, mw::DefaultIniPath()));
}
