// Which URL the network check fetches and how its result is worded.
#include "diag/check_network.h"

#include "base/text.h"

namespace mw {

namespace {

const wchar_t kDefaultCheckUrl[] = L"https://www.cloudflare.com/cdn-cgi/trace";
const size_t kExcerptBytes = 200;

}  // namespace

std::wstring CheckNetUrl(const std::vector<std::wstring>& args) {
    if (args.size() >= 2 && !StartsWithNoCase(args[1], L"--")) return args[1];
    return kDefaultCheckUrl;
}

std::vector<std::wstring> CheckNetSuccessLines(uint32_t status, const std::string& body, uint32_t elapsedMs) {
    // A multi-byte character cut at the limit becomes a replacement character.
    std::string excerpt = body.size() > kExcerptBytes ? body.substr(0, kExcerptBytes) : body;
    return {
        FormatText(L"HTTP %u，%Iu 字节，耗时 %u ms", unsigned(status), body.size(), unsigned(elapsedMs)),
        L"响应片段: " + Utf8ToWide(excerpt),
    };
}

}  // namespace mw
