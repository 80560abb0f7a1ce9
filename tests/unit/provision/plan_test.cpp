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

TEST(JudgeVersionRun, OnlyAVersionLineWithExitZeroRuns) {
    struct Case {
        const char* name;
        CapturedRun run;
        RunVerdict verdict;
        const wchar_t* version;
        const wchar_t* text;
    };
    auto Ran = [](uint32_t code, const std::wstring& output, bool timedOut = false) {
        CapturedRun f;
        f.started = true;
        f.exitCode = code;
        f.output = output;
        f.timedOut = timedOut;
        return f;
    };
    auto Refused = [](uint32_t err) {
        CapturedRun f;
        f.startError = err;
        return f;
    };
    const std::wstring real = L"cloudflared version 2023.10.0 (built 2023-10-31-1141 UTC)";
    const std::wstring crash = L"Exception 0xc0000005 0x8 0x0 0x0 | PC=0x0 | runtime: unknown pc 0x0";
    const Case cases[] = {
        {"the release", Ran(0, real), RunVerdict::Runs, L"2023.10.0", nullptr},
        {"a later release", Ran(0, L"cloudflared version 2024.1.0 (built 2024-01-08-1611 UTC)"),
         RunVerdict::OtherVersion, L"2024.1.0", nullptr},
        {"a crash", Ran(0xC0000005u, crash), RunVerdict::CannotRun, L"", L"cloudflared 无法在本机运行（退出码 0xC0000005）"},
        {"a version line, then a crash", Ran(0xC0000005u, real), RunVerdict::CannotRun, L"",
         L"cloudflared 无法在本机运行（退出码 0xC0000005）"},
        {"exit 1", Ran(1, real), RunVerdict::CannotRun, L"", L"cloudflared 无法在本机运行（退出码 0x00000001）"},
        {"exit 0, nothing", Ran(0, L""), RunVerdict::CannotRun, L"",
         L"cloudflared 无法在本机运行（退出码 0x00000000，没有输出版本）"},
        {"exit 0, no version word", Ran(0, L"version unknown"), RunVerdict::CannotRun, L"", nullptr},
        {"hangs after the line", Ran(0, real, true), RunVerdict::Runs, L"2023.10.0", nullptr},
        {"hangs silently", Ran(0, L"", true), RunVerdict::CannotRun, L"",
         L"cloudflared 无法在本机运行（--version 没有结束，也没有输出版本）"},
        {"bad exe format", Refused(193), RunVerdict::BadProgram, L"", nullptr},
        {"machine mismatch", Refused(216), RunVerdict::BadProgram, L"", nullptr},
        {"access denied", Refused(5), RunVerdict::CannotRun, L"", nullptr},
    };
    for (const Case& c : cases) {
        std::wstring version;
        EXPECT_EQ(JudgeVersionRun(c.run, L"2023.10.0", &version), c.verdict) << c.name;
        EXPECT_EQ(version, c.version) << c.name;
        if (c.text) {
            EXPECT_EQ(CannotRunText(c.run), c.text) << c.name;
        }
    }
    EXPECT_EQ(CannotRunText(Refused(5)).rfind(L"cloudflared 无法在本机运行（5: ", 0), 0u);
}

TEST(VersionInOutput, FirstDottedNumberAfterTheWord) {
    EXPECT_EQ(VersionInOutput(L"cloudflared version 2023.10.0 (built x)"), L"2023.10.0");
    EXPECT_EQ(VersionInOutput(L"cloudflared Version 2023.8.2"), L"2023.8.2");
    EXPECT_EQ(VersionInOutput(L"version 7 | version 2023.10.0"), L"2023.10.0");
    EXPECT_EQ(VersionInOutput(L"version .1."), L"");
    EXPECT_EQ(VersionInOutput(L"version"), L"");
    EXPECT_EQ(VersionInOutput(L""), L"");
}

}  // namespace
}  // namespace mw
