// Stand-ins for the Windows formatter and conversions, so the pure code runs natively.
// Wide strings hold UTF-16 code units here too, even though wchar_t has 32 bits.
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

void AppendUtf16(std::wstring& out, uint32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (cp >> 10));
        out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
        out += static_cast<wchar_t>(cp);
    }
}

// Decodes UTF-8; returns false on the first invalid sequence when strict, else writes U+FFFD.
bool DecodeUtf8(const std::string& bytes, std::wstring* out, bool strict) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        uint32_t cp = 0;
        size_t extra = 0;
        uint32_t min = 0;
        if (b < 0x80) {
            cp = b;
        } else if (b >= 0xC2 && b <= 0xDF) {
            cp = b & 0x1F; extra = 1; min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            cp = b & 0x0F; extra = 2; min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            cp = b & 0x07; extra = 3; min = 0x10000;
        } else {
            if (strict) return false;
            if (out) *out += static_cast<wchar_t>(0xFFFD);
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= extra; ++j) {
            if (i + j >= n) break;
            unsigned char c = static_cast<unsigned char>(bytes[i + j]);
            if ((c & 0xC0) != 0x80) break;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (j <= extra || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            if (strict) return false;
            if (out) *out += static_cast<wchar_t>(0xFFFD);
            // A cut sequence is replaced as a whole; a complete but invalid one likewise.
            i += (j <= extra) ? j : extra + 1;
            continue;
        }
        if (out) AppendUtf16(*out, cp);
        i += extra + 1;
    }
    return true;
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

std::string WideToUtf8(const std::wstring& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        // Text here holds UTF-16 code units as on Windows; a wider unit is taken as a code point.
        uint32_t cp = static_cast<uint32_t>(text[i]);
        if (cp > 0x10FFFF) {
            cp = 0xFFFD;
        } else if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() &&
            (static_cast<uint32_t>(text[i + 1]) & 0xFC00) == 0xDC00) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + ((static_cast<uint32_t>(text[i + 1]) & 0xFFFF) - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::wstring Utf8ToWide(const std::string& bytes) {
    std::wstring out;
    DecodeUtf8(bytes, &out, false);
    return out;
}

// The build machine has no ANSI code page; Latin-1 keeps every byte visible.
std::wstring AnsiToWide(const std::string& bytes) {
    std::wstring out;
    for (unsigned char b : bytes) out += static_cast<wchar_t>(b);
    return out;
}

bool IsStrictUtf8(const std::string& bytes) {
    if (bytes.empty()) return false;
    return DecodeUtf8(bytes, nullptr, true);
}

std::wstring Win32ErrorText(uint32_t code) {
    return FormatText(L"%u: %s", static_cast<unsigned>(code), L"(no description)");
}

}  // namespace mw
