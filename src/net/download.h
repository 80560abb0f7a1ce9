// Entry point of the download engine: settle the proxy, then try the primary URL and the mirrors in order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mw {

struct DownloadOptions {
    std::wstring primaryUrl;
    std::wstring target;  // transfers write target + ".part", never target itself
    std::wstring proxy;   // raw INI value: empty, "auto" or an explicit proxy
    std::wstring proxyBypass;  // set by the driver: the system's bypass list that goes with an "auto" proxy
    std::vector<std::wstring> mirrors;
    int timeoutSeconds = 600;
    int chunks = 4;
    int stallSeconds = 60;
    int progressInterval = 3;
    // A manual-reset event (a HANDLE, not owned) that ends the download between two reads when it is
    // signalled; null means the download runs to its end.
    void* cancel = nullptr;
    // Judges a complete body (target + ".part") of one URL; on false with a reason the body is
    // deleted, the URL counts as failed and the next one is tried. Empty accepts every body.
    std::function<bool(const std::wstring& partPath, std::wstring* reason)> verify;
};

// True when cancel is an event that is signalled.
bool DownloadCancelled(void* cancel);

// True when target + ".part" holds the complete resource of one URL that `verify` accepted. On
// failure errorText gets the last URL's failure or rejection text ("下载失败" when no URL was tried) and status the last probe's HTTP status
// (0 when there was no response); both are written only on failure.
bool DownloadWithFallback(const DownloadOptions& options, std::wstring* errorText = nullptr,
                          uint32_t* status = nullptr);

}  // namespace mw
