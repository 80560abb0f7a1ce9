// Stand-in for the WinHTTP error texts on the build machine, which has no winhttp.dll.
#include "net/http_text.h"

#include "base/text.h"

namespace mw {

std::wstring NetErrorText(uint32_t code) {
    if (code < 12000 || code > 12999) return Win32ErrorText(code);
    return ComposeWinHttpErrorText(code, std::wstring());
}

}  // namespace mw
