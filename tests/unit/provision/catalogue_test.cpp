// Release catalogue: architecture choice, built-in checksums and the official URL.
#include "provision/catalogue.h"

#include <gtest/gtest.h>

namespace mw {
namespace {

TEST(ChooseArch, SettingOverridesOnlyWithAnExactWord) {
    OsVersionInfo x64;
    x64.isNative64 = true;
    OsVersionInfo wow64 = x64;
    wow64.isWow64 = true;
    OsVersionInfo x86;
    struct Case {
        const wchar_t* setting;
        const OsVersionInfo* os;
        const wchar_t* expected;
    } cases[] = {
        {L"auto", &x64, L"amd64"}, {L"auto", &x86, L"386"},   {L"auto", &wow64, L"amd64"},
        {L"", &x64, L"amd64"},     {L"", &x86, L"386"},       {L"386", &x64, L"386"},
        {L"amd64", &x86, L"amd64"}, {L"arm64", &x64, L"amd64"}, {L"arm64", &x86, L"386"},
        {L"x64", &x86, L"386"},    {L"AMD64", &x86, L"386"},
    };
    for (const Case& c : cases) EXPECT_EQ(ChooseArch(c.setting, *c.os), c.expected) << c.setting;
    EXPECT_EQ(DefaultArch(x64), L"amd64");
    EXPECT_EQ(DefaultArch(x86), L"386");
}

TEST(BuiltinSha256, ExactVersionAndArchOnly) {
    EXPECT_EQ(BuiltinSha256(L"2023.10.0", L"amd64"),
              L"b3d21940a10fdef5e415ad70331ce257c24fe3bcf7722262302e0421791f87e8");
    EXPECT_EQ(BuiltinSha256(L"2023.10.0", L"386"),
              L"2fb6c04c4f95fb8d158af94c137f90ac820716deaf88d8ebec956254e046cb29");
    EXPECT_EQ(BuiltinSha256(L"2023.10.1", L"amd64"), L"");
    EXPECT_EQ(BuiltinSha256(L"2023.10.0", L"arm64"), L"");
    EXPECT_EQ(BuiltinSha256(L"2023.10.0 ", L"amd64"), L"");
    EXPECT_EQ(BuiltinSha256(L"2023.10.0", L"AMD64"), L"");
}

TEST(OfficialUrl, ConcatenatesVersionAndArchUnchanged) {
    EXPECT_EQ(OfficialUrl(L"2023.10.0", L"amd64"),
              L"https://github.com/cloudflare/cloudflared/releases/download/2023.10.0/cloudflared-windows-amd64.exe");
    EXPECT_EQ(OfficialUrl(L"2024.1.1", L"386"),
              L"https://github.com/cloudflare/cloudflared/releases/download/2024.1.1/cloudflared-windows-386.exe");
    EXPECT_EQ(OfficialUrl(L"a b", L"x"),
              L"https://github.com/cloudflare/cloudflared/releases/download/a b/cloudflared-windows-x.exe");
}

}  // namespace
}  // namespace mw
