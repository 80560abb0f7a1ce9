// The system proxy list ("http=a:1;https=b:2" or one server): the choice is always a piece of the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/proxy.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::wstring list;
    for (size_t i = 0; i < size; ++i) list += static_cast<wchar_t>(data[i] < 0x80 ? data[i] : 0x4E00 + data[i]);
    std::wstring choice = mw::ChooseFromProxyList(list);
    if (choice.size() > list.size()) std::abort();
    (void)mw::IsAutoProxySetting(list);
    return 0;
}
