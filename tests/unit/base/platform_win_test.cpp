// Platform facts as Wine reports them (Windows 7 SP1 on a 64-bit machine).
#include "base/platform.h"

#include <gtest/gtest.h>

namespace mw {
namespace {

TEST(GetOsVersionInfo, Windows7Sp1) {
    OsVersionInfo info = GetOsVersionInfo();
    EXPECT_EQ(info.major, 6u);
    EXPECT_EQ(info.minor, 1u);
    EXPECT_EQ(info.build, 7601u);
    EXPECT_TRUE(info.isNative64);
    EXPECT_TRUE(info.atLeastWin7);
    EXPECT_FALSE(info.atLeastWin8);
#ifdef MW_ARCH_x86
    EXPECT_TRUE(info.isWow64);
    EXPECT_STREQ(BuildArchWord(), L"x86");
    EXPECT_STREQ(BuildMachineWord(), L"386");
#else
    EXPECT_FALSE(info.isWow64);
    EXPECT_STREQ(BuildArchWord(), L"x64");
    EXPECT_STREQ(BuildMachineWord(), L"amd64");
#endif
    // A second call uses the cached lookup and agrees.
    EXPECT_EQ(GetOsVersionInfo().build, info.build);
}

}  // namespace
}  // namespace mw
