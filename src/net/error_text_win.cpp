// WinHTTP error texts: winhttp.dll's message table for the codes the short table does not cover.
#include "net/http_text.h"

#include "base/text.h"
#include "base/win.h"

namespace mw {

std::wstring NetErrorText(uint32_t code) {
    if (code < 12000 || code > 12999) return Win32ErrorText(code);
    if (WinHttpErrorMeaning(code)) return ComposeWinHttpErrorText(code, std::wstring());
    // The 12xxx texts live in winhttp.dll, not in the system table; the module is loaded by now.
    std::wstring message;
    HMODULE module = GetModuleHandleW(L"winhttp.dll");
    if (module) {
        wchar_t* buffer = nullptr;
        DWORD length = FormatMessageW(
            FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, module,
            code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
        if (length > 0 && buffer != nullptr) message.assign(buffer, length);
        if (buffer != nullptr) LocalFree(buffer);
    }
    return ComposeWinHttpErrorText(code, message);
}

}  // namespace mw
