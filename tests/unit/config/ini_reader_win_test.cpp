// Reading INI files from disk: the size ceiling, locked and missing files, the ANSI code page.
#include "config/ini_reader.h"

#include "base/handles.h"
#include "base/win_fixture.h"

namespace mw {
namespace {

using IniReaderWin = TempDirTest;

TEST_F(IniReaderWin, EightMebibytesAreReadOneByteMoreIsRefused) {
    const std::string head = "[s]\r\nk=v\r\n";
    const std::wstring path = Path(L"big.ini");
    ASSERT_TRUE(WriteWholeFile(path, head + std::string(kIniMaxFileBytes - head.size(), ' ')));
    std::vector<IniEntry> entries;
    ASSERT_TRUE(ParseIniFile(path, entries));
    EXPECT_EQ(IniGetString(entries, L"s", L"k", L""), L"v");

    ASSERT_TRUE(WriteWholeFile(path, head + std::string(kIniMaxFileBytes - head.size() + 1, ' ')));
    EXPECT_FALSE(ParseIniFile(path, entries));
    EXPECT_TRUE(entries.empty());
    bool ok = true;
    EXPECT_EQ(ReadTextFile(path, ok), L"");
    EXPECT_FALSE(ok);
}

TEST_F(IniReaderWin, EmptyMissingAndLockedFiles) {
    std::vector<IniEntry> entries{IniEntry{L"s", L"k", L"v"}};
    ASSERT_TRUE(WriteWholeFile(Path(L"empty.ini"), ""));
    EXPECT_TRUE(ParseIniFile(Path(L"empty.ini"), entries));
    EXPECT_TRUE(entries.empty());

    entries.push_back(IniEntry{L"s", L"k", L"v"});
    EXPECT_FALSE(ParseIniFile(Path(L"missing.ini"), entries));
    EXPECT_TRUE(entries.empty());
    EXPECT_FALSE(ParseIniFile(dir_, entries));

    ASSERT_TRUE(WriteWholeFile(Path(L"locked.ini"), "[s]\r\nk=v\r\n"));
    UniqueHandle holder(CreateFileW(Path(L"locked.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.valid());
    EXPECT_FALSE(ParseIniFile(Path(L"locked.ini"), entries));
    holder.reset();
    EXPECT_TRUE(ParseIniFile(Path(L"locked.ini"), entries));
    EXPECT_EQ(entries.size(), 1u);
}

TEST_F(IniReaderWin, GbkFileOnAChineseSystem) {
    if (GetACP() != 936) GTEST_SKIP() << "ANSI code page is " << GetACP() << ", not 936";
    // "; 注释，全角" and "tunnel_id=中文" in GBK, which is not valid UTF-8.
    ASSERT_TRUE(WriteWholeFile(Path(L"gbk.ini"),
                               "; \xD7\xA2\xCA\xCD\xA3\xAC\xC8\xAB\xBD\xC7\r\n[tunnel]\r\ntunnel_id=\xD6\xD0\xCE\xC4\r\n"));
    std::vector<IniEntry> entries;
    ASSERT_TRUE(ParseIniFile(Path(L"gbk.ini"), entries));
    EXPECT_EQ(IniGetString(entries, L"tunnel", L"tunnel_id", L""), L"中文");
}

}  // namespace
}  // namespace mw
