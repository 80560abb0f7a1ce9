// Console output that reads correctly in a console of any code page and when redirected.
#include "base/console.h"

#include "base/text.h"
#include "base/win.h"

namespace mw {

namespace {

bool IsUsable(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

void WriteLine(HANDLE h, const std::wstring& text) {
    std::wstring line = text;
    if (line.empty() || line.back() != L'\n') line += L"\r\n";
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(h, &mode)) {
        WriteConsoleW(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    std::string bytes = WideToUtf8(line);
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

void WriteOut(const std::wstring& text) {
    HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!IsUsable(h)) return;
    WriteLine(h, text);
}

void WriteErr(const std::wstring& text) {
    HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    if (!IsUsable(h)) {
        WriteOut(text);
        return;
    }
    WriteLine(h, text);
}

}  // namespace mw
