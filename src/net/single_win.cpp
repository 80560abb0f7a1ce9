// Single-connection download into the partial file, continuing an earlier partial file when it can.
#include <vector>

#include "base/handles.h"
#include "base/logger.h"
#include "base/paths.h"
#include "base/text.h"
#include "net/http.h"
#include "net/http_text.h"
#include "net/transfer.h"

namespace mw {

namespace {

bool Fail(std::wstring* errorText, const std::wstring& text) {
    if (errorText) *errorText = text;
    return false;
}

}  // namespace

bool DownloadSingle(const std::wstring& url, const std::wstring& proxy, const std::wstring& partPath,
                    uint64_t expectedSize, bool rangeSupported, int timeoutSeconds, int stallSeconds,
                    int progressInterval, ProgressState* progress, std::wstring* errorText, void* cancel) {
    uint64_t existing = FileSizeOrZero(partPath);
    if (expectedSize != 0 && existing >= expectedSize) return true;
    // Without a known size the resume range would be "bytes=N-0", which servers reject or ignore;
    // start over instead of asking for it.
    if (expectedSize == 0) existing = 0;

    HttpRequest request;
    std::wstring error;
    if (!request.Open(url, proxy, timeoutSeconds, &error)) return Fail(errorText, error);
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
        if (progress) progress->done.fetch_add(existing);
    }

    std::vector<char> buffer(65536);
    uint64_t lastReport = GetTickCount64();
    uint64_t lastData = lastReport;
    uint32_t available = 0;
    if (!request.QueryAvailable(&available)) {
        DWORD err = GetLastError();
        return Fail(errorText, ReadFailedText(err));
    }
    while (available > 0) {
        uint32_t want = available < buffer.size() ? available : static_cast<uint32_t>(buffer.size());
        uint32_t got = 0;
        if (!request.Read(buffer.data(), want, &got)) {
            DWORD err = GetLastError();
            return Fail(errorText, ReadFailedText(err));
        }
        if (got == 0) break;
        uint32_t written = 0;
        if (!WriteAllBytes(file.get(), buffer.data(), got, &written)) {
            DWORD err = GetLastError();
            return Fail(errorText, WriteFailedText(err));
        }
        if (progress) progress->done.fetch_add(written);
        uint64_t now = GetTickCount64();
        if (progress && progressInterval > 0 &&
            now - lastReport >= static_cast<uint64_t>(progressInterval) * 1000u) {
            lastReport = now;
            progress->Report(L"进度");
        }
        if (stallSeconds > 0 && now - lastData > static_cast<uint64_t>(stallSeconds) * 1000u) {
            return Fail(errorText, StalledText(stallSeconds));
        }
        lastData = now;
        // Checked before the next read: the partial file keeps what has arrived, for the next resume.
        if (DownloadCancelled(cancel)) return Fail(errorText, CancelledText());
        if (!request.QueryAvailable(&available)) {
            DWORD err = GetLastError();
            return Fail(errorText, ReadFailedText(err));
        }
    }
    file.reset();
    request.Close();

    uint64_t actual = FileSizeOrZero(partPath);
    if (expectedSize != 0 && actual != expectedSize) {
        return Fail(errorText, FormatText(L"下载不完整：期望 %llu 字节，实际 %llu",
                                          static_cast<unsigned long long>(expectedSize),
                                          static_cast<unsigned long long>(actual)));
    }
    return true;
}

}  // namespace mw
