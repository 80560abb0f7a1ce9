// Path rules that need no file system.
#include <vector>

#include "base/paths.h"

namespace mw {

std::wstring DirectoryOf(const std::wstring& path) {
    size_t pos = path.find_last_of(L"\\/");
    if (pos == std::wstring::npos) return L".";
    return path.substr(0, pos);
}

bool IsAbsolutePath(const std::wstring& path) {
    if (path.size() < 2) return false;
    return path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\');
}

std::wstring JoinPath(const std::wstring& base, const std::wstring& path) {
    if (path.empty()) return base;
    if (IsAbsolutePath(path)) return path;
    if (base.empty()) return path;
    if (base.back() == L'\\' || base.back() == L'/') return base + path;
    return base + L"\\" + path;
}

std::wstring ReadGrowingName(const std::function<uint32_t(wchar_t*, uint32_t)>& query) {
    for (uint32_t capacity = 260; capacity <= 32768; capacity *= 2) {
        std::vector<wchar_t> buffer(capacity, L'\0');
        uint32_t n = query(buffer.data(), capacity);
        if (n == 0) return std::wstring();
        if (n < capacity - 1) return std::wstring(buffer.data(), n);
    }
    return std::wstring();
}

}  // namespace mw
