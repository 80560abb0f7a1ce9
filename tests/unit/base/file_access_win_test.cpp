// Reading descriptors back and the real setter under Wine, which does not keep file DACLs.
#include <gtest/gtest.h>

#include "base/file_access.h"
#include "base/paths.h"
#include "base/text.h"
#include "base/win_fixture.h"

namespace mw {

class FileAccessWinTest : public TempDirTest {};

TEST_F(FileAccessWinTest, ReadsTheDescriptorOfAFileAndTheSetterAcceptsTheInstallSddl) {
    ASSERT_TRUE(WriteWholeFile(Path(L"mosswarden.ini"), "[tunnel]\r\n"));
    std::wstring sddl;
    ASSERT_TRUE(ReadSecuritySddl(Path(L"mosswarden.ini"), &sddl));
    EXPECT_NE(sddl.find(L"D:"), std::wstring::npos) << WideToUtf8(sddl);
    EXPECT_EQ(CurrentUserSid().rfind(L"S-1-5-", 0), 0u) << WideToUtf8(CurrentUserSid());
    std::wstring error;
    EXPECT_TRUE(SetSecurityFromSddl(Path(L"mosswarden.ini"), kIniFileSddl, &error)) << WideToUtf8(error);
    EXPECT_FALSE(SetSecurityFromSddl(Path(L"mosswarden.ini"), L"D:(bogus)", &error));
    EXPECT_EQ(error.rfind(L"ConvertStringSecurityDescriptor 失败: ", 0), 0u) << WideToUtf8(error);
    EXPECT_FALSE(SetSecurityFromSddl(Path(L"missing.ini"), kIniFileSddl, &error));
    EXPECT_EQ(error.rfind(L"SetNamedSecurityInfo 失败: 2: ", 0), 0u) << WideToUtf8(error);
}

}  // namespace mw
