// SHA-256 of a whole file, streamed through one fixed read buffer.
#include <vector>

#include "base/handles.h"
#include "provision/sha256.h"

namespace mw {

bool Sha256FileHex(const std::wstring& path, std::wstring* hexOut) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    const DWORD kBufferSize = 262144;
    std::vector<uint8_t> buffer(kBufferSize, 0);
    Sha256 sha;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer.data(), kBufferSize, &got, nullptr)) return false;
        if (got == 0) break;
        sha.Update(buffer.data(), got);
    }
    file.reset();
    uint8_t digest[32];
    sha.Final(digest);
    if (hexOut) *hexOut = DigestToHex(digest);
    return true;
}

}  // namespace mw
