// Content-Range and Content-Length values from a server: parsing never crashes and is consistent.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/http_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    (void)mw::ParseDecimalU64(text);
    (void)mw::ContentRangeTotal(text);
    (void)mw::ContentRangeTotal(L"bytes 0-0/" + text);
    return 0;
}
