// Where the program keeps its files, and the small file-system helpers built on that.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace mw {

// Pure path rules.
std::wstring DirectoryOf(const std::wstring& path);
// A drive letter ("C:") or a leading double backslash; "/x" and "\x" are relative.
bool IsAbsolutePath(const std::wstring& path);
std::wstring JoinPath(const std::wstring& base, const std::wstring& path);

// Calls query(buffer, capacity) with zero-filled buffers of 260, 520, ... 16,640 characters until
// the result fits (GetModuleFileNameW semantics: a result of capacity - 1 or more may be cut).
// Empty on a result of 0 or when even 16,640 characters are not enough.
std::wstring ReadGrowingName(const std::function<uint32_t(wchar_t*, uint32_t)>& query);

// File system.
std::wstring ModulePath();
std::wstring ExeDir();
std::wstring DefaultIniPath();
// The absolute form of a path (relative ones against the current directory); the path itself on failure.
std::wstring FullPath(const std::wstring& path);
bool CreateDirectories(const std::wstring& path);
// True for an existing object that is not a directory.
bool FileExists(const std::wstring& path, uint64_t* size = nullptr);
// The size of a file; 0 when it is missing or a directory.
uint64_t FileSizeOrZero(const std::wstring& path);
uint64_t FileLastWriteTime(const std::wstring& path);
bool DeleteFileIfExists(const std::wstring& path);
// Writes all count bytes at the file's position, going on after a short write (a full disk may
// take part of a block and succeed). False with GetLastError() set when a write fails or takes
// nothing (then ERROR_DISK_FULL); *written gets the bytes written in either case.
bool WriteAllBytes(void* file, const void* data, uint32_t count, uint32_t* written);
// Reads the file to its end, sharing it with writers (a log being appended reads fine); false with
// GetLastError() set when it cannot be opened or read, and then bytes holds what was read so far.
bool ReadWholeFile(const std::wstring& path, std::string& bytes);
// Replaces the file in place (no temporary file); true only when every byte was written.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
bool WriteTextFile(const std::wstring& path, const std::wstring& text, bool withBom);

}  // namespace mw
