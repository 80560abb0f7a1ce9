// Reads the INI file from disk in one call and hands the bytes to the pure decoder and grammar.
#include "config/ini_reader.h"

#include "base/handles.h"
#include "base/win.h"

namespace mw {

std::wstring ReadTextFile(const std::wstring& path, bool& ok) {
    ok = false;
    // Write sharing lets an editor that keeps the file open not lock the program out.
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::wstring();
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) return std::wstring();
    if (size.QuadPart < 0 || static_cast<uint64_t>(size.QuadPart) > kIniMaxFileBytes) return std::wstring();
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty()) {
        if (!ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr)) {
            return std::wstring();
        }
        bytes.resize(got);
    }
    file.reset();
    ok = true;
    return DecodeIniBytes(bytes);
}

bool ParseIniFile(const std::wstring& path, std::vector<IniEntry>& entries) {
    entries.clear();
    bool ok = false;
    std::wstring text = ReadTextFile(path, ok);
    if (!ok) return false;
    ParseIniText(text, entries);
    return true;
}

}  // namespace mw
