// Decodes a tunnel token far enough to tell a complete one from a truncated or mistyped one.
#include "config/token.h"

#include <cstdint>

namespace mw {

namespace {

int Base64Value(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return c - L'A';
    if (c >= L'a' && c <= L'z') return c - L'a' + 26;
    if (c >= L'0' && c <= L'9') return c - L'0' + 52;
    if (c == L'+' || c == L'-') return 62;
    if (c == L'/' || c == L'_') return 63;
    return -1;
}

// Standard or URL-safe alphabet, padding optional; false on any other character or a dangling unit.
bool DecodeBase64(const std::wstring& text, std::string* out) {
    size_t end = text.size();
    while (end > 0 && text[end - 1] == L'=') --end;
    if (text.size() - end > 2) return false;
    uint32_t buffer = 0;
    int bits = 0;
    for (size_t i = 0; i < end; ++i) {
        int value = Base64Value(text[i]);
        if (value < 0) return false;
        buffer = (buffer << 6) | static_cast<uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out->push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return bits < 6;
}

// The string value of "key" at the top level of a flat JSON object, when it is a non-empty string.
bool JsonString(const std::string& json, const char* key, std::string* value) {
    const std::string quoted = std::string("\"") + key + "\"";
    for (size_t at = json.find(quoted); at != std::string::npos; at = json.find(quoted, at + 1)) {
        size_t pos = at + quoted.size();
        while (pos < json.size() && (json[pos] == ' ' || json[pos] == '\t')) ++pos;
        if (pos >= json.size() || json[pos] != ':') continue;
        ++pos;
        while (pos < json.size() && (json[pos] == ' ' || json[pos] == '\t')) ++pos;
        if (pos >= json.size() || json[pos] != '"') return false;
        size_t close = json.find('"', pos + 1);
        if (close == std::string::npos || close == pos + 1) return false;
        *value = json.substr(pos + 1, close - pos - 1);
        return true;
    }
    return false;
}

}  // namespace

TokenFacts InspectToken(const std::wstring& token) {
    TokenFacts facts;
    if (token.empty()) return facts;
    std::string json;
    if (!DecodeBase64(token, &json)) {
        facts.problem = L"不是 base64 文本";
        return facts;
    }
    size_t first = json.find_first_not_of(" \t\r\n");
    size_t last = json.find_last_not_of(" \t\r\n");
    if (first == std::string::npos || json[first] != '{' || json[last] != '}') {
        facts.problem = L"解码后不是完整的 JSON 对象";
        return facts;
    }
    std::string account, tunnel, secret;
    if (!JsonString(json, "a", &account) || !JsonString(json, "t", &tunnel) || !JsonString(json, "s", &secret)) {
        facts.problem = L"缺少 a/t/s 字段";
        return facts;
    }
    facts.wellFormed = true;
    for (char c : tunnel) facts.tunnelId.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return facts;
}

std::wstring TokenFormatWarning(const TokenFacts& facts) {
    return L"token 格式不对：" + facts.problem + L"（复制不全？）";
}

}  // namespace mw
