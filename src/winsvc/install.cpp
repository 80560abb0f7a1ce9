// The pure parts of installing: the autostart command line and the summary of the configuration.
#include "winsvc/install.h"

#include "base/text.h"

namespace mw {

const wchar_t kRunKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValueName[] = L"mosswarden";

std::wstring AutostartCommandLine(const std::wstring& exePath) { return L"\"" + exePath + L"\" --daemon"; }

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
