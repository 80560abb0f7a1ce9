// Provisioning on disk: reuse check, download, size/machine/checksum checks and the final move.
#include "provision/provision.h"

#include "base/console.h"
#include "base/logger.h"
#include "base/paths.h"
#include "base/platform.h"
#include "base/process.h"
#include "base/text.h"
#include "base/win.h"
#include "config/loader.h"
#include "config/settings.h"
#include "config/yaml.h"
#include "net/download.h"
#include "provision/pe_machine.h"
#include "provision/plan.h"
#include "provision/sha256.h"

namespace mw {

namespace {

const uint32_t kVersionTimeoutMs = 20000;

void Info(const std::wstring& text) { Logger::Instance().Write(L"INFO", text); }
void Warn(const std::wstring& text) { Logger::Instance().Write(L"WARN", text); }
void Error(const std::wstring& text) { Logger::Instance().Write(L"ERROR", text); }

// Only a non-empty answer is relied on; its wording belongs to the connector.
bool LogVersion(const std::wstring& connectorPath) {
    std::wstring output;
    if (!RunAndCapture(connectorPath, L"--version", kVersionTimeoutMs, &output)) return false;
    Info(L"cloudflared 版本: " + TrimText(output));
    return true;
}

bool Discard(const std::wstring& partPath) {
    DeleteFileIfExists(partPath);
    return false;
}

}  // namespace

bool EnsureConnector(bool forceDownload, std::wstring* connectorPathOut, void* cancel) {
    const Config& config = CurrentConfig();
    const CloudflaredSettings& cf = config.cloudflared;
    ConnectorPlan plan = PlanConnector(cf, config.ini_dir, GetOsVersionInfo());
    if (connectorPathOut) *connectorPathOut = plan.connectorPath;

    if (!forceDownload && cf.reuse) {
        uint64_t size = 0;
        bool exists = FileExists(plan.connectorPath, &size);
        std::wstring machine = exists && size > kMinConnectorBytes ? DetectPeMachine(plan.connectorPath) : L"";
        switch (JudgeExisting(exists, size, machine, plan.arch)) {
            case ReuseVerdict::Reuse:
                Info(FormatText(L"cloudflared 已就绪: %s (%llu 字节, %s)", plan.connectorPath.c_str(),
                                static_cast<unsigned long long>(size), machine.c_str()));
                if (!LogVersion(plan.connectorPath)) {
                    Warn(L"cloudflared --version 没有输出，二进制可能损坏或位数不匹配");
                }
                return true;
            case ReuseVerdict::WrongMachine:
                Warn(FormatText(L"现有 cloudflared 的机器类型是 %s，本机需要 %s，重新下载", machine.c_str(),
                                plan.arch.c_str()));
                break;
            case ReuseVerdict::Download:
                break;
        }
    }

    if (!CreateDirectories(config.ini_dir)) {
        Error(L"无法创建目录: " + config.ini_dir);
        return false;
    }

    Info(FormatText(L"开始下载 cloudflared %s (%s)", cf.version.c_str(), plan.arch.c_str()));
    Info(L"地址: " + plan.downloadUrl);
    if (cf.chunks > 1) {
        Info(FormatText(L"并发分段: %d（GitHub 单连接常被限速，分段通常更快；可在 ini 里改 chunks）", int(cf.chunks)));
    }
    if (!cf.mirrors.empty()) Info(L"备选镜像: " + cf.mirrors);

    DownloadOptions options;
    options.primaryUrl = plan.downloadUrl;
    options.target = plan.connectorPath;
    options.proxy = cf.proxy;
    options.mirrors = SplitMirrors(cf.mirrors);
    options.timeoutSeconds = cf.timeout;
    options.chunks = cf.chunks;
    options.stallSeconds = cf.stall_timeout;
    options.progressInterval = cf.progress_interval;
    options.cancel = cancel;

    std::wstring errorText;
    uint32_t status = 0;
    if (!DownloadWithFallback(options, &errorText, &status)) {
        if (DownloadCancelled(cancel)) {
            Warn(errorText);
            return false;
        }
        // The partial file stays so that the next run can continue it.
        Error(L"下载失败: " + errorText);
        Error(L"排查顺序: 1) ini 里配 mirrors= 走镜像  2) proxy=auto 或 proxy=http://127.0.0.1:7890  "
              L"3) --tlsfix 打开 TLS1.2  4) 手动下载 cloudflared 放到 " +
              plan.connectorPath + L" 后程序会直接复用");
        return false;
    }

    uint64_t size = FileSizeOrZero(plan.partPath);
    if (!DownloadSizeAcceptable(size)) {
        Error(FormatText(L"下载体积异常 (%llu 字节)，丢弃", static_cast<unsigned long long>(size)));
        return Discard(plan.partPath);
    }

    std::wstring machine = DetectPeMachine(plan.partPath);
    if (!MachineAcceptable(machine, plan.arch)) {
        Error(FormatText(L"下载到的不是 %s 架构（%s），丢弃。可显式改 arch=", plan.arch.c_str(), machine.c_str()));
        return Discard(plan.partPath);
    }

    if (!plan.expectedSha.empty()) {
        std::wstring actualSha;
        if (!Sha256FileHex(plan.partPath, &actualSha)) {
            Error(L"计算 SHA256 失败");
            return Discard(plan.partPath);
        }
        if (!ShaMatches(plan.expectedSha, actualSha)) {
            Error(L"SHA256 不匹配，拒绝安装");
            Error(L"  期望: " + plan.expectedSha);
            Error(L"  实际: " + actualSha);
            return Discard(plan.partPath);
        }
        Info(L"SHA256 校验通过: " + actualSha);
    } else if (cf.sha_required) {
        Error(L"没有内置校验值且未配置 sha256=，按 sha_required=1 拒绝安装");
        return Discard(plan.partPath);
    } else {
        Warn(L"该版本没有内置 SHA256，跳过完整性校验（建议自己在 ini 里补 sha256=）");
    }

    if (!MoveFileExW(plan.partPath.c_str(), plan.connectorPath.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        DWORD err = GetLastError();
        Error(L"替换目标文件失败（可能被杀软占用）: " + Win32ErrorText(err));
        return Discard(plan.partPath);
    }

    Info(FormatText(L"已落地: %s (%llu 字节)", plan.connectorPath.c_str(), static_cast<unsigned long long>(size)));
    LogVersion(plan.connectorPath);
    return true;
}

int RunProvisionCommand(const std::wstring& iniPath, bool forceDownload) {
    std::wstring error;
    if (!PrepareConfig(iniPath, &error)) {
        WriteErr(error);
        return 2;
    }
    const Config& config = CurrentConfig();
    Logger::Instance().Open(config.supervisor.log_dir, L"mosswarden", config.supervisor.log_rotate_mb, true,
                            std::wstring());
    std::wstring connectorPath;
    if (!EnsureConnector(forceDownload, &connectorPath)) {
        WriteErr(L"失败，见日志");
        return 3;
    }
    WriteOut(L"cloudflared: " + connectorPath);
    if (config.tunnel.mode == L"config") {
        std::wstring written;
        if (WriteConfigYml(config, &written)) WriteOut(L"config.yml: " + written);
    }
    return 0;
}

}  // namespace mw
