// Reading and setting the owner and DACL of the program's files through their SDDL form.
#include "base/win.h"

#include <aclapi.h>
#include <sddl.h>

#include "base/file_access.h"
#include "base/handles.h"
#include "base/platform.h"
#include "base/text.h"

#include <vector>

namespace mw {

bool ReadSecuritySddl(const std::wstring& path, std::wstring* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD rc = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                     nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (rc != ERROR_SUCCESS) return false;
    UniqueLocalMemory owned(descriptor);
    LPWSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                              &text, nullptr)) {
        return false;
    }
    UniqueLocalMemory ownedText(text);
    *sddl = text;
    return true;
}

bool SetSecurityFromSddl(const std::wstring& path, const std::wstring& sddl, std::wstring* errorText) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        DWORD err = GetLastError();
        if (errorText != nullptr) *errorText = L"ConvertStringSecurityDescriptor 失败: " + Win32ErrorText(err);
        return false;
    }
    UniqueLocalMemory owned(descriptor);
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    PACL dacl = nullptr;
    BOOL present = FALSE;
    BOOL daclDefaulted = FALSE;
    GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted);
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &daclDefaulted);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | (owner != nullptr ? OWNER_SECURITY_INFORMATION : 0);
    what |= (control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION;
    // Registry-style: the call returns its error code rather than setting the last error.
    DWORD rc = SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT, what, owner, nullptr, dacl,
                                     nullptr);
    if (rc != ERROR_SUCCESS) {
        if (errorText != nullptr) *errorText = L"SetNamedSecurityInfo 失败: " + Win32ErrorText(rc);
        return false;
    }
    return true;
}

std::wstring CurrentUserSid() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return std::wstring();
    UniqueHandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return std::wstring();
    std::vector<uint64_t> buffer((size + sizeof(uint64_t) - 1) / sizeof(uint64_t));
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return std::wstring();
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) return std::wstring();
    UniqueLocalMemory owned(text);
    return text;
}

std::vector<std::wstring> InstallAccessWarnings(const std::wstring& programPath, const std::wstring& connectorPath,
                                                const std::wstring& iniPath) {
    std::vector<std::wstring> warnings;
    // An elevated caller is an administrator, whatever SID the ACE names it by.
    const std::wstring admin = IsElevated() ? CurrentUserSid() : std::wstring();
    const struct {
        std::wstring path;
        bool checkRead;
    } objects[] = {
        {programPath.substr(0, programPath.find_last_of(L"\\/")), false},
        {programPath, false},
        {connectorPath, false},
        {iniPath, true},
    };
    for (const auto& object : objects) {
        std::wstring sddl;
        if (object.path.empty() || !ReadSecuritySddl(object.path, &sddl)) continue;
        for (const std::wstring& warning : AccessWarnings(object.path, sddl, object.checkRead, admin)) warnings.push_back(warning);
    }
    return warnings;
}

}  // namespace mw
