// Text helpers that need nothing from the operating system, the UTF-8 codec among them.
#include "base/text.h"

namespace mw {

namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == 0x3000;
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

// Decodes UTF-8 into UTF-16 units (on every platform, though wchar_t has 32 bits off Windows).
// Strict: false at the first invalid byte. Otherwise each maximal invalid subpart becomes one
// U+FFFD, as Unicode recommends: a lead byte with the continuation bytes that fit it, or one byte.
bool DecodeUtf8(const std::string& bytes, std::wstring* out, bool strict) {
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        uint32_t cp = 0;
        size_t extra = 0;
        // The range the first continuation byte must lie in; it excludes overlong forms,
        // surrogates and code points above U+10FFFF.
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (b < 0x80) {
            if (out) *out += static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF) {
            cp = b & 0x1F;
            extra = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            cp = b & 0x0F;
            extra = 2;
            if (b == 0xE0) low = 0xA0;
            if (b == 0xED) high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            cp = b & 0x07;
            extra = 3;
            if (b == 0xF0) low = 0x90;
            if (b == 0xF4) high = 0x8F;
        }
        size_t taken = 1;
        while (taken <= extra && i + taken < n) {
            const unsigned char c = static_cast<unsigned char>(bytes[i + taken]);
            if (c < (taken == 1 ? low : 0x80) || c > (taken == 1 ? high : 0xBF)) break;
            cp = (cp << 6) | (c & 0x3F);
            ++taken;
        }
        if (extra == 0 || taken <= extra) {
            if (strict) return false;
            if (out) *out += static_cast<wchar_t>(0xFFFD);
        } else if (out) {
            AppendUtf16(*out, cp);
        }
        i += taken;
    }
    return true;
}

}  // namespace

std::wstring ToLowerAscii(const std::wstring& text) {
    std::wstring out = text;
    for (wchar_t& c : out) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 0x20);
    }
    return out;
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    if (text.size() < prefix.size()) return false;
    return ToLowerAscii(text.substr(0, prefix.size())) == ToLowerAscii(prefix);
}

bool ContainsNoCase(const std::wstring& text, const std::wstring& needle) {
    if (needle.empty()) return true;
    if (text.size() < needle.size()) return false;
    return ToLowerAscii(text).find(ToLowerAscii(needle)) != std::wstring::npos;
}

std::wstring TrimText(const std::wstring& text) {
    size_t begin = 0;
    while (begin < text.size() && IsBlank(text[begin])) ++begin;
    if (begin == text.size()) return std::wstring();
    size_t end = text.size();
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string WideToUtf8(const std::wstring& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = static_cast<uint32_t>(text[i]);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() &&
            (static_cast<uint32_t>(text[i + 1]) & 0xFFFFFC00u) == 0xDC00) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
            // A lone surrogate (or, where wchar_t is wider, no code point at all).
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

bool IsStrictUtf8(const std::string& bytes) {
    return !bytes.empty() && DecodeUtf8(bytes, nullptr, true);
}

std::wstring MaskToken(const std::wstring& token) {
    if (token.empty()) return L"(none)";
    if (token.size() <= 12) return L"****";
    return token.substr(0, 6) + L"..." + token.substr(token.size() - 4) +
           FormatText(L" (len=%u)", static_cast<unsigned>(token.size()));
}

std::wstring MaskSecrets(const std::wstring& text, const std::vector<std::wstring>& secrets) {
    std::wstring out = text;
    for (const std::wstring& secret : secrets) {
        if (secret.empty()) continue;
        const std::wstring masked = MaskToken(secret);
        for (size_t at = out.find(secret); at != std::wstring::npos; at = out.find(secret, at + masked.size())) {
            out.replace(at, secret.size(), masked);
        }
    }
    return out;
}

bool Fail(std::wstring* error, const std::wstring& text) {
    if (error != nullptr) *error = text;
    return false;
}

}  // namespace mw
