// Stand-ins for the Windows formatter, ANSI code page and message table, so the pure code runs natively.
#include <cstdarg>
#include <cwchar>

#include "base/text.h"

namespace mw {

namespace {

// Rewrites Windows printf conventions for glibc: %s -> %ls, %Iu -> %zu.
std::wstring TranslateFormat(const wchar_t* format) {
    std::wstring out;
    for (const wchar_t* p = format; *p; ++p) {
        out += *p;
        if (*p != L'%') continue;
        ++p;
        if (*p == L'%') {
            out += L'%';
            continue;
        }
        while (*p && std::wcschr(L"-+ #0123456789.*", *p)) out += *p++;
        if (*p == 0) break;
        if (*p == L'I' && p[1] == L'u') {
            out += L"zu";
            ++p;
        } else if (*p == L's') {
            out += L"ls";
        } else {
            out += *p;
        }
    }
    return out;
}

}  // namespace

std::wstring FormatText(const wchar_t* format, ...) {
    std::wstring translated = TranslateFormat(format);
    wchar_t buffer[4096];
    va_list args;
    va_start(args, format);
    int n = std::vswprintf(buffer, 4096, translated.c_str(), args);
    va_end(args);
    if (n < 0 || n >= 4096) return L"<format-overflow>";
    std::wstring out(buffer, static_cast<size_t>(n));
    return out;
}

// The build machine has no ANSI code page; Latin-1 keeps every byte visible.
std::wstring AnsiToWide(const std::string& bytes) {
    std::wstring out;
    for (unsigned char b : bytes) out += static_cast<wchar_t>(b);
    return out;
}

std::wstring Win32ErrorText(uint32_t code) {
    return FormatText(L"%u: %s", static_cast<unsigned>(code), L"(no description)");
}

}  // namespace mw
