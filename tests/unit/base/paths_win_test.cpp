// File helpers against the real file system.
#include "base/paths.h"

#include "base/handles.h"
#include "win_fixture.h"

namespace mw {
namespace {

using PathsWin = TempDirTest;

TEST_F(PathsWin, CreateDirectoriesMakesThreeLevelsAndIsIdempotent) {
    std::wstring deep = Path(L"a\\b/c");
    EXPECT_TRUE(CreateDirectories(deep));
    DWORD attrs = GetFileAttributesW(deep.c_str());
    ASSERT_NE(attrs, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attrs & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(CreateDirectories(deep));
    EXPECT_FALSE(CreateDirectories(L""));
    // Below a file nothing can be created.
    ASSERT_TRUE(WriteWholeFile(Path(L"file"), "x"));
    EXPECT_FALSE(CreateDirectories(Path(L"file\\sub")));
    // Nor is a file where the directory should be one.
    EXPECT_FALSE(CreateDirectories(Path(L"file")));
}

TEST_F(PathsWin, FileExistsSizesAndDirectories) {
    uint64_t size = 99;
    ASSERT_TRUE(WriteWholeFile(Path(L"empty"), ""));
    EXPECT_TRUE(FileExists(Path(L"empty"), &size));
    EXPECT_EQ(size, 0u);
    ASSERT_TRUE(WriteWholeFile(Path(L"five"), "12345"));
    EXPECT_TRUE(FileExists(Path(L"five"), &size));
    EXPECT_EQ(size, 5u);
    EXPECT_FALSE(FileExists(dir_));
    EXPECT_FALSE(FileExists(Path(L"missing")));
    EXPECT_NE(FileLastWriteTime(Path(L"five")), 0u);
    EXPECT_EQ(FileLastWriteTime(Path(L"missing")), 0u);
}

TEST_F(PathsWin, DeleteFileIfExists) {
    EXPECT_TRUE(DeleteFileIfExists(Path(L"missing")));
    ASSERT_TRUE(WriteWholeFile(Path(L"f"), "x"));
    EXPECT_TRUE(DeleteFileIfExists(Path(L"f")));
    EXPECT_FALSE(FileExists(Path(L"f")));
}

TEST_F(PathsWin, WriteTextFileBomAndReplace) {
    ASSERT_TRUE(WriteTextFile(Path(L"bom"), L"", true));
    EXPECT_EQ(ReadAll(Path(L"bom")), "\xEF\xBB\xBF");
    ASSERT_TRUE(WriteTextFile(Path(L"t"), L"a long first text\r\n", false));
    ASSERT_TRUE(WriteTextFile(Path(L"t"), L"值\n", false));
    EXPECT_EQ(ReadAll(Path(L"t")), "\xE5\x80\xBC\n");
}

TEST_F(PathsWin, WriteWholeFileFailsOnHeldFileAndDirectory) {
    ASSERT_TRUE(WriteWholeFile(Path(L"held"), "old"));
    UniqueHandle held(CreateFileW(Path(L"held").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    EXPECT_FALSE(WriteWholeFile(Path(L"held"), "new"));
    held.reset();
    EXPECT_EQ(ReadAll(Path(L"held")), "old");
    EXPECT_FALSE(WriteWholeFile(dir_, "x"));
}

TEST_F(PathsWin, ReadWholeFileBesideAWriterAndItsFailures) {
    // Larger than one read, and still open for appending elsewhere, as a log is.
    std::string big(200000, 'x');
    big += "end";
    ASSERT_TRUE(WriteWholeFile(Path(L"big"), big));
    UniqueHandle writer(CreateFileW(Path(L"big").c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
    ASSERT_TRUE(writer.valid());
    std::string bytes = "stale";
    EXPECT_TRUE(ReadWholeFile(Path(L"big"), bytes));
    EXPECT_EQ(bytes, big);
    ASSERT_TRUE(WriteWholeFile(Path(L"empty"), ""));
    EXPECT_TRUE(ReadWholeFile(Path(L"empty"), bytes));
    EXPECT_EQ(bytes, "");
    bytes = "stale";
    EXPECT_FALSE(ReadWholeFile(Path(L"missing"), bytes));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(bytes, "");
    EXPECT_FALSE(ReadWholeFile(dir_, bytes));
}

TEST(ModulePath, NamesThisProgram) {
    std::wstring path = ModulePath();
    EXPECT_TRUE(IsAbsolutePath(path));
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(ExeDir(), DirectoryOf(path));
    EXPECT_EQ(DefaultIniPath(), ExeDir() + L"\\mosswarden.ini");
}

}  // namespace
}  // namespace mw
