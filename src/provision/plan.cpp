// Provisioning decisions over plain values, shared by the Windows flow and its tests.
#include "provision/plan.h"

#include "base/paths.h"
#include "base/text.h"
#include "provision/catalogue.h"

namespace mw {

ConnectorPlan PlanConnector(const CloudflaredSettings& settings, const std::wstring& iniDir,
                            const OsVersionInfo& osInfo) {
    ConnectorPlan plan;
    plan.arch = ChooseArch(settings.arch, osInfo);
    plan.connectorPath = JoinPath(iniDir, settings.exe);
    plan.partPath = plan.connectorPath + L".part";
    plan.downloadUrl = settings.url.empty() ? OfficialUrl(settings.version, plan.arch) : settings.url;
    plan.expectedSha = settings.sha256.empty() ? BuiltinSha256(settings.version, plan.arch) : settings.sha256;
    return plan;
}

ReuseVerdict JudgeExisting(bool exists, uint64_t size, const std::wstring& machine, const std::wstring& arch) {
    if (!exists || size <= kMinConnectorBytes) return ReuseVerdict::Download;
    return MachineAcceptable(machine, arch) ? ReuseVerdict::Reuse : ReuseVerdict::WrongMachine;
}

bool DownloadSizeAcceptable(uint64_t size) { return size >= kMinConnectorBytes; }

bool MachineAcceptable(const std::wstring& machine, const std::wstring& arch) {
    return machine == arch || machine == L"unknown";
}

bool ShaMatches(const std::wstring& expected, const std::wstring& actual) {
    return ToLowerAscii(expected) == ToLowerAscii(actual);
}

std::wstring VersionInOutput(const std::wstring& output) {
    const std::wstring lower = ToLowerAscii(output);
    for (size_t at = lower.find(L"version "); at != std::wstring::npos; at = lower.find(L"version ", at + 1)) {
        size_t begin = at + 8;
        size_t end = begin;
        while (end < output.size() && ((output[end] >= L'0' && output[end] <= L'9') || output[end] == L'.')) ++end;
        std::wstring word = output.substr(begin, end - begin);
        // At least "N.N": a lone number is no version.
        if (word.find(L'.') != std::wstring::npos && word.front() != L'.' && word.back() != L'.') return word;
    }
    return std::wstring();
}

RunVerdict JudgeVersionRun(const CapturedRun& run, const std::wstring& configuredVersion, std::wstring* version) {
    if (!run.started) {
        // ERROR_BAD_EXE_FORMAT and ERROR_EXE_MACHINE_TYPE_MISMATCH.
        return run.startError == 193 || run.startError == 216 ? RunVerdict::BadProgram : RunVerdict::CannotRun;
    }
    std::wstring found = VersionInOutput(run.output);
    if (found.empty()) return RunVerdict::CannotRun;
    if (!run.timedOut && run.exitCode != 0) return RunVerdict::CannotRun;
    if (version) *version = found;
    return found == configuredVersion ? RunVerdict::Runs : RunVerdict::OtherVersion;
}

std::wstring CannotRunText(const CapturedRun& run) {
    if (!run.started) return L"cloudflared 无法在本机运行（" + Win32ErrorText(run.startError) + L"）";
    if (run.timedOut) return L"cloudflared 无法在本机运行（--version 没有结束，也没有输出版本）";
    std::wstring text = FormatText(L"cloudflared 无法在本机运行（退出码 0x%08X", static_cast<unsigned>(run.exitCode));
    if (run.exitCode == 0) text += L"，没有输出版本";
    return text + L"）";
}

std::vector<std::wstring> SplitMirrors(const std::wstring& text) {
    std::vector<std::wstring> mirrors;
    size_t start = 0;
    for (;;) {
        size_t cut = text.find(L';', start);
        std::wstring piece = TrimText(text.substr(start, cut == std::wstring::npos ? std::wstring::npos : cut - start));
        if (!piece.empty()) mirrors.push_back(piece);
        if (cut == std::wstring::npos) break;
        start = cut + 1;
    }
    return mirrors;
}

}  // namespace mw
