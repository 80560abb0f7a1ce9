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

bool IsDirectory(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

CapturedRun RunVersion(const std::wstring& path) {
    CapturedRun run = CaptureRun(path, L"--version", kVersionTimeoutMs);
    run.output = TrimText(run.output);
    return run;
}

// The digest of a file, computed once per file state (path, size and last-write time): an unchanged
// connector is not hashed again on every cycle of the supervisor.
struct DigestMemo {
    std::wstring path;
    uint64_t size = 0;
    uint64_t writeTime = 0;
    std::wstring sha;
};

bool FileDigest(const std::wstring& path, uint64_t size, std::wstring* sha) {
    static DigestMemo memo;
    const uint64_t writeTime = FileLastWriteTime(path);
    if (!memo.sha.empty() && memo.path == path && memo.size == size && memo.writeTime == writeTime && writeTime != 0) {
        *sha = memo.sha;
        return true;
    }
    std::wstring computed;
    if (!Sha256FileHex(path, &computed)) return false;
    memo.path = path;
    memo.size = size;
    memo.writeTime = writeTime;
    memo.sha = computed;
    *sha = computed;
    return true;
}

bool Reject(const std::wstring& text, std::wstring* reason) {
    Error(text);
    *reason = text;
    return false;
}

// The checks a downloaded body must pass before it may replace anything: size, PE header, machine,
// checksum and a "--version" run of the file itself. False with the reason, which is logged.
bool VerifyBody(const ConnectorPlan& plan, const CloudflaredSettings& cf, const std::wstring& partPath,
                std::wstring* versionLine, std::wstring* reason) {
    uint64_t size = FileSizeOrZero(partPath);
    if (!DownloadSizeAcceptable(size)) {
        return Reject(FormatText(L"下载体积异常 (%llu 字节)，丢弃", static_cast<unsigned long long>(size)), reason);
    }
    std::wstring machine = L"unknown";
    if (ReadPeHeader(partPath, &machine) == PeHeaderScan::NotPe) return Reject(L"下载到的不是 Windows 程序，丢弃", reason);
    if (!MachineAcceptable(machine, plan.arch)) {
        return Reject(
            FormatText(L"下载到的不是 %s 架构（%s），丢弃。可显式改 arch=", plan.arch.c_str(), machine.c_str()), reason);
    }
    if (!plan.expectedSha.empty()) {
        std::wstring actualSha;
        if (!Sha256FileHex(partPath, &actualSha)) return Reject(L"计算 SHA256 失败", reason);
        if (!ShaMatches(plan.expectedSha, actualSha)) {
            Reject(L"SHA256 不匹配，拒绝安装", reason);
            Error(L"  期望: " + plan.expectedSha);
            Error(L"  实际: " + actualSha);
            return false;
        }
        Info(L"SHA256 校验通过: " + actualSha);
    } else if (cf.sha_required) {
        return Reject(L"没有内置校验值且未配置 sha256=，按 sha_required=1 拒绝安装", reason);
    } else {
        Warn(L"该版本没有内置 SHA256，跳过完整性校验（建议自己在 ini 里补 sha256=）");
    }
    CapturedRun run = RunVersion(partPath);
    std::wstring version;
    switch (JudgeVersionRun(run, cf.version, &version)) {
        case RunVerdict::Runs:
            *versionLine = run.output;
            return true;
        case RunVerdict::OtherVersion:
            return Reject(L"下载到的是 cloudflared " + version + L"，配置要求 " + cf.version + L"，丢弃", reason);
        case RunVerdict::BadProgram:
            return Reject(L"下载到的不是有效的程序（" + Win32ErrorText(run.startError) + L"），丢弃", reason);
        case RunVerdict::CannotRun:
            return Reject(CannotRunText(run) + L"，丢弃", reason);
    }
    return false;
}

// What the reuse proof of an existing connector found.
enum class Existing {
    Missing,   // nothing usable there: download without a message
    Proven,    // passed every check: use it
    Runs,      // runs, but another version than configured: use it only when no download lands
    Replace,   // failed a check (logged): download
};

Existing ProveExisting(const ConnectorPlan& plan, const CloudflaredSettings& cf) {
    if (IsDirectory(plan.connectorPath)) {
        Warn(L"cloudflared.exe 是目录: " + plan.connectorPath + L"，重新下载");
        return Existing::Replace;
    }
    uint64_t size = 0;
    if (!FileExists(plan.connectorPath, &size) || size <= kMinConnectorBytes) return Existing::Missing;
    std::wstring machine = L"unknown";
    if (ReadPeHeader(plan.connectorPath, &machine) == PeHeaderScan::NotPe) {
        Warn(L"现有 cloudflared 不是 Windows 程序（不是有效的程序），重新下载");
        return Existing::Replace;
    }
    if (!MachineAcceptable(machine, plan.arch)) {
        Warn(FormatText(L"现有 cloudflared 的机器类型是 %s，本机需要 %s，重新下载", machine.c_str(), plan.arch.c_str()));
        return Existing::Replace;
    }
    if (!plan.expectedSha.empty()) {
        std::wstring actualSha;
        if (!FileDigest(plan.connectorPath, size, &actualSha)) {
            Warn(L"计算现有 cloudflared 的 SHA256 失败，重新下载");
            return Existing::Replace;
        }
        if (!ShaMatches(plan.expectedSha, actualSha)) {
            Warn(L"现有 cloudflared 的 SHA256 不符（期望 " + plan.expectedSha + L"，实际 " + actualSha + L"），重新下载");
            return Existing::Replace;
        }
    }
    CapturedRun run = RunVersion(plan.connectorPath);
    std::wstring version;
    switch (JudgeVersionRun(run, cf.version, &version)) {
        case RunVerdict::Runs:
            Info(FormatText(L"cloudflared 已就绪: %s (%llu 字节, %s)", plan.connectorPath.c_str(),
                            static_cast<unsigned long long>(size), machine.c_str()));
            Info(L"cloudflared 版本: " + run.output);
            return Existing::Proven;
        case RunVerdict::OtherVersion:
            Warn(L"现有 cloudflared " + version + L"，配置要求 " + cf.version + L"；2023.10.0 之后的版本不支持 Windows 7");
            return Existing::Runs;
        case RunVerdict::BadProgram:
            Warn(L"现有 cloudflared 不是有效的程序（" + Win32ErrorText(run.startError) + L"），重新下载");
            return Existing::Replace;
        case RunVerdict::CannotRun:
            Warn(CannotRunText(run) + L"，重新下载");
            return Existing::Replace;
    }
    return Existing::Replace;
}

}  // namespace

