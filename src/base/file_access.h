// Who may change or read the program's files: the DACLs install sets, and checks of what is there.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace mw {

// Owner Administrators; SYSTEM and Administrators full control, Users read and execute; protected
// from what the parent grants and inherited by everything created inside.
extern const wchar_t kProgramFolderSddl[];
// Owner Administrators; SYSTEM and Administrators only, protected: the INI holds the tunnel token.
extern const wchar_t kIniFileSddl[];

// Applies an SDDL security descriptor (owner and DACL) to a file or folder; false with a text on failure.
using SecuritySetter = std::function<bool(const std::wstring& path, const std::wstring& sddl, std::wstring* errorText)>;

struct LockDownTarget {
    std::wstring path;
    std::wstring sddl;
};
// The folders (the program's and, when it is elsewhere, the INI's) and then the INI, each once.
std::vector<LockDownTarget> LockDownTargets(const std::wstring& programDir, const std::wstring& iniPath);

// Applies each target through `set`, going on after a failure; false when any failed, with each
// failure's text in *failures.
bool LockDown(const std::vector<LockDownTarget>& targets, const SecuritySetter& set, std::vector<std::wstring>* failures);
// The one line an install prints when every target took its descriptor.
std::wstring LockDownLine(const std::vector<LockDownTarget>& targets);

// Pure: the principals (SID strings as the SDDL writes them) that an allow ACE of the DACL lets
// write (or, with `read`, read) the object itself. SYSTEM, Administrators, TrustedInstaller and the
// `admin` SID (the elevated caller; may be empty) do not count, inherit-only ACEs do not apply; a
// missing or null DACL lets everyone ("WD") in.
std::vector<std::wstring> NonAdminPrincipals(const std::wstring& sddl, bool read, const std::wstring& admin = std::wstring());

// The warnings for one object: "警告: <path> 可被非管理员写入（BU, AU）" and, with `checkRead`,
// "警告: <path> 可被非管理员读取（BU）".
std::vector<std::wstring> AccessWarnings(const std::wstring& path, const std::wstring& sddl, bool checkRead,
                                         const std::wstring& admin = std::wstring());

// The owner and DACL of a file or folder as SDDL; false when they cannot be read.
bool ReadSecuritySddl(const std::wstring& path, std::wstring* sddl);
// The SID of the process's user ("S-1-5-21-..."); empty when it cannot be read.
std::wstring CurrentUserSid();
// The real setter over SetNamedSecurityInfoW.
bool SetSecurityFromSddl(const std::wstring& path, const std::wstring& sddl, std::wstring* errorText);

// Warnings for the program folder, the executable, the connector and the INI (also readable); empty
// when none is open to non-administrators or their descriptors cannot be read.
std::vector<std::wstring> InstallAccessWarnings(const std::wstring& programPath, const std::wstring& connectorPath,
                                                const std::wstring& iniPath);

}  // namespace mw
