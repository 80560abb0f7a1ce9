// Console output to pipes: UTF-8 without BOM, CR LF rules, the stderr fallback.
#include "base/console.h"

#include "win_fixture.h"

namespace mw {
namespace {

// Redirects one standard handle into a pipe for the life of the object.
class Capture {
public:
    explicit Capture(DWORD which) : which_(which), saved_(GetStdHandle(which)) {
        SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, FALSE};
        CreatePipe(&read_, &write_, &sa, 1 << 16);
        SetStdHandle(which_, write_);
    }
    std::string Finish() {
        SetStdHandle(which_, saved_);
        CloseHandle(write_);
        std::string out;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(read_, buffer, sizeof(buffer), &got, nullptr) && got > 0) out.append(buffer, got);
        CloseHandle(read_);
        return out;
    }

private:
    DWORD which_;
    HANDLE saved_;
    HANDLE read_ = nullptr;
    HANDLE write_ = nullptr;
};

TEST(Console, LineEndRules) {
    Capture out(STD_OUTPUT_HANDLE);
    WriteOut(L"状态: 运行中");
    WriteOut(L"");
    WriteOut(L"has crlf\r\n");
    WriteOut(L"bare lf\n");
    WriteOut(L"cr only\r");
    EXPECT_EQ(out.Finish(),
              "\xE7\x8A\xB6\xE6\x80\x81: \xE8\xBF\x90\xE8\xA1\x8C\xE4\xB8\xAD\r\n"
              "\r\nhas crlf\r\nbare lf\ncr only\r\r\n");
}

TEST(Console, ErrorGoesToStderrOrFallsBackToStdout) {
    {
        Capture err(STD_ERROR_HANDLE);
        WriteErr(L"错误");
        EXPECT_EQ(err.Finish(), "\xE9\x94\x99\xE8\xAF\xAF\r\n");
    }
    HANDLE savedErr = GetStdHandle(STD_ERROR_HANDLE);
    Capture out(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_ERROR_HANDLE, nullptr);
    WriteErr(L"fallback");
    SetStdHandle(STD_ERROR_HANDLE, INVALID_HANDLE_VALUE);
    WriteErr(L"again");
    SetStdHandle(STD_ERROR_HANDLE, savedErr);
    EXPECT_EQ(out.Finish(), "fallback\r\nagain\r\n");
}

TEST(Console, MissingStdoutIsNotReplacedByStderr) {
    HANDLE savedOut = GetStdHandle(STD_OUTPUT_HANDLE);
    Capture err(STD_ERROR_HANDLE);
    for (HANDLE none : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        SetStdHandle(STD_OUTPUT_HANDLE, none);
        WriteOut(L"nowhere");
    }
    WriteErr(L"only this");
    SetStdHandle(STD_OUTPUT_HANDLE, savedOut);
    EXPECT_EQ(err.Finish(), "only this\r\n");
}

}  // namespace
}  // namespace mw
