// The TLS 1.2 registry fix for WinHTTP and Schannel clients on Windows 7 ("tlsfix").
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mw {

struct TlsFixResult {
    std::vector<std::wstring> writtenLines;  // one line per value group written
    std::vector<std::wstring> failedLines;   // one line per value group whose writing failed
};

enum class RegRoot { CurrentUser, LocalMachine };
// Which registry view a value goes to: the process's own, or the 64-bit or the 32-bit one.
enum class RegView { Own, Bits64, Bits32 };

// One REG_DWORD the fix writes.
struct TlsRegValue {
    RegRoot root;
    const wchar_t* key;
    const wchar_t* name;
    uint32_t data;
    RegView view;
};

// Writes one value (create/open the key, set, close); true when every call succeeded.
using TlsValueWriter = std::function<bool(const TlsRegValue& value)>;

// Every value of every group is attempted; a group is written only when all its values were.
// On 64-bit Windows the WinHttp value goes to both registry views, since 32-bit and 64-bit
// programs read their own.
TlsFixResult ApplyTlsFixWith(const TlsValueWriter& write, bool windows64);
// ApplyTlsFixWith the registry; never fails as a whole.
TlsFixResult ApplyTlsFix();

// The report of the command, in printing order.
std::vector<std::wstring> TlsFixReportLines(const TlsFixResult& result);
// "tlsfix": applies the fix and prints the report; always 0.
int RunTlsFixCommand();

}  // namespace mw
