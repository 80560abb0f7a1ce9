// The pure parts of installing: the autostart command line and the summary of the configuration.
#include "winsvc/install.h"

#include "base/text.h"

namespace mw {

const wchar_t kRunKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValueName[] = L"mosswarden";

std::wstring AutostartCommandLine(const std::wstring& exePath, const std::wstring& iniPath) {
    std::wstring line = L"\"" + exePath + L"\" --daemon";
    if (!iniPath.empty()) line += L" --ini \"" + iniPath + L"\"";
    return line;
}

namespace {

std::wstring Folded(std::wstring path) {
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return ToLowerAscii(path);
}

// The section name of a "[name]" line, or nothing for any other line.
bool SectionOf(const std::wstring& trimmed, std::wstring* name) {
    if (trimmed.empty() || trimmed[0] != L'[') return false;
    size_t close = trimmed.find(L']');
    if (close == std::wstring::npos) return false;
    *name = TrimText(trimmed.substr(1, close - 1));
    return true;
}

}  // namespace

std::wstring IniArgument(const std::wstring& iniFullPath, const std::wstring& defaultIniPath) {
    return Folded(iniFullPath) == Folded(defaultIniPath) ? std::wstring() : iniFullPath;
}

std::wstring SetIniValue(const std::wstring& text, const std::wstring& section, const std::wstring& key,
                         const std::wstring& value) {
    const std::wstring wantedSection = ToLowerAscii(section);
    const std::wstring wantedKey = ToLowerAscii(key);
    const std::wstring newLine = key + L"=" + value;
    // Split keeping each line's own end, so the file's CR LF (or LF) survive.
    std::vector<std::wstring> lines;
    std::vector<std::wstring> ends;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find(L'\n', start);
        size_t stop = lf == std::wstring::npos ? text.size() : lf;
        size_t bodyEnd = stop > start && text[stop - 1] == L'\r' ? stop - 1 : stop;
        lines.push_back(text.substr(start, bodyEnd - start));
        ends.push_back(text.substr(bodyEnd, (lf == std::wstring::npos ? stop : lf + 1) - bodyEnd));
        start = lf == std::wstring::npos ? text.size() : lf + 1;
    }
    const std::wstring eol = text.find(L"\r\n") != std::wstring::npos || text.empty() ? L"\r\n" : L"\n";
    std::wstring current;
    size_t header = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        std::wstring trimmed = TrimText(lines[i]);
        std::wstring name;
        if (SectionOf(trimmed, &name)) {
            current = ToLowerAscii(name);
            if (current == wantedSection && header == lines.size()) header = i;
            continue;
        }
        if (current != wantedSection || trimmed.empty() || trimmed[0] == L';' || trimmed[0] == L'#') continue;
        size_t eq = trimmed.find(L'=');
        if (eq != std::wstring::npos && ToLowerAscii(TrimText(trimmed.substr(0, eq))) == wantedKey) {
            lines[i] = newLine;
            header = lines.size() + 1;  // replaced: nothing to add
            break;
        }
    }
    if (header < lines.size()) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(header) + 1, newLine);
        ends.insert(ends.begin() + static_cast<std::ptrdiff_t>(header) + 1, eol);
        if (ends[header].empty()) ends[header] = eol;
    } else if (header == lines.size()) {
        if (!ends.empty() && ends.back().empty()) ends.back() = eol;
        lines.push_back(L"[" + section + L"]");
        ends.push_back(eol);
        lines.push_back(newLine);
        ends.push_back(eol);
    }
    std::wstring out;
    for (size_t i = 0; i < lines.size(); ++i) out += lines[i] + ends[i];
    return out;
}

bool TokenFromFileText(const std::wstring& text, std::wstring* token) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t lf = text.find(L'\n', start);
        std::wstring line = TrimText(text.substr(start, lf == std::wstring::npos ? std::wstring::npos : lf - start));
        if (!line.empty() && line[0] == 0xFEFF) line = TrimText(line.substr(1));
        if (!line.empty()) {
            *token = line;
            return true;
        }
        if (lf == std::wstring::npos) break;
        start = lf + 1;
    }
    return false;
}

std::vector<std::wstring> InstallSummaryLines(const Config& config, const std::wstring& iniPath) {
    std::vector<std::wstring> lines;
    const TunnelSettings& tunnel = config.tunnel;
    if (tunnel.mode == L"config") {
        const std::wstring& name = tunnel.tunnel_id.empty() ? tunnel.credentials : tunnel.tunnel_id;
        lines.push_back(L"config 模式：隧道 " + name + FormatText(L"，路由 %Iu 条", config.routes.size()));
        if (config.routes.empty()) {
            lines.push_back(L"提醒: [routes] 是空的，config.yml 里只有 404 兜底，流量进来会全是 404。");
        }
    } else if (!tunnel.token.empty()) {
        lines.push_back(FormatText(L"token 已配置，长度 %u", static_cast<unsigned>(tunnel.token.size())));
    } else {
        lines.push_back(L"提醒: [tunnel] token 还是空的。");
        lines.push_back(L"      到 Zero Trust -> Networks -> Tunnels -> Create tunnel 拿 token，填进 " + iniPath);
        lines.push_back(L"      填完保存即可，守护进程会自动重启 cloudflared，不用重启服务。");
    }
    return lines;
}

std::vector<std::wstring> LeftInPlaceLines(const LeftInPlace& left) {
    std::vector<std::wstring> lines;
    auto add = [&lines](const std::wstring& path, const wchar_t* note) {
        if (!path.empty()) lines.push_back(L"  " + path + note);
    };
    add(left.ini, left.iniHasToken ? L"（配置文件，含隧道 token）" : L"（配置文件）");
    add(left.connector, L"");
    add(left.configYml, L"");
    add(left.logDir, L"（日志）");
    if (!lines.empty()) lines.insert(lines.begin(), L"以下文件未删除（不再需要请手动删除）：");
    return lines;
}

}  // namespace mw
