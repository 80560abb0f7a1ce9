// Text helpers that use the Windows formatter, the ANSI code page and the message table.
#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "base/text.h"
#include "base/win.h"

namespace mw {

std::wstring FormatText(const wchar_t* format, ...) {
    wchar_t buffer[4096];
    va_list args;
    va_start(args, format);
    // msvcrt's own formatter: %s is wide here and %Iu is understood, as on every Windows.
    int n = _vsnwprintf_s(buffer, 4096, _TRUNCATE, format, args);
    va_end(args);
    if (n < 0) return L"<format-overflow>";
    return std::wstring(buffer, static_cast<size_t>(n));
}

namespace {

std::wstring Decode(UINT codePage, const std::string& bytes) {
    if (bytes.empty()) return std::wstring();
    int size = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], size);
    return out;
}

}  // namespace

std::wstring AnsiToWide(const std::string& bytes) { return Decode(CP_ACP, bytes); }

std::wstring Win32ErrorText(uint32_t code) {
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
        code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring message;
    if (length > 0 && buffer != nullptr) message = TrimText(std::wstring(buffer, length));
    if (buffer != nullptr) LocalFree(buffer);
    if (message.empty()) message = L"(no description)";
    return FormatText(L"%u: %s", static_cast<unsigned>(code), message.c_str());
}

}  // namespace mw
