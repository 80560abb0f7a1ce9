// Download driver: settles the proxy once, then tries the primary URL and each mirror until one succeeds.
#include "net/download.h"

#include "base/logger.h"
#include "base/win.h"
#include "net/download_plan.h"
#include "net/http_text.h"
#include "net/proxy.h"
#include "net/transfer.h"

namespace mw {

bool DownloadCancelled(void* cancel) {
    return cancel != nullptr && WaitForSingleObject(static_cast<HANDLE>(cancel), 0) == WAIT_OBJECT_0;
}

bool DownloadWithFallback(const DownloadOptions& options, std::wstring* errorText, uint32_t* status) {
    DownloadOptions copy = options;
    ProxyChoice proxy = SelectProxy(options.proxy);
    copy.proxy = proxy.proxy;
    copy.proxyBypass = proxy.bypass;
    const std::wstring partPath = copy.target + L".part";
    std::vector<std::wstring> urls = BuildUrlList(copy.primaryUrl, copy.mirrors);
    Logger& log = Logger::Instance();

    std::wstring lastError;
    uint32_t lastStatus = 0;
    for (size_t pos = 0; pos < urls.size(); ++pos) {
        const std::wstring& url = urls[pos];
        if (DownloadCancelled(copy.cancel)) {
            lastError = CancelledText();
            break;
        }
        if (pos > 0) {
            log.Write(L"WARN", L"换下一个地址重试: " + url);
            // A partial file is never continued across URLs: another server may hold other bytes.
            DeleteFileW(partPath.c_str());
        }
        std::wstring attemptError;
        uint32_t attemptStatus = 0;
        if (DownloadFromUrl(url, copy, &attemptError, &attemptStatus)) {
            if (!copy.verify) return true;
            std::wstring reason;
            if (copy.verify(partPath, &reason)) return true;
            DeleteFileW(partPath.c_str());
            lastError = reason;
            lastStatus = attemptStatus;
            log.Write(L"ERROR", L"该地址失败: " + reason + L"（" + url + L"）");
            continue;
        }
        lastError = attemptError;
        lastStatus = attemptStatus;
        if (DownloadCancelled(copy.cancel)) {
            lastError = CancelledText();
            break;
        }
        log.Write(L"ERROR", L"该地址失败: " + attemptError);
    }
    if (errorText) *errorText = lastError.empty() ? std::wstring(L"下载失败") : lastError;
    if (status) *status = lastStatus;
    return false;
}

}  // namespace mw
