// Pure rules of the supervisor loop, kept apart from the Win32 calls so they are tested with tables.
#include "supervisor/loop_rules.h"

#include "base/text.h"
#include "config/token.h"
#include "supervisor/readiness.h"

namespace mw {

std::vector<LogLine> StartBannerLines(const Config& config, const BannerFacts& facts) {
    std::vector<LogLine> lines;
    lines.push_back({L"INFO", L"================ mosswarden 启动 ================"});
    lines.push_back({L"INFO", L"系统: " + facts.osText});
    lines.push_back({L"INFO", FormatText(L"进程位数: %s，管理员: %s", facts.archWord.c_str(),
                                         facts.elevated ? L"是" : L"否")});
    lines.push_back({L"INFO", L"程序: " + facts.modulePath});
    lines.push_back({L"INFO", L"配置: " + config.ini_path});
    lines.push_back({L"INFO", FormatText(L"隧道模式: %s，cloudflared %s (%s)", config.tunnel.mode.c_str(),
                                         config.cloudflared.version.c_str(), config.cloudflared.arch.c_str())});
    if (!facts.atLeastWin7) lines.push_back({L"WARN", L"系统低于 Windows 7，本程序未在该环境验证过"});
    if (config.tunnel.mode == L"token") {
        if (config.tunnel.token.empty()) {
            lines.push_back({L"WARN", L"token 为空：cloudflared 会立即退出，填好 token 之前隧道不会启动。"});
            lines.push_back({L"WARN", L"到 Zero Trust 控制台 Networks -> Tunnels 创建隧道，把 token 填进 [tunnel] token="});
        } else {
            lines.push_back({L"INFO", L"隧道 token: " + MaskToken(config.tunnel.token)});
            TokenFacts token = InspectToken(config.tunnel.token);
            if (!token.wellFormed) lines.push_back({L"WARN", TokenFormatWarning(token)});
        }
    } else {
        lines.push_back({L"INFO", L"config.yml: " + config.tunnel.config_file});
        if (config.tunnel.tunnel_id.empty() && config.tunnel.credentials.empty()) {
            lines.push_back(
                {L"WARN", L"config 模式但 tunnel_id / credentials 都没填，cloudflared 会报缺少隧道信息"});
        }
    }
    if (!config.supervisor.metrics.empty() && ReadyUrl(config.supervisor.metrics).empty()) {
        lines.push_back({L"WARN", L"metrics=" + config.supervisor.metrics + L" 不是本机的 主机:端口，不做就绪检查"});
    }
    return lines;
}

bool RunCountsAsFailure(bool registered, uint64_t livedMs, bool restartedUnready) {
    if (restartedUnready) return true;
    return !registered && livedMs < kHealthyRunMs;
}

int32_t NextBackoff(int32_t delay, int32_t maxDelay) {
    int64_t doubled = static_cast<int64_t>(delay) * 2;
    return doubled > maxDelay ? maxDelay : static_cast<int32_t>(doubled);
}

uint32_t WaitMilliseconds(int64_t seconds) {
    const int64_t largestFinite = 0xFFFFFFFELL;
    if (seconds <= 0) return 0;
    if (seconds > largestFinite / 1000) return static_cast<uint32_t>(largestFinite);
    return static_cast<uint32_t>(seconds * 1000);
}

bool RegistrationWarningDue(uint64_t now, uint64_t startTick, int32_t heartbeatSec, uint64_t& lastWarnTick) {
    if (heartbeatSec <= 0) return false;
    uint64_t limit = static_cast<uint64_t>(heartbeatSec) * 1000;
    if (now - startTick <= limit) return false;
    if (lastWarnTick != 0 && now - lastWarnTick <= limit) return false;
    lastWarnTick = now;
    return true;
}

std::wstring ExitLine(uint32_t exitCode) {
    return FormatText(L"cloudflared 退出，退出码 %u（0x%08X）", static_cast<unsigned>(exitCode),
                      static_cast<unsigned>(exitCode));
}

}  // namespace mw
