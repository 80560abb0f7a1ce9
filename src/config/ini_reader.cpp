// The INI reader's pure part: decoding by the leading bytes, the line grammar and the lookups.
#include "config/ini_reader.h"

#include "base/text.h"

namespace mw {

namespace {

std::wstring DecodeUtf16(const std::string& bytes, bool bigEndian) {
    std::wstring out;
    // After the two-byte mark; an odd trailing byte is dropped.
    size_t units = (bytes.size() - 2) / 2;
    out.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        unsigned lo = static_cast<unsigned char>(bytes[2 + 2 * i]);
        unsigned hi = static_cast<unsigned char>(bytes[3 + 2 * i]);
        unsigned unit = bigEndian ? (lo << 8) | hi : (hi << 8) | lo;
        out += static_cast<wchar_t>(unit);
    }
    return out;
}

bool Matches(const IniEntry& entry, const std::wstring& foldedSection, const std::wstring& foldedKey) {
    return entry.key.size() == foldedKey.size() && entry.section.size() == foldedSection.size() &&
           ToLowerAscii(entry.key) == foldedKey && ToLowerAscii(entry.section) == foldedSection;
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

}  // namespace

std::wstring DecodeIniBytes(const std::string& bytes) {
    const size_t n = bytes.size();
    auto at = [&bytes](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (n >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) return Utf8ToWide(bytes.substr(3));
    if (n >= 2 && at(0) == 0xFF && at(1) == 0xFE) return DecodeUtf16(bytes, false);
    if (n >= 2 && at(0) == 0xFE && at(1) == 0xFF) return DecodeUtf16(bytes, true);
    if (IsStrictUtf8(bytes)) return Utf8ToWide(bytes);
    return AnsiToWide(bytes);
}

void ParseIniText(const std::wstring& text, std::vector<IniEntry>& entries) {
    entries.clear();
    std::wstring section;
    size_t start = 0;
    while (true) {
        size_t lf = text.find(L'\n', start);
        std::wstring line = TrimText(text.substr(start, lf == std::wstring::npos ? std::wstring::npos : lf - start));
        if (!line.empty() && line[0] != L';' && line[0] != L'#') {
            if (line[0] == L'[') {
                size_t close = line.find(L']');
                if (close != std::wstring::npos) section = TrimText(line.substr(1, close - 1));
            } else {
                size_t eq = line.find(L'=');
                if (eq != std::wstring::npos) {
                    std::wstring key = TrimText(line.substr(0, eq));
                    std::wstring value = TrimText(line.substr(eq + 1));
                    // The mirror list is separated by ";", so only " #" starts its comment.
                    const bool list = ToLowerAscii(key) == L"mirrors";
                    size_t cut = value.find(list ? L" #" : L" ;");
                    if (cut == std::wstring::npos && !list) cut = value.rfind(L'\t');
                    if (cut != std::wstring::npos) value = TrimText(value.substr(0, cut));
                    if (!key.empty()) entries.push_back(IniEntry{section, key, value});
                }
            }
        }
        if (lf == std::wstring::npos) break;
        start = lf + 1;
    }
}

std::wstring IniGetString(const std::vector<IniEntry>& entries, const std::wstring& section,
                          const std::wstring& key, const std::wstring& defaultValue) {
    const std::wstring foldedSection = ToLowerAscii(section);
    const std::wstring foldedKey = ToLowerAscii(key);
    for (const IniEntry& entry : entries) {
        if (Matches(entry, foldedSection, foldedKey)) return entry.value;
    }
    return defaultValue;
}

int32_t IniGetInt(const std::vector<IniEntry>& entries, const std::wstring& section, const std::wstring& key,
                  int32_t defaultValue) {
    const std::wstring text = TrimText(IniGetString(entries, section, key, std::wstring()));
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    if (i >= text.size() || !IsDigit(text[i])) return defaultValue;
    // Accumulated as a magnitude that saturates, as wcstol does.
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t magnitude = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        magnitude = magnitude * 10 + (text[i] - L'0');
        if (magnitude > limit) magnitude = limit;
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

bool IniGetBool(const std::vector<IniEntry>& entries, const std::wstring& section, const std::wstring& key,
                bool defaultValue) {
    const std::wstring word = ToLowerAscii(TrimText(IniGetString(entries, section, key, std::wstring())));
    for (const wchar_t* yes : {L"1", L"true", L"yes", L"on", L"y"}) {
        if (word == yes) return true;
    }
    for (const wchar_t* no : {L"0", L"false", L"no", L"off", L"n"}) {
        if (word == no) return false;
    }
    return defaultValue;
}

}  // namespace mw
