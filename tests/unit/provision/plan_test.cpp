// Provisioning decisions: derived plan, reuse and acceptance rules, checksum folding, mirror lists.
#include "provision/plan.h"

#include <gtest/gtest.h>

namespace mw {
namespace {

OsVersionInfo Os(bool native64) {
    OsVersionInfo os;
    os.isNative64 = native64;
    return os;
}

TEST(PlanConnector, DerivesPathsUrlAndChecksum) {
    CloudflaredSettings s;
    ConnectorPlan plan = PlanConnector(s, L"C:\\mw", Os(true));
    EXPECT_EQ(plan.arch, L"amd64");
    EXPECT_EQ(plan.connectorPath, L"C:\\mw\\cloudflared.exe");
    EXPECT_EQ(plan.partPath, L"C:\\mw\\cloudflared.exe.part");
    EXPECT_EQ(plan.downloadUrl,
              L"https://github.com/cloudflare/cloudflared/releases/download/2023.10.0/cloudflared-windows-amd64.exe");
    EXPECT_EQ(plan.expectedSha, L"b3d21940a10fdef5e415ad70331ce257c24fe3bcf7722262302e0421791f87e8");

    plan = PlanConnector(s, L"C:\\mw", Os(false));
    EXPECT_EQ(plan.arch, L"386");
    EXPECT_EQ(plan.expectedSha, L"2fb6c04c4f95fb8d158af94c137f90ac820716deaf88d8ebec956254e046cb29");

    s.url = L"http://intranet/cf.exe";
    s.sha256 = L"ABCDEF";
    s.exe = L"D:\\tools\\cfd.exe";
    plan = PlanConnector(s, L"C:\\mw", Os(true));
    EXPECT_EQ(plan.downloadUrl, L"http://intranet/cf.exe");
    EXPECT_EQ(plan.expectedSha, L"ABCDEF");
    EXPECT_EQ(plan.connectorPath, L"D:\\tools\\cfd.exe");
    EXPECT_EQ(plan.partPath, L"D:\\tools\\cfd.exe.part");

    s = CloudflaredSettings();
    s.version = L"2024.1.1";
    plan = PlanConnector(s, L"C:\\mw", Os(true));
    EXPECT_EQ(plan.expectedSha, L"");
}

TEST(JudgeExisting, SizeMustExceedOneMebibyteAndMachineMustFit) {
    struct Case {
        bool exists;
        uint64_t size;
        const wchar_t* machine;
        const wchar_t* arch;
        ReuseVerdict verdict;
    } cases[] = {
        {false, 0, L"", L"amd64", ReuseVerdict::Download},
        {true, 1048576, L"amd64", L"amd64", ReuseVerdict::Download},
        {true, 1048577, L"amd64", L"amd64", ReuseVerdict::Reuse},
        {true, 30u << 20, L"unknown", L"386", ReuseVerdict::Reuse},
        {true, 30u << 20, L"amd64", L"386", ReuseVerdict::WrongMachine},
        {true, 30u << 20, L"arm64", L"amd64", ReuseVerdict::WrongMachine},
        {true, 5ull << 32, L"386", L"386", ReuseVerdict::Reuse},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JudgeExisting(c.exists, c.size, c.machine, c.arch), c.verdict) << c.size << L" " << c.machine;
    }
}

TEST(DownloadChecks, SizeAtLeastOneMebibyteAndUnknownMachinePasses) {
    EXPECT_FALSE(DownloadSizeAcceptable(0));
    EXPECT_FALSE(DownloadSizeAcceptable(1048575));
    EXPECT_TRUE(DownloadSizeAcceptable(1048576));
    EXPECT_TRUE(MachineAcceptable(L"386", L"386"));
    EXPECT_TRUE(MachineAcceptable(L"unknown", L"amd64"));
    EXPECT_FALSE(MachineAcceptable(L"386", L"amd64"));
    EXPECT_FALSE(MachineAcceptable(L"arm64", L"amd64"));
}

TEST(ShaMatches, FoldsCaseOnBothSidesAndComparesWholeStrings) {
    const wchar_t* lower = L"b3d21940a10fdef5e415ad70331ce257c24fe3bcf7722262302e0421791f87e8";
    EXPECT_TRUE(ShaMatches(L"B3D21940A10FDEF5E415AD70331CE257C24FE3BCF7722262302E0421791F87E8", lower));
    EXPECT_TRUE(ShaMatches(lower, L"B3D21940a10fdef5e415ad70331ce257c24fe3bcf7722262302e0421791f87e8"));
    EXPECT_FALSE(ShaMatches(L"b3d21940", lower));
    EXPECT_FALSE(ShaMatches(std::wstring(lower) + L" ", lower));
}

TEST(SplitMirrors, TrimsDropsEmptyPiecesAndKeepsOrder) {
    using List = std::vector<std::wstring>;
    EXPECT_EQ(SplitMirrors(L""), List());
    EXPECT_EQ(SplitMirrors(L" ; ;"), List());
    EXPECT_EQ(SplitMirrors(L"http://a/x"), List({L"http://a/x"}));
    EXPECT_EQ(SplitMirrors(L" http://b/x ;;\thttp://a/x;"), List({L"http://b/x", L"http://a/x"}));
    EXPECT_EQ(SplitMirrors(L"https://a/cf.exe ; https://b/cf.exe"), List({L"https://a/cf.exe", L"https://b/cf.exe"}));
}

}  // namespace
}  // namespace mw
