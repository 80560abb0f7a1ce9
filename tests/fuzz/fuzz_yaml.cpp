// config.yml from fuzzed INI settings: every value stays inside its quotes, only allowed lines appear.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/ini_reader.h"
#include "config/loader.h"
#include "config/settings.h"
#include "config/yaml.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

// The body of a single-quoted scalar that starts at `from`: returns the index after the closing quote.
size_t SkipQuoted(const std::wstring& line, size_t from) {
    Require(from < line.size() && line[from] == L'\'');
    size_t i = from + 1;
    for (;;) {
        Require(i < line.size());
        if (line[i] == L'\'') {
            if (i + 1 < line.size() && line[i + 1] == L'\'') {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
}

const wchar_t* const kQuotedKeys[] = {L"tunnel: ",      L"credentials-file: ", L"  - hostname: ",
                                      L"    path: ",    L"    service: ",      L"      httpHostHeader: ",
                                      L"      originServerName: ", L"      connectTimeout: ",
                                      L"  - service: "};
const wchar_t* const kFixedLines[] = {L"# 由 mosswarden 生成，每次启动会覆盖；要改请改 mosswarden.ini",
                                      L"no-autoupdate: true", L"loglevel: info", L"ingress:", L"    originRequest:", L"      noTLSVerify: true",
                                      L"      disableChunkedEncoding: true", L"  - service: http_status:404"};

void CheckLine(const std::wstring& line) {
    for (const wchar_t* fixed : kFixedLines) {
        if (line == fixed) return;
    }
    const std::wstring skipped = L"  # 跳过缺少 hostname 的条目 ";
    if (line.compare(0, skipped.size(), skipped) == 0 && line.size() > skipped.size()) {
        for (size_t i = skipped.size(); i < line.size(); ++i) Require(line[i] >= L'0' && line[i] <= L'9');
        return;
    }
    for (const wchar_t* key : kQuotedKeys) {
        std::wstring prefix = key;
        if (line.compare(0, prefix.size(), prefix) == 0 && line.size() > prefix.size() &&
            line[prefix.size()] == L'\'') {
            Require(SkipQuoted(line, prefix.size()) == line.size());
            return;
        }
    }
    std::abort();  // a line the generator's rules do not allow
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Settings as an administrator can write them: through the INI reader and loader.
    std::vector<mw::IniEntry> entries;
    mw::ParseIniText(mw::DecodeIniBytes(std::string(reinterpret_cast<const char*>(data), size)), entries);
    mw::Config config;
    mw::ApplyIniEntries(entries, L"C:\\app\\mosswarden.ini", config);
    std::wstring text = mw::BuildConfigYml(config);
    Require(text.size() >= 2 && text.compare(text.size() - 2, 2, L"\r\n") == 0);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(L"\r\n", pos);
        Require(end != std::wstring::npos);
        std::wstring line = text.substr(pos, end - pos);
        // A line break inside a value would end the line early; the remainder would fail CheckLine.
        CheckLine(line);
        pos = end + 2;
    }
    return 0;
}
