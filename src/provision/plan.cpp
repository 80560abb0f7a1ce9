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
