// Writing the TLS registry values, and the "tlsfix" command.
#include "diag/tls_fix.h"

#include "base/console.h"
#include "base/handles.h"
#include "base/win.h"

namespace mw {

namespace {

bool WriteTlsRegValue(const TlsRegValue& value) {
    HKEY root = value.root == RegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    UniqueRegKey key;
    // No registry-view flag: a 64-bit build writes the 64-bit view, as the fix intends.
    LSTATUS status = RegCreateKeyExW(root, value.key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                                     key.put(), nullptr);
    if (status != ERROR_SUCCESS) return false;
    DWORD data = value.data;
    status = RegSetValueExW(key.get(), value.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
    return status == ERROR_SUCCESS;
}

}  // namespace

TlsFixResult ApplyTlsFix() { return ApplyTlsFixWith(WriteTlsRegValue); }

int RunTlsFixCommand() {
    for (const std::wstring& line : TlsFixReportLines(ApplyTlsFix())) WriteOut(line);
    return 0;
}

}  // namespace mw
