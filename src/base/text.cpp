// Text helpers that need nothing from the operating system.
#include "base/text.h"

namespace mw {

namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == 0x3000;
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

}  // namespace mw
