// The descriptors install hands to the setter, and reading a DACL for non-administrators' rights.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/file_access.h"

namespace mw {

using Strings = std::vector<std::wstring>;

TEST(LockDownTest, TheSetterReceivesTheFolderThenTheIniDescriptor) {
    const struct {
        const char* what;
        std::wstring iniPath;
        std::vector<std::pair<std::wstring, std::wstring>> calls;
    } cases[] = {
        {"INI beside the program", L"c:/MossWarden/mosswarden.ini",
         {{L"C:\\mosswarden", L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"},
          {L"c:/MossWarden/mosswarden.ini", L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)"}}},
        {"INI elsewhere: its folder holds the connector", L"D:\\conf\\site.ini",
         {{L"C:\\mosswarden", kProgramFolderSddl}, {L"D:\\conf", kProgramFolderSddl}, {L"D:\\conf\\site.ini", kIniFileSddl}}},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<std::wstring, std::wstring>> calls;
        auto record = [&calls](const std::wstring& path, const std::wstring& sddl, std::wstring*) {
            calls.emplace_back(path, sddl);
            return true;
        };
        std::vector<LockDownTarget> targets = LockDownTargets(L"C:\\mosswarden", c.iniPath);
        Strings failures;
        EXPECT_TRUE(LockDown(targets, record, &failures)) << c.what;
        EXPECT_EQ(calls, c.calls) << c.what;
        EXPECT_TRUE(failures.empty());
    }
    EXPECT_EQ(LockDownLine(LockDownTargets(L"C:\\m", L"C:\\m\\mosswarden.ini")),
              L"已收紧权限: C:\\m 仅 SYSTEM 和管理员可改（Users 只读）；C:\\m\\mosswarden.ini 仅 SYSTEM 和管理员可读写");
}

TEST(LockDownTest, AFailureIsReportedAndTheRestIsStillApplied) {
    Strings tried;
    auto refuseFolder = [&tried](const std::wstring& path, const std::wstring& sddl, std::wstring* error) {
        tried.push_back(path);
        if (sddl == kIniFileSddl) return true;
        *error = L"SetNamedSecurityInfo 失败: 5: 拒绝访问。";
        return false;
    };
    Strings failures;
    EXPECT_FALSE(LockDown(LockDownTargets(L"C:\\m", L"C:\\m\\mosswarden.ini"), refuseFolder, &failures));
    EXPECT_EQ(tried, (Strings{L"C:\\m", L"C:\\m\\mosswarden.ini"}));
    EXPECT_EQ(failures, (Strings{L"收紧权限失败: C:\\m: SetNamedSecurityInfo 失败: 5: 拒绝访问。"}));
}

TEST(NonAdminPrincipalsTest, FindsWhoMayWriteOrRead) {
    // What a folder made under C:\ inherits on Windows 7.
    const std::wstring win7Default =
        L"O:BAD:AI(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)(A;OICIID;0x1200a9;;;BU)"
        L"(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)";
    const std::wstring wine = L"O:S-1-5-21-0-0-0-1000D:(A;;FA;;;SY)(A;;FA;;;S-1-5-21-0-0-0-1000)(A;;0x1200a9;;;WD)";
    const struct {
        const char* what;
        std::wstring sddl;
        std::wstring admin;
        Strings writers;
        Strings readers;
    } cases[] = {
        {"Windows 7 default", win7Default, L"", {L"AU"}, {L"BU", L"AU"}},
        {"locked folder", kProgramFolderSddl, L"", {}, {L"BU"}},
        {"locked INI", kIniFileSddl, L"", {}, {}},
        {"Wine, as the elevated user", wine, L"S-1-5-21-0-0-0-1000", {}, {L"WD"}},
        {"Wine, as someone else", wine, L"", {L"S-1-5-21-0-0-0-1000"}, {L"S-1-5-21-0-0-0-1000", L"WD"}},
        {"null DACL", L"O:BAD:NO_ACCESS_CONTROL", L"", {L"WD"}, {L"WD"}},
        {"no DACL at all", L"O:BA", L"", {L"WD"}, {L"WD"}},
        {"empty DACL", L"O:BAD:P", L"", {}, {}},
        {"append only, deny ignored, SACL not read", L"D:(D;;FA;;;WD)(A;;0x4;;;BU)S:(AU;FA;FA;;;WD)", L"", {L"BU"}, {}},
        {"generic write and delete codes", L"D:(A;;GW;;;S-1-5-21-1)(A;;SD;;;IU)(A;;GR;;;S-1-5-21-1)", L"",
         {L"S-1-5-21-1", L"IU"}, {L"S-1-5-21-1"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NonAdminPrincipals(c.sddl, false, c.admin), c.writers) << c.what;
        EXPECT_EQ(NonAdminPrincipals(c.sddl, true, c.admin), c.readers) << c.what;
    }
}

TEST(AccessWarningsTest, OneLineForWritersAndOneForReaders) {
    const std::wstring sddl = L"D:(A;;FA;;;SY)(A;;0x1301bf;;;AU)(A;;0x1200a9;;;BU)";
    EXPECT_EQ(AccessWarnings(L"C:\\m\\mosswarden.ini", sddl, true),
              (Strings{L"警告: C:\\m\\mosswarden.ini 可被非管理员写入（AU）",
                       L"警告: C:\\m\\mosswarden.ini 可被非管理员读取（AU, BU）"}));
    EXPECT_EQ(AccessWarnings(L"C:\\m", sddl, false), (Strings{L"警告: C:\\m 可被非管理员写入（AU）"}));
    EXPECT_TRUE(AccessWarnings(L"C:\\m", kIniFileSddl, true).empty());
}

}  // namespace mw
