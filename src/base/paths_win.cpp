// File-system helpers over the wide Win32 API; paths are passed on unchanged.
#include <vector>

#include "base/handles.h"
#include "base/paths.h"
#include "base/text.h"

namespace mw {

std::wstring ModulePath() {
    return ReadGrowingName([](wchar_t* buffer, uint32_t capacity) -> uint32_t {
        return GetModuleFileNameW(nullptr, buffer, capacity);
    });
}

std::wstring ExeDir() { return DirectoryOf(ModulePath()); }

std::wstring DefaultIniPath() { return JoinPath(ExeDir(), L"mosswarden.ini"); }

std::wstring FullPath(const std::wstring& path) {
    if (path.empty()) return path;
    std::wstring full = ReadGrowingName([&path](wchar_t* buffer, uint32_t capacity) -> uint32_t {
        DWORD needed = GetFullPathNameW(path.c_str(), capacity, buffer, nullptr);
        // A result that does not fit reports the size it needs: make ReadGrowingName grow.
        return needed >= capacity ? capacity : needed;
    });
    return full.empty() ? path : full;
}

namespace {

bool MakeDirectory(const std::wstring& path) {
    if (CreateDirectoryW(path.c_str(), nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    // A file of that name also "already exists"; only a directory will do.
    DWORD attrs = GetFileAttributesW(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool CreateDirectories(const std::wstring& path) {
    if (path.empty()) return false;
    DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) return true;
    if (MakeDirectory(path)) return true;
    size_t pos = path.find_last_of(L"\\/");
    // Never try to create "C:" or the "\\" of a UNC prefix.
    if (pos == std::wstring::npos || pos < 3) return false;
    if (!CreateDirectories(path.substr(0, pos))) return false;
    return MakeDirectory(path);
}

bool FileExists(const std::wstring& path, uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    if (size) *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

uint64_t FileSizeOrZero(const std::wstring& path) {
    uint64_t size = 0;
    return FileExists(path, &size) ? size : 0;
}

uint64_t FileLastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

bool DeleteFileIfExists(const std::wstring& path) {
    if (DeleteFileW(path.c_str())) return true;
    return GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool WriteAllBytes(void* file, const void* data, uint32_t count, uint32_t* written) {
    const char* next = static_cast<const char*>(data);
    uint32_t done = 0;
    bool ok = true;
    while (done < count) {
        DWORD now = 0;
        if (!WriteFile(static_cast<HANDLE>(file), next + done, count - done, &now, nullptr)) {
            ok = false;
            break;
        }
        if (now == 0) {
            SetLastError(ERROR_DISK_FULL);
            ok = false;
            break;
        }
        done += now;
    }
    if (written) *written = done;
    return ok;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    bytes.clear();
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    // Read until end-of-file rather than to the reported size: files under /proc report 0 under Wine.
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr)) return false;
        if (got == 0) return true;
        bytes.append(buffer, got);
    }
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    return WriteAllBytes(file.get(), bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr);
}

bool WriteTextFile(const std::wstring& path, const std::wstring& text, bool withBom) {
    std::string bytes = WideToUtf8(text);
    if (withBom) bytes.insert(0, "\xEF\xBB\xBF");
    return WriteWholeFile(path, bytes);
}

}  // namespace mw
