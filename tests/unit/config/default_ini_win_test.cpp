// Writing the default INI file: the bytes on disk, existing files, unwritable paths.
#include "config/default_ini.h"

#include "base/win_fixture.h"
#include "config/loader.h"

namespace mw {
namespace {

using DefaultIniWin = TempDirTest;

size_t CountCrLf(const std::string& bytes) {
    size_t n = 0;
    for (size_t pos = 0; (pos = bytes.find("\r\n", pos)) != std::string::npos; pos += 2) ++n;
    return n;
}

TEST_F(DefaultIniWin, WritesTheTemplateWithBomIntoANewDirectory) {
    const std::wstring path = Path(L"sub\\deeper\\mosswarden.ini");
    std::wstring error = L"untouched";
    ASSERT_TRUE(EnsureDefaultIni(path, &error));
    EXPECT_EQ(error, L"untouched");
    const std::string bytes = ReadAll(path);
    const std::string first = "\xEF\xBB\xBF; " + std::string(60, '=') + "\r\n";
    EXPECT_EQ(bytes.compare(0, first.size(), first), 0);
    EXPECT_EQ(CountCrLf(bytes), 86u);
    const std::string last = "\r\nunready_restart_sec=300\r\n";
    ASSERT_GT(bytes.size(), last.size());
    EXPECT_EQ(bytes.substr(bytes.size() - last.size()), last);
    EXPECT_EQ(bytes, "\xEF\xBB\xBF" + WideToUtf8(DefaultIniTemplate()));

    Config config;
    ASSERT_TRUE(LoadConfig(path, config));
    EXPECT_EQ(config.tunnel.mode, L"token");
    EXPECT_EQ(config.cloudflared.version, L"2023.10.0");
    EXPECT_EQ(config.supervisor.log_dir, Path(L"sub\\deeper\\logs"));
    EXPECT_TRUE(config.routes.empty());
}

TEST_F(DefaultIniWin, ExistingFilesAreLeftByteForByte) {
    for (const std::string& content : {std::string(), std::string("\xFF\xFE garbage [x")}) {
        const std::wstring path = Path(L"mosswarden.ini");
        ASSERT_TRUE(WriteWholeFile(path, content));
        const uint64_t stamp = FileLastWriteTime(path);
        Sleep(20);
        EXPECT_TRUE(EnsureDefaultIni(path));
        EXPECT_EQ(ReadAll(path), content);
        EXPECT_EQ(FileLastWriteTime(path), stamp);
    }
}

TEST_F(DefaultIniWin, ADirectoryInTheWayIsAWriteFailure) {
    const std::wstring path = Path(L"taken.ini");
    ASSERT_TRUE(CreateDirectories(path));
    std::wstring error;
    EXPECT_FALSE(EnsureDefaultIni(path, &error));
    EXPECT_EQ(error, L"无法写入默认配置: " + path);
    EXPECT_FALSE(EnsureDefaultIni(path));  // no error text wanted: must not crash
}

}  // namespace
}  // namespace mw
