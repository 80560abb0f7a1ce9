// The self-test's checks, run in order and never stopping early.
#include "diag/self_test.h"

#include "base/console.h"
#include "base/file_access.h"
#include "base/paths.h"
#include "base/platform.h"
#include "base/text.h"
#include "config/default_ini.h"
#include "config/loader.h"
#include "config/settings.h"
#include "config/token.h"
#include "config/yaml.h"
#include "provision/catalogue.h"
#include "provision/pe_machine.h"
#include "provision/sha256.h"

namespace mw {

namespace {

struct ShaVector {
    const char* input;
    const wchar_t* digest;
};

const ShaVector kShaVectors[] = {
    {"", L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"The quick brown fox jumps over the lazy dog",
     L"d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592"},
};

void EnvironmentSection(uint32_t& failures) {
    WriteOut(L"== 环境 ==");
    const OsVersionInfo os = GetOsVersionInfo();
    ReportCheck(failures, os.atLeastWin7, L"操作系统 >= Windows 7", DescribeOs(os));
    ReportCheck(failures, true, L"本进程位数", BuildArchWord());
    // The asset follows the running Windows, not the "arch" setting.
    WriteOut(L"       需要的 cloudflared 资产: cloudflared-windows-" + DefaultArch(os) + L".exe");
    WriteOut(std::wstring(L"       管理员: ") + (IsElevated() ? L"是" : L"否"));
    WriteOut(L"       程序目录: " + ExeDir());
    WriteOut(L"");
}

void Sha256Section(uint32_t& failures) {
    WriteOut(L"== SHA256 实现 ==");
    size_t number = 0;
    for (const ShaVector& v : kShaVectors) {
        const std::string input = v.input;
        const std::wstring hex = Sha256Hex(input.data(), input.size());
        ReportCheck(failures, ToLowerAscii(hex) == v.digest, FormatText(L"向量 %Iu", ++number), hex);
    }

    const std::wstring probe = JoinPath(ExeDir(), L".sha_probe.tmp");
    std::wstring fileHex;
    bool ok = WriteWholeFile(probe, "abc") && Sha256FileHex(probe, &fileHex);
    DeleteFileIfExists(probe);
    if (!ok) fileHex.clear();
    ReportCheck(failures, ok && ToLowerAscii(fileHex) == kShaVectors[1].digest, L"文件摘要 == 内存摘要", fileHex);
    WriteOut(L"");
}

void PeSection(uint32_t& failures) {
    WriteOut(L"== PE 头识别 ==");
    const std::wstring machine = DetectPeMachine(ModulePath());
    ReportCheck(failures, machine == BuildMachineWord(), L"识别本程序机器类型", machine);
    WriteOut(L"");
}

void ConfigSection(uint32_t& failures, const std::wstring& iniPath) {
    WriteOut(L"== 配置 / YAML ==");
    std::wstring error;
    ReportCheck(failures, EnsureDefaultIni(iniPath, &error), L"ini 就绪", iniPath);

    // A record of its own: the self-test leaves the process-wide settings alone.
    Config config;
    error.clear();
    const bool loaded = LoadConfig(iniPath, config, &error);
    ReportCheck(failures, loaded, L"ini 解析",
                loaded ? L"mode=" + config.tunnel.mode + L", version=" + config.cloudflared.version : error);
    if (loaded) {
        const std::wstring yml = BuildConfigYml(config);
        const bool shaped = yml.find(L"ingress:") != std::wstring::npos &&
                            yml.find(L"http_status:404") != std::wstring::npos;
        // The size the file would have on disk (UTF-8), not the UTF-16 length.
        ReportCheck(failures, shaped, L"config.yml 生成", FormatText(L"%Iu 字节", WideToUtf8(yml).size()));
        const std::wstring exe = JoinPath(config.ini_dir, config.cloudflared.exe);
        WriteOut(L"       cloudflared: " + exe + (FileExists(exe) ? L"（已存在）" : L"（未下载）"));
        if (config.tunnel.mode == L"token" && !config.tunnel.token.empty()) {
            TokenFacts token = InspectToken(config.tunnel.token);
            // A warning, not a failed check: the connector is the judge of the token.
            if (!token.wellFormed) WriteOut(L"[WARN] " + TokenFormatWarning(token));
        }
        // Notices, not failures: a folder the user owns is writable by that user by design.
        for (const std::wstring& warning : InstallAccessWarnings(ModulePath(), exe, iniPath)) WriteOut(L"       " + warning);
    }
    WriteOut(L"");
}

}  // namespace

void ReportCheck(uint32_t& failures, bool passed, const std::wstring& label, const std::wstring& detail) {
    const std::wstring line = CheckLineText(passed, label, detail);
    if (passed) {
        WriteOut(line);
    } else {
        WriteErr(line);
        ++failures;
    }
}

int RunSelfTest(const std::wstring& iniPath) {
    uint32_t failures = 0;
    EnvironmentSection(failures);
    Sha256Section(failures);
    PeSection(failures);
    ConfigSection(failures, iniPath);
    if (failures == 0) {
        WriteOut(L"全部通过。");
        return 0;
    }
    WriteErr(FormatText(L"%d 项失败。", int(failures)));
    return 1;
}

}  // namespace mw
