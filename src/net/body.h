// The one loop that copies a response body: read, write, progress, stall, size cap and cancel.
#pragma once

#include <cstdint>
#include <string>

#include "net/http.h"
#include "net/progress.h"

namespace mw {

// Where the body goes and when the copy stops. Exactly one of file and memory is set.
struct BodyCopy {
    void* file = nullptr;           // a HANDLE open for writing, not owned
    std::string* memory = nullptr;  // bytes are appended here
    uint64_t want = 0;              // write at most this many bytes, then stop; 0: until the body ends
    uint64_t cap = 0;               // a body growing beyond this fails with the size text; 0: no cap
    int timeoutSeconds = 0;         // INI timeout (the receive time-out of the request)
    int stallSeconds = 0;           // no byte for this long fails the copy; 0 or less: no stall check
    int progressInterval = 0;       // seconds between "进度" lines; 0 or less: none from the loop
    ProgressState* progress = nullptr;
    void* cancel = nullptr;         // DownloadOptions::cancel
    uint32_t* readError = nullptr;  // receives the code of a failed read or availability query
};

// Copies the body of a sent request opened with BodyReceiveSeconds; copied (optional) gets the
// bytes written, also on failure. A read that waits stallSeconds without a byte fails with the
// stall text, not with a read error.
bool CopyBody(HttpRequest& request, const BodyCopy& copy, uint64_t* copied = nullptr,
              std::wstring* errorText = nullptr);

}  // namespace mw
