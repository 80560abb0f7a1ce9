// The TLS fix's grouping of values into report lines, with a writer that fails on demand.
#include "diag/tls_fix.h"

#include <gtest/gtest.h>

#include <set>

namespace mw {
namespace {

const wchar_t kGroup1[] = L"HKCU Internet Settings\\SecureProtocols = 0xA80 (TLS1.0/1.1/1.2)";
const wchar_t kGroup2[] = L"HKLM ...\\WinHttp\\DefaultSecureProtocols = 0xA00 (TLS1.1/1.2)";
const wchar_t kGroup3[] = L"HKLM SCHANNEL\\Protocols\\TLS 1.2\\Client Enabled=1, DisabledByDefault=0";
const wchar_t kFailed2[] = L"HKLM ...\\WinHttp\\DefaultSecureProtocols 写入失败（需要管理员）";
const wchar_t kFailed3[] = L"HKLM SCHANNEL TLS 1.2 Client 写入失败（需要管理员）";
const wchar_t kLast[] = L"写完后建议重启一次系统，再用 --checknet 复验；Windows 7 的 WinHTTP 要装了更新 KB3140245 才认这些设置。";

// Fails the values whose names are listed and records every attempt.
struct FakeRegistry {
    std::set<std::wstring> failing;
    bool failLocalMachine = false;
    std::vector<std::wstring> attempts;
    std::vector<RegView> views;
    bool failView32 = false;
    bool operator()(const TlsRegValue& v) {
        attempts.push_back(v.name);
        views.push_back(v.view);
        if (failView32 && v.view == RegView::Bits32) return false;
        if (failLocalMachine && v.root == RegRoot::LocalMachine) return false;
        return failing.count(v.name) == 0;
    }
};

TEST(ApplyTlsFixWith, ElevatedWritesAllThreeGroups) {
    FakeRegistry reg;
    TlsFixResult r = ApplyTlsFixWith(std::ref(reg), false);
    EXPECT_EQ(r.writtenLines, (std::vector<std::wstring>{kGroup1, kGroup2, kGroup3}));
    EXPECT_TRUE(r.failedLines.empty());
    EXPECT_EQ(TlsFixReportLines(r),
              (std::vector<std::wstring>{L"已写入:", std::wstring(L"  + ") + kGroup1, std::wstring(L"  + ") + kGroup2,
                                         std::wstring(L"  + ") + kGroup3, L"",
                                         kLast}));
}

TEST(ApplyTlsFixWith, WithoutElevationOnlyTheUserValueIsWritten) {
    FakeRegistry reg;
    reg.failLocalMachine = true;
    TlsFixResult r = ApplyTlsFixWith(std::ref(reg), false);
    EXPECT_EQ(r.writtenLines, (std::vector<std::wstring>{kGroup1}));
    EXPECT_EQ(r.failedLines, (std::vector<std::wstring>{kFailed2, kFailed3}));
    EXPECT_EQ(TlsFixReportLines(r),
              (std::vector<std::wstring>{L"已写入:", std::wstring(L"  + ") + kGroup1, L"未写入（需要管理员）:",
                                         std::wstring(L"  - ") + kFailed2, std::wstring(L"  - ") + kFailed3, L"",
                                         kLast}));
}

TEST(ApplyTlsFixWith, SchannelPairFailsAsAWholeAndBothHalvesAreTried) {
    for (const wchar_t* failing : {L"Enabled", L"DisabledByDefault"}) {
        FakeRegistry reg;
        reg.failing = {failing};
        TlsFixResult r = ApplyTlsFixWith(std::ref(reg), false);
        EXPECT_EQ(r.writtenLines, (std::vector<std::wstring>{kGroup1, kGroup2})) << failing;
        EXPECT_EQ(r.failedLines, (std::vector<std::wstring>{kFailed3})) << failing;
        EXPECT_EQ(reg.attempts, (std::vector<std::wstring>{L"SecureProtocols", L"DefaultSecureProtocols", L"Enabled",
                                                           L"DisabledByDefault"}));
    }
}

// On 64-bit Windows the WinHttp value goes to both views; the group fails when either does.
TEST(ApplyTlsFixWith, WinHttpValueInBothViewsOn64BitWindows) {
    FakeRegistry reg;
    TlsFixResult r = ApplyTlsFixWith(std::ref(reg), true);
    EXPECT_EQ(r.writtenLines, (std::vector<std::wstring>{kGroup1, kGroup2, kGroup3}));
    EXPECT_EQ(reg.attempts, (std::vector<std::wstring>{L"SecureProtocols", L"DefaultSecureProtocols",
                                                       L"DefaultSecureProtocols", L"Enabled", L"DisabledByDefault"}));
    EXPECT_EQ(reg.views, (std::vector<RegView>{RegView::Own, RegView::Bits64, RegView::Bits32, RegView::Own,
                                               RegView::Own}));
    FakeRegistry only64;
    only64.failView32 = true;
    r = ApplyTlsFixWith(std::ref(only64), true);
    EXPECT_EQ(r.failedLines, (std::vector<std::wstring>{kFailed2}));
}

TEST(TlsFixReportLines, HeaderStaysWhenNothingWasWritten) {
    TlsFixResult r;
    r.failedLines = {L"HKCU Internet Settings\\SecureProtocols 写入失败"};
    std::vector<std::wstring> lines = TlsFixReportLines(r);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], L"已写入:");
    EXPECT_EQ(lines[1], L"未写入（需要管理员）:");
    EXPECT_EQ(lines[2], L"  - HKCU Internet Settings\\SecureProtocols 写入失败");
}

}  // namespace
}  // namespace mw
