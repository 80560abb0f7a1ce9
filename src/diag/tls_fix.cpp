// Which registry values enable TLS 1.2, how they are grouped, and the report lines.
#include "diag/tls_fix.h"

namespace mw {

namespace {

const wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const wchar_t kWinHttp[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\WinHttp";
const wchar_t kSchannelClient[] =
    L"SYSTEM\\CurrentControlSet\\Control\\SecurityProviders\\SCHANNEL\\Protocols\\TLS 1.2\\Client";

struct TlsGroup {
    std::vector<TlsRegValue> values;
    const wchar_t* writtenLine;
    const wchar_t* failedLine;
};

// Protocol bits shared by SecureProtocols and DefaultSecureProtocols: 0x80 TLS 1.0, 0x200 TLS 1.1,
// 0x800 TLS 1.2. 0x2A0 would leave TLS 1.2 off, so the user value is 0xA80.
std::vector<TlsGroup> Groups(bool windows64) {
    std::vector<TlsRegValue> winHttp;
    if (windows64) {
        winHttp = {{RegRoot::LocalMachine, kWinHttp, L"DefaultSecureProtocols", 0xA00, RegView::Bits64},
                   {RegRoot::LocalMachine, kWinHttp, L"DefaultSecureProtocols", 0xA00, RegView::Bits32}};
    } else {
        winHttp = {{RegRoot::LocalMachine, kWinHttp, L"DefaultSecureProtocols", 0xA00, RegView::Own}};
    }
    return {
        {{{RegRoot::CurrentUser, kInternetSettings, L"SecureProtocols", 0xA80, RegView::Own}},
         L"HKCU Internet Settings\\SecureProtocols = 0xA80 (TLS1.0/1.1/1.2)",
         L"HKCU Internet Settings\\SecureProtocols 写入失败"},
        {winHttp, L"HKLM ...\\WinHttp\\DefaultSecureProtocols = 0xA00 (TLS1.1/1.2)",
         L"HKLM ...\\WinHttp\\DefaultSecureProtocols 写入失败（需要管理员）"},
        {{{RegRoot::LocalMachine, kSchannelClient, L"Enabled", 1, RegView::Own},
          {RegRoot::LocalMachine, kSchannelClient, L"DisabledByDefault", 0, RegView::Own}},
         L"HKLM SCHANNEL\\Protocols\\TLS 1.2\\Client Enabled=1, DisabledByDefault=0",
         L"HKLM SCHANNEL TLS 1.2 Client 写入失败（需要管理员）"},
    };
}

}  // namespace

TlsFixResult ApplyTlsFixWith(const TlsValueWriter& write, bool windows64) {
    TlsFixResult result;
    for (const TlsGroup& group : Groups(windows64)) {
        bool ok = true;
        for (const TlsRegValue& value : group.values) {
            if (!write(value)) ok = false;
        }
        (ok ? result.writtenLines : result.failedLines).push_back(ok ? group.writtenLine : group.failedLine);
    }
    return result;
}

std::vector<std::wstring> TlsFixReportLines(const TlsFixResult& result) {
    std::vector<std::wstring> lines;
    lines.push_back(L"已写入:");
    for (const std::wstring& line : result.writtenLines) lines.push_back(L"  + " + line);
    if (!result.failedLines.empty()) {
        lines.push_back(L"未写入（需要管理员）:");
        for (const std::wstring& line : result.failedLines) lines.push_back(L"  - " + line);
    }
    lines.push_back(L"");
    lines.push_back(L"写完后建议重启一次系统，再用 --checknet 复验；Windows 7 的 WinHTTP 要装了更新 KB3140245 才认这些设置。");
    return lines;
}

}  // namespace mw
