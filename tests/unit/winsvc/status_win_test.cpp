// Reading the tail of a real log file: the 128 KiB window, a writer holding the file, no file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/handles.h"
#include "base/win.h"
#include "base/win_fixture.h"
#include "winsvc/status.h"

namespace mw {

using LogTailTest = TempDirTest;

TEST_F(LogTailTest, LongLastLinesYieldFewerLinesTheFirstPartial) {
    std::string bytes;
    for (char c : {'a', 'b', 'c'}) bytes += std::string(51200, c) + "\r\n";
    ASSERT_TRUE(WriteWholeFile(Path(L"big.log"), bytes));
    std::vector<std::wstring> tail = ReadLogTail(Path(L"big.log"), 12);
    const size_t partial = 51200 - (bytes.size() - 131072);
    EXPECT_EQ(tail, (std::vector<std::wstring>{std::wstring(partial, L'a'), std::wstring(51200, L'b'),
                                               std::wstring(51200, L'c')}));
}

TEST_F(LogTailTest, ReadsAFileALoggerHoldsOpenForWriting) {
    UniqueHandle writer(CreateFileW(Path(L"svc.log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.valid());
    const char text[] = "one\r\ntwo\r\n";
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer.get(), text, sizeof(text) - 1, &written, nullptr));
    EXPECT_EQ(ReadLogTail(Path(L"svc.log"), 12), (std::vector<std::wstring>{L"one", L"two"}));
}

TEST_F(LogTailTest, MissingFileOrDirectoryGivesNothing) {
    EXPECT_TRUE(ReadLogTail(Path(L"none.log"), 12).empty());
    EXPECT_TRUE(ReadLogTail(dir_, 12).empty());
}

}  // namespace mw
