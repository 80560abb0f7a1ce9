// Single-connection download into the partial file, continuing an earlier partial file when it can.
#include "base/handles.h"
#include "base/logger.h"
#include "base/paths.h"
#include "base/text.h"
#include "net/body.h"
#include "net/download_plan.h"
#include "net/http.h"
#include "net/http_text.h"
#include "net/transfer.h"

namespace mw {

bool DownloadSingle(const std::wstring& url, const std::wstring& proxy, const std::wstring& partPath,
                    uint64_t expectedSize, bool rangeSupported, int timeoutSeconds, int stallSeconds,
                    int progressInterval, ProgressState* progress, std::wstring* errorText, void* cancel) {
    uint64_t existing = FileSizeOrZero(partPath);
    if (expectedSize != 0 && existing >= expectedSize) {
        // Counted as resumed, so the final line reads 100% and not 0%.
        if (progress) {
            progress->done.fetch_add(existing);
            progress->resumed += existing;
        }
        return true;
    }
    // Without a known size the resume range would be "bytes=N-0", which servers reject or ignore;
    // start over instead of asking for it.
    if (expectedSize == 0) existing = 0;

    HttpRequest request;
    std::wstring error;
    if (!request.Open(url, proxy, BodyReceiveSeconds(timeoutSeconds, stallSeconds), &error)) return Fail(errorText, error);
    uint64_t last = expectedSize != 0 ? expectedSize - 1 : 0;
    if (!request.Send(existing, last, rangeSupported && existing > 0, &error)) return Fail(errorText, error);

    uint32_t statusCode = request.StatusCode();
    if (statusCode == 206) {
        if (existing > 0) {
            Logger::Instance().Write(L"INFO", FormatText(L"续传：从已有 %llu 字节处接上",
                                                         static_cast<unsigned long long>(existing)));
        }
    } else if (statusCode == 200) {
        if (existing > 0) {
            Logger::Instance().Write(L"WARN", L"服务器不支持 Range，从头下载");
            existing = 0;
        }
    } else {
        return Fail(errorText, HttpStatusText(statusCode));
    }

    UniqueHandle file(CreateFileW(partPath.c_str(), GENERIC_WRITE, 0, nullptr,
                                  existing > 0 ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD err = GetLastError();
        return Fail(errorText, L"打开文件失败: " + partPath + L" (" + Win32ErrorText(err) + L")");
    }
    if (existing > 0) {
        LARGE_INTEGER offset;
        offset.QuadPart = static_cast<LONGLONG>(existing);
        if (!SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) {
            DWORD err = GetLastError();
            return Fail(errorText, WriteFailedText(err));
        }
        if (progress) {
            progress->done.fetch_add(existing);
            progress->resumed += existing;
        }
    }

    BodyCopy copy;
    copy.file = file.get();
    // With a stated size the body stops there; without one it stops at the cap.
    copy.want = expectedSize != 0 ? expectedSize - existing : 0;
    copy.cap = expectedSize != 0 ? 0 : kMaxDownloadSize;
    copy.timeoutSeconds = timeoutSeconds;
    copy.stallSeconds = stallSeconds;
    copy.progressInterval = progressInterval;
    copy.progress = progress;
    copy.cancel = cancel;
    bool copiedAll = CopyBody(request, copy, nullptr, &error);
    file.reset();
    request.Close();
    if (!copiedAll) {
        // Without a stated size there is no range to resume with, so the bytes are of no use.
        if (expectedSize == 0) DeleteFileW(partPath.c_str());
        return Fail(errorText, error);
    }

    uint64_t actual = FileSizeOrZero(partPath);
    if (expectedSize != 0 && actual != expectedSize) {
        return Fail(errorText, FormatText(L"下载不完整：期望 %llu 字节，实际 %llu",
                                          static_cast<unsigned long long>(expectedSize),
                                          static_cast<unsigned long long>(actual)));
    }
    return true;
}

}  // namespace mw
