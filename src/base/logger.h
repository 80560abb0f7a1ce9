// The process-wide log writer: one UTF-8 line per message, flushed, rotated, optionally echoed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace mw {

// "%04u%02u%02u" of the local date, as used in daily log file names.
std::wstring LocalDateStamp();
// "%04u-%02u-%02u %02u:%02u:%02u.%03u" of the local time.
std::wstring LocalTimestamp();

// The program's log files: "mosswarden-YYYYMMDD.log" for console runs, one fixed file for the service.
extern const wchar_t kLogBaseName[];
extern const wchar_t kServiceLogName[];
// baseName + "-" + dateStamp + ".log".
std::wstring DailyLogFileName(const std::wstring& baseName, const std::wstring& dateStamp);

// Where and how a log is written; the settings build the two the program uses.
struct LogTarget {
    std::wstring directory;
    std::wstring fixedFileName;  // empty: the daily file of kLogBaseName
    int32_t rotateMb = 16;
    bool echo = false;
};

class Logger {
public:
    static Logger& Instance();

    // Replaces the whole configuration and reopens the file. A rotation limit of 0 or less means 16.
    // A directory that cannot be made (a file of that name among the causes) is replaced by the
    // fallback directory, and the file's first line from this open is a WARN that says so.
    void Open(const std::wstring& directory, const std::wstring& baseName, int32_t rotateMb, bool echo,
              const std::wstring& fixedFileName);
    void Open(const LogTarget& target);
    // Never fails towards the caller; the line reaches the file (when open) and the echo (when on).
    void Write(const wchar_t* level, const std::wstring& text);
    // From now on every occurrence of `secret` in a line is written and echoed in its masked form.
    // Secrets are kept for the life of the process; an empty one is ignored.
    void AddSecret(const std::wstring& secret);
    // Where the log goes when its own directory cannot be made: the INI folder, set by the loader.
    void SetFallbackDirectory(const std::wstring& directory);
    void Close();

    // The path the next open or rotation uses.
    std::wstring CurrentPath();

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    Logger();
    ~Logger();
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace mw
