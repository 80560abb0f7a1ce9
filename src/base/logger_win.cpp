// The log writer: a lock around append-only, flushed writes and size-based rotation.
#include "base/logger.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "base/console.h"
#include "base/handles.h"
#include "base/paths.h"
#include "base/text.h"
#include "base/win.h"

namespace mw {

std::wstring LocalDateStamp() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return FormatText(L"%04u%02u%02u", unsigned(t.wYear), unsigned(t.wMonth), unsigned(t.wDay));
}

std::wstring LocalTimestamp() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return FormatText(L"%04u-%02u-%02u %02u:%02u:%02u.%03u", unsigned(t.wYear), unsigned(t.wMonth),
                      unsigned(t.wDay), unsigned(t.wHour), unsigned(t.wMinute), unsigned(t.wSecond),
                      unsigned(t.wMilliseconds));
}

const wchar_t kLogBaseName[] = L"mosswarden";
const wchar_t kServiceLogName[] = L"mosswarden-service.log";

std::wstring DailyLogFileName(const std::wstring& baseName, const std::wstring& dateStamp) {
    return baseName + L"-" + dateStamp + L".log";
}

struct Logger::State {
    std::mutex lock;
    UniqueHandle file;
    std::wstring directory;
    std::wstring baseName;
    std::wstring fixedFileName;
    int32_t rotateMb = 16;
    bool echo = false;
    std::wstring fallbackDirectory;
    std::vector<std::wstring> secrets;

    std::wstring Path() const {
        if (!fixedFileName.empty()) return JoinPath(directory, fixedFileName);
        return JoinPath(directory, DailyLogFileName(baseName, LocalDateStamp()));
    }
    void Reopen() {
        // Append-only with read and write sharing: several processes may append whole lines at once.
        // Read access is there only because locking needs it (see Write); writes still only append.
        // Delete sharing lets whichever process reaches the limit rename the file while others hold it.
        file.reset(CreateFileW(Path().c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    }
};

namespace {

// The byte locked around each append sits at 2^40 (1 TiB).
const DWORD kAppendLockOffsetHigh = 0x100;

void CleanUpAtExit() {
    Logger::Instance().Close();
}

}  // namespace

Logger::Logger() : state_(new State) {}

Logger::~Logger() { Close(); }

Logger& Logger::Instance() {
    // The function-local static is destroyed at exit after the atexit handler registered here.
    static Logger instance;
    static const bool registered = (std::atexit(CleanUpAtExit), true);
    (void)registered;
    return instance;
}

void Logger::Open(const std::wstring& directory, const std::wstring& baseName, int32_t rotateMb, bool echo,
                  const std::wstring& fixedFileName) {
    std::wstring fallback;
    bool fellBack = false;
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->directory = directory;
        state_->baseName = baseName;
        state_->fixedFileName = fixedFileName;
        state_->rotateMb = rotateMb <= 0 ? 16 : rotateMb;
        state_->echo = echo;
        fallback = state_->fallbackDirectory;
        fellBack = !CreateDirectories(directory) && !fallback.empty() && fallback != directory;
        if (fellBack) state_->directory = fallback;
        state_->file.reset();
        state_->Reopen();
    }
    if (fellBack) Write(L"WARN", L"无法创建日志目录: " + directory + L"，日志写在 " + fallback);
}

void Logger::Open(const LogTarget& target) {
    Open(target.directory, kLogBaseName, target.rotateMb, target.echo, target.fixedFileName);
}

void Logger::SetFallbackDirectory(const std::wstring& directory) {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->fallbackDirectory = directory;
}

void Logger::Write(const wchar_t* level, const std::wstring& text) {
    std::lock_guard<std::mutex> hold(state_->lock);
    std::wstring line = LocalTimestamp() + L" [" + level + L"] " + MaskSecrets(text, state_->secrets) + L"\r\n";
    if (state_->file) {
        std::string bytes = WideToUtf8(line);
        DWORD written = 0;
        // Another process appending to the same file (a second supervisor, a command run by hand)
        // takes the same lock, so that no append can land inside another one. The locked byte lies
        // far past any log's end, where it blocks no reader of the text. Windows appends through an
        // append-only handle atomically anyway; Wine does not.
        OVERLAPPED at = {};
        at.OffsetHigh = kAppendLockOffsetHigh;
        bool locked = LockFileEx(state_->file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != FALSE;
        WriteFile(state_->file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        FlushFileBuffers(state_->file.get());
        if (locked) UnlockFileEx(state_->file.get(), 0, 1, 0, &at);
        LARGE_INTEGER size;
        if (state_->rotateMb > 0 && GetFileSizeEx(state_->file.get(), &size) &&
            size.QuadPart >= static_cast<LONGLONG>(state_->rotateMb) * 1048576LL) {
            state_->file.reset();
            std::wstring path = state_->Path();
            std::wstring rotated = path + L".1";
            // The move replaces the old copy, so a failed move leaves it in place. Every logger
            // opens with delete sharing; a file held without it makes the move fail, and the same
            // file is reopened and the next line tries again.
            MoveFileExW(path.c_str(), rotated.c_str(), MOVEFILE_REPLACE_EXISTING);
            state_->Reopen();
        }
    }
    if (state_->echo) WriteOut(TrimText(line));
}

void Logger::AddSecret(const std::wstring& secret) {
    if (secret.empty()) return;
    std::lock_guard<std::mutex> hold(state_->lock);
    if (std::find(state_->secrets.begin(), state_->secrets.end(), secret) == state_->secrets.end()) {
        state_->secrets.push_back(secret);
    }
}

void Logger::Close() {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->file.reset();
}

std::wstring Logger::CurrentPath() {
    std::lock_guard<std::mutex> hold(state_->lock);
    return state_->Path();
}

}  // namespace mw
