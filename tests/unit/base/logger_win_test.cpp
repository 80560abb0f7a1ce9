// The logger: line format, rotation, fixed names, echo, concurrent writers.
#include "base/logger.h"

#include <thread>
#include <vector>

#include "base/handles.h"
#include "win_fixture.h"

namespace mw {
namespace {

class LoggerWin : public TempDirTest {
protected:
    void TearDown() override {
        Logger::Instance().Close();
        TempDirTest::TearDown();
    }
    static std::vector<std::string> Lines(const std::string& data) {
        std::vector<std::string> lines;
        size_t pos = 0;
        while (pos < data.size()) {
            size_t end = data.find("\r\n", pos);
            if (end == std::string::npos) {
                lines.push_back(data.substr(pos));
                break;
            }
            lines.push_back(data.substr(pos, end - pos));
            pos = end + 2;
        }
        return lines;
    }
};

bool IsTimestamp(const std::string& s) {
    // 2024-01-31 08:05:09.042
    if (s.size() != 23) return false;
    const char* shape = "dddd-dd-dd dd:dd:dd.ddd";
    for (size_t i = 0; i < s.size(); ++i) {
        if (shape[i] == 'd' ? !(s[i] >= '0' && s[i] <= '9') : s[i] != shape[i]) return false;
    }
    return true;
}

TEST_F(LoggerWin, DailyFileLineFormat) {
    Logger& log = Logger::Instance();
    log.Write(L"INFO", L"before open is dropped");
    log.Open(Path(L"logs\\deep"), L"mosswarden", 16, false, L"");
    log.Write(L"WARN", L"注册 ok");
    log.Close();
    std::wstring file = Path(L"logs\\deep\\mosswarden-" + LocalDateStamp() + L".log");
    std::string data = ReadAll(file);
    ASSERT_GT(data.size(), 25u);
    EXPECT_TRUE(IsTimestamp(data.substr(0, 23)));
    EXPECT_EQ(data.substr(23), " [WARN] \xE6\xB3\xA8\xE5\x86\x8C ok\r\n");
}

TEST_F(LoggerWin, RotatesAtLimitAndReplacesOldCopy) {
    std::wstring file = Path(L"mosswarden-service.log");
    ASSERT_TRUE(WriteWholeFile(file + L".1", "stale copy"));
    Logger& log = Logger::Instance();
    log.Open(dir_, L"mosswarden", 1, false, L"mosswarden-service.log");
    std::wstring chunk(1000, L'a');
    // Each line is 23 + 8 + 1000 + 2 = 1033 bytes; the 1016th brings the file to 1,049,528 bytes.
    for (int i = 0; i < 1015; ++i) log.Write(L"INFO", chunk);
    EXPECT_EQ(ReadAll(file + L".1"), "stale copy");
    log.Write(L"INFO", chunk);
    EXPECT_EQ(ReadAll(file + L".1").size(), 1016u * 1033u);
    uint64_t size = 1;
    EXPECT_TRUE(FileExists(file, &size));
    EXPECT_EQ(size, 0u);
    log.Write(L"INFO", L"next");
    log.Close();
    EXPECT_EQ(Lines(ReadAll(file)).size(), 1u);
}

// Another process's logger holds the file (with the same sharing): the rotation still happens,
// and when the move cannot happen the old copy is kept, not deleted first.
TEST_F(LoggerWin, RotationWhileAnotherWriterHoldsTheFile) {
    std::wstring file = Path(L"mosswarden-service.log");
    ASSERT_TRUE(WriteWholeFile(file + L".1", "old copy"));
    Logger& log = Logger::Instance();
    log.Open(dir_, L"mosswarden", 1, false, L"mosswarden-service.log");
    HANDLE other = CreateFileW(file.c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    std::wstring chunk(1000, L'a');
    for (int i = 0; i < 1016; ++i) log.Write(L"INFO", chunk);
    CloseHandle(other);
    EXPECT_EQ(ReadAll(file + L".1").size(), 1016u * 1033u) << "rotated although another writer held the file";

    // A reader without delete sharing blocks the move: the copy stays as it was.
    ASSERT_TRUE(WriteWholeFile(file + L".1", "old copy"));
    for (int i = 0; i < 1015; ++i) log.Write(L"INFO", chunk);
    HANDLE blocker = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(blocker, INVALID_HANDLE_VALUE);
    log.Write(L"INFO", chunk);
    CloseHandle(blocker);
    EXPECT_EQ(ReadAll(file + L".1"), "old copy");
    log.Write(L"INFO", L"next");
    log.Close();
    EXPECT_EQ(ReadAll(file + L".1").size(), 1016u * 1033u + 37u) << "the next line rotates";
}

TEST_F(LoggerWin, NonPositiveLimitMeans16MiB) {
    const uint64_t limit = 16u * 1048576u;
    for (int32_t rotateMb : {0, -5}) {
        std::wstring file = Path(L"fixed.log");
        DeleteFileW((file + L".1").c_str());
        {
            // A file 200 bytes short of 16 MiB, made without writing 16 MiB through the logger.
            UniqueHandle h(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            ASSERT_TRUE(h.valid());
            LARGE_INTEGER at;
            at.QuadPart = static_cast<LONGLONG>(limit - 200);
            ASSERT_TRUE(SetFilePointerEx(h.get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(h.get()));
        }
        Logger& log = Logger::Instance();
        log.Open(dir_, L"m", rotateMb, false, L"fixed.log");
        const std::wstring text(67, L'z');  // 23 + 8 + 67 + 2 = 100 bytes a line
        log.Write(L"INFO", text);
        EXPECT_FALSE(FileExists(file + L".1")) << "rotated below 16 MiB, limit " << rotateMb;
        log.Write(L"INFO", text);
        log.Close();
        uint64_t rotated = 0;
        EXPECT_TRUE(FileExists(file + L".1", &rotated)) << "not rotated at 16 MiB, limit " << rotateMb;
        EXPECT_EQ(rotated, limit);
    }
}

TEST_F(LoggerWin, TwoThreadsWriteWholeLines) {
    Logger& log = Logger::Instance();
    log.Open(dir_, L"mosswarden", 16, false, L"t.log");
    auto writer = [&log](wchar_t letter) {
        for (int i = 0; i < 300; ++i) log.Write(L"INFO", std::wstring(200, letter));
    };
    std::thread a(writer, L'a');
    std::thread b(writer, L'b');
    a.join();
    b.join();
    log.Close();
    std::vector<std::string> lines = Lines(ReadAll(Path(L"t.log")));
    ASSERT_EQ(lines.size(), 600u);
    for (const std::string& line : lines) {
        ASSERT_TRUE(IsTimestamp(line.substr(0, 23))) << line.substr(0, 40);
        std::string body = line.substr(31);
        EXPECT_TRUE(body == std::string(200, 'a') || body == std::string(200, 'b')) << line.substr(0, 40);
    }
}

TEST_F(LoggerWin, EchoShowsTheLineWithoutItsLineEnd) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &sa, 1 << 16));
    HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, writeEnd);
    Logger& log = Logger::Instance();
    log.Open(dir_, L"mosswarden", 16, true, L"");
    log.Write(L"INFO", L"回显");
    log.Close();
    log.Write(L"ERROR", L"closed but echoed");
    SetStdHandle(STD_OUTPUT_HANDLE, saved);
    CloseHandle(writeEnd);
    std::string out;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got > 0) out.append(buffer, got);
    CloseHandle(readEnd);
    std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    EXPECT_EQ(lines[0].substr(23), " [INFO] \xE5\x9B\x9E\xE6\x98\xBE");
    EXPECT_EQ(lines[1].substr(23), " [ERROR] closed but echoed");
    EXPECT_EQ(out.substr(out.size() - 2), "\r\n");
    EXPECT_EQ(out.find("\r\n\r\n"), std::string::npos);
}

}  // namespace
}  // namespace mw
