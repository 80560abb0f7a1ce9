// Describing Windows versions.
#include "base/platform.h"

#include <gtest/gtest.h>

namespace mw {
namespace {

OsVersionInfo Version(uint32_t major, uint32_t minor, uint32_t build, bool native64, bool wow64) {
    OsVersionInfo info;
    info.major = major;
    info.minor = minor;
    info.build = build;
    info.isNative64 = native64;
    info.isWow64 = wow64;
    return info;
}

TEST(DescribeOs, Table) {
    struct Case {
        OsVersionInfo info;
        const wchar_t* expected;
    } cases[] = {
        {Version(6, 1, 7601, true, false), L"Windows 7 build 7601 (x64, 32/64: native)"},
        {Version(6, 1, 7601, true, true), L"Windows 7 build 7601 (x64, 32/64: native, WOW64)"},
        {Version(6, 1, 7601, false, false), L"Windows 7 build 7601 (x86, 32/64: native)"},
        {Version(6, 0, 6002, false, false), L"Windows Vista build 6002 (x86, 32/64: native)"},
        {Version(6, 2, 9200, true, false), L"Windows 8 build 9200 (x64, 32/64: native)"},
        {Version(6, 3, 9600, true, false), L"Windows 8.1 build 9600 (x64, 32/64: native)"},
        {Version(6, 4, 1, true, false), L"Windows 6.4 build 1 (x64, 32/64: native)"},
        {Version(10, 0, 19045, true, false), L"Windows 10 build 19045 (x64, 32/64: native)"},
        {Version(10, 0, 22000, true, false), L"Windows 11 build 22000 (x64, 32/64: native)"},
        {Version(5, 1, 2600, false, false), L"Windows 5.1 build 2600 (x86, 32/64: native)"},
        {Version(0, 0, 0, false, false), L"Windows 0.0 build 0 (x86, 32/64: native)"},
    };
    for (const Case& c : cases) EXPECT_EQ(DescribeOs(c.info), c.expected);
}

}  // namespace
}  // namespace mw
