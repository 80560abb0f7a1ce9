// The body loop over WinHTTP: shared by the single download, the segments and the network check.
#include "net/body.h"

#include <vector>

#include "base/paths.h"
#include "base/text.h"
#include "net/download.h"
#include "net/http_text.h"

namespace mw {

bool CopyBody(HttpRequest& request, const BodyCopy& copy, uint64_t* copied, std::wstring* errorText) {
    uint64_t got = 0;
    if (copied) *copied = 0;
    const bool stallOn = copy.stallSeconds > 0;
    const uint64_t stallMs = stallOn ? static_cast<uint64_t>(copy.stallSeconds) * 1000u : 0;
    // The request was opened with BodyReceiveSeconds as its receive time-out, so a silent server is
    // noticed while waiting; the tick comparison covers a time-out that fires a little late.
    auto readFailure = [&](DWORD err, uint64_t since) {
        if (copy.readError) *copy.readError = err;
        bool stalled = stallOn && (err == ERROR_WINHTTP_TIMEOUT || GetTickCount64() - since >= stallMs);
        return Fail(errorText, stalled ? StalledText(copy.stallSeconds) : ReadFailedText(err));
    };

    std::vector<char> buffer(65536);
    uint64_t lastReport = GetTickCount64();
    uint64_t lastData = lastReport;
    for (;;) {
        uint32_t available = 0;
        if (!request.QueryAvailable(&available)) {
            DWORD err = GetLastError();
            return readFailure(err, lastData);
        }
        if (available == 0) break;
        uint32_t ask = available < buffer.size() ? available : static_cast<uint32_t>(buffer.size());
        uint32_t read = 0;
        if (!request.Read(buffer.data(), ask, &read)) {
            DWORD err = GetLastError();
            return readFailure(err, lastData);
        }
        if (read == 0) break;
        uint64_t now = GetTickCount64();
        if (stallOn && now - lastData > stallMs) return Fail(errorText, StalledText(copy.stallSeconds));
        lastData = now;

        uint32_t keep = read;
        if (copy.want != 0 && got + keep > copy.want) keep = static_cast<uint32_t>(copy.want - got);
        if (copy.cap != 0 && got + keep > copy.cap) return Fail(errorText, SizeAbnormalText());
        if (copy.file) {
            uint32_t written = 0;
            if (!WriteAllBytes(copy.file, buffer.data(), keep, &written)) {
                DWORD err = GetLastError();
                got += written;
                if (copied) *copied = got;
                if (copy.progress) copy.progress->done.fetch_add(written);
                return Fail(errorText, WriteFailedText(err));
            }
        } else if (copy.memory) {
            copy.memory->append(buffer.data(), keep);
        }
        got += keep;
        if (copied) *copied = got;
        if (copy.progress) copy.progress->done.fetch_add(keep);
        if (copy.progress && copy.progressInterval > 0 &&
            now - lastReport >= static_cast<uint64_t>(copy.progressInterval) * 1000u) {
            lastReport = now;
            copy.progress->Report(L"进度");
        }
        if (copy.want != 0 && got >= copy.want) break;
        // Checked between two reads: what has arrived stays written, for the next resume.
        if (DownloadCancelled(copy.cancel)) return Fail(errorText, CancelledText());
    }
    return true;
}

}  // namespace mw
