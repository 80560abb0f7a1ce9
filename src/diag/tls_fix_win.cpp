// Writing the TLS registry values, and the "tlsfix" command.
#include "diag/tls_fix.h"

#include "base/console.h"
#include "base/handles.h"
#include "base/platform.h"
#include "base/win.h"

namespace mw {

namespace {

bool WriteTlsRegValue(const TlsRegValue& value) {
    HKEY root = value.root == RegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    REGSAM view = value.view == RegView::Bits64 ? KEY_WOW64_64KEY : (value.view == RegView::Bits32 ? KEY_WOW64_32KEY : 0);
    UniqueRegKey key;
    // RegCreateKeyExW creates every missing key on the path.
    LSTATUS status = RegCreateKeyExW(root, value.key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | view,
                                     nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) return false;
    DWORD data = value.data;
    status = RegSetValueExW(key.get(), value.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
    return status == ERROR_SUCCESS;
}

}  // namespace

TlsFixResult ApplyTlsFix() {
    OsVersionInfo os = GetOsVersionInfo();
    return ApplyTlsFixWith(WriteTlsRegValue, os.isNative64 || os.isWow64);
}

int RunTlsFixCommand() {
    for (const std::wstring& line : TlsFixReportLines(ApplyTlsFix())) WriteOut(line);
    return 0;
}

}  // namespace mw
