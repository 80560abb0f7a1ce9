// Loading from disk and the preparation that most commands run first.
#include "config/loader.h"

#include "base/logger.h"
#include "base/win_fixture.h"

namespace mw {
namespace {

class LoaderWin : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        CurrentConfig() = Config();
    }
    void TearDown() override {
        Logger::Instance().Close();
        CurrentConfig() = Config();
        TempDirTest::TearDown();
    }
};

TEST_F(LoaderWin, FailedLoadLeavesTheRecordAlone) {
    Config config;
    config.cloudflared.chunks = 9;
    config.ini_path = L"before";
    config.routes.push_back(RouteEntry());
    std::wstring error;
    const std::wstring path = Path(L"missing.ini");
    EXPECT_FALSE(LoadConfig(path, config, &error));
    EXPECT_EQ(error, L"读取配置失败: " + path);
    EXPECT_EQ(config.cloudflared.chunks, 9);
    EXPECT_EQ(config.ini_path, L"before");
    EXPECT_EQ(config.ini_dir, L"");
    EXPECT_EQ(config.routes.size(), 1u);
    EXPECT_FALSE(LoadConfig(path, config));
}

TEST_F(LoaderWin, PrepareWritesLoadsAndCreatesTheLogDirectory) {
    const std::wstring path = Path(L"mosswarden.ini");
    ASSERT_TRUE(PrepareConfig(path));
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(CurrentConfig().ini_path, path);
    EXPECT_EQ(CurrentConfig().supervisor.log_dir, Path(L"logs"));
    DWORD attrs = GetFileAttributesW(Path(L"logs").c_str());
    EXPECT_TRUE(attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY));
}

// A file named like the log folder: the command's own open of the log lands beside the INI, with
// the warning, and a later reopen (as after a reload) does the same.
TEST_F(LoaderWin, LogFallsBackToTheIniDirectoryWhenItsFolderCannotBeMade) {
    const std::wstring path = Path(L"mosswarden.ini");
    ASSERT_TRUE(WriteWholeFile(path, "[supervisor]\r\nlog_dir=logs\r\n"));
    ASSERT_TRUE(WriteWholeFile(Path(L"logs"), "a file, not a folder"));
    std::wstring error = L"untouched";
    ASSERT_TRUE(PrepareConfig(path, &error));
    EXPECT_EQ(error, L"untouched");
    EXPECT_EQ(CurrentConfig().supervisor.log_dir, Path(L"logs"));
    for (int open = 0; open < 2; ++open) {
        Logger::Instance().Open(CurrentConfig().supervisor.log_dir, L"mosswarden", 16, false, L"cmd.log");
        Logger::Instance().Write(L"INFO", L"kept");
    }
    EXPECT_EQ(Logger::Instance().CurrentPath(), Path(L"cmd.log"));
    Logger::Instance().Close();
    const std::string log = ReadAll(Path(L"cmd.log"));
    const std::string warn =
        " [WARN] " + WideToUtf8(L"无法创建日志目录: " + Path(L"logs") + L"，日志写在 " + dir_) + "\r\n";
    size_t first = log.find(warn);
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find(warn, first + 1), std::string::npos) << log;
    EXPECT_NE(log.find(" [INFO] kept\r\n"), std::string::npos) << log;
    EXPECT_EQ(ReadAll(Path(L"logs")), "a file, not a folder");
}

TEST_F(LoaderWin, PrepareFailsWithTheStepsErrorText) {
    const std::wstring path = Path(L"dir.ini");
    ASSERT_TRUE(CreateDirectories(path));
    std::wstring error;
    EXPECT_FALSE(PrepareConfig(path, &error));
    EXPECT_EQ(error, L"无法写入默认配置: " + path);
    EXPECT_EQ(CurrentConfig().ini_path, L"");
}

}  // namespace
}  // namespace mw