bool EnsureConnector(bool forceDownload, std::wstring* connectorPathOut, void* cancel) {
    const Config& config = CurrentConfig();
    const CloudflaredSettings& cf = config.cloudflared;
    ConnectorPlan plan = PlanConnector(cf, config.ini_dir, GetOsVersionInfo());
    if (connectorPathOut) *connectorPathOut = plan.connectorPath;

    // A connector of another version that runs is the fallback when no download of the configured
    // version can be had.
    bool fallbackRuns = false;
    if (!forceDownload && cf.reuse) {
        switch (ProveExisting(plan, cf)) {
            case Existing::Proven: return true;
            case Existing::Runs: fallbackRuns = true; break;
            case Existing::Missing:
            case Existing::Replace: break;
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
    // Every check, the "--version" run of the file itself included, runs before the old connector
    // is touched.
    std::wstring versionLine;
    options.verify = [&plan, &cf, &versionLine](const std::wstring& partPath, std::wstring* reason) {
        return VerifyBody(plan, cf, partPath, &versionLine, reason);
    };

    std::wstring errorText;
    uint32_t status = 0;
    if (!DownloadWithFallback(options, &errorText, &status)) {
        if (DownloadCancelled(cancel)) {
            Warn(errorText);
            return false;
        }
        // The partial file stays so that the next run can continue it.
        Error(L"下载失败: " + errorText);
        if (fallbackRuns) {
            Warn(L"继续使用现有的 cloudflared: " + plan.connectorPath);
            return true;
        }
        Error(FormatText(L"排查顺序: 1) ini 里配 mirrors= 走镜像  2) proxy=auto 或 proxy=http://127.0.0.1:7890  "
                         L"3) --tlsfix 打开 TLS1.2  4) 手动下载 cloudflared %s (windows-%s) 放到 %s 后程序会直接复用",
                         cf.version.c_str(), plan.arch.c_str(), plan.connectorPath.c_str()));
        return false;
    }

    uint64_t size = FileSizeOrZero(plan.partPath);
    // An empty directory in the connector's place is removed; anything else there is not touched.
    if (IsDirectory(plan.connectorPath) && !RemoveDirectoryW(plan.connectorPath.c_str())) {
        DWORD err = GetLastError();
        Error(L"cloudflared.exe 是目录，无法替换: " + plan.connectorPath + L" (" + Win32ErrorText(err) + L")");
        DeleteFileIfExists(plan.partPath);
        return false;
    }
    if (!MoveFileExW(plan.partPath.c_str(), plan.connectorPath.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        DWORD err = GetLastError();
        Error(L"替换目标文件失败（可能被杀软占用）: " + Win32ErrorText(err));
        DeleteFileIfExists(plan.partPath);
        return false;
    }

    Info(FormatText(L"已落地: %s (%llu 字节)", plan.connectorPath.c_str(), static_cast<unsigned long long>(size)));
    Info(L"cloudflared 版本: " + versionLine);
    return true;
}

int RunProvisionCommand(const std::wstring& iniPath, bool forceDownload) {
    std::wstring error;
    if (!PrepareConfig(iniPath, &error)) {
        WriteErr(error);
        return 2;
    }
    const Config& config = CurrentConfig();
    Logger::Instance().Open(DailyLog(config, true));
    std::wstring connectorPath;
    if (!EnsureConnector(forceDownload, &connectorPath)) {
        WriteErr(L"失败，见日志");
        return 3;
    }
    WriteOut(L"cloudflared: " + connectorPath);
    if (config.tunnel.mode == L"config") {
        std::wstring written;
        std::wstring ymlError;
        if (!WriteConfigYml(config, &written, &ymlError)) {
            WriteErr(ymlError);
            return 3;
        }
        WriteOut(L"config.yml: " + written);
    }
    return 0;
}

}  // namespace mw
