// SDDL texts for the locked-down install, and reading an SDDL DACL for rights of non-administrators.
#include "base/file_access.h"

#include <cstdlib>

#include "base/paths.h"
#include "base/text.h"

namespace mw {

const wchar_t kProgramFolderSddl[] = L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const wchar_t kIniFileSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";

namespace {

std::wstring Folded(std::wstring path) {
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return ToLowerAscii(path);
}

bool Trusted(const std::wstring& sid) {
    static const wchar_t* const kTrusted[] = {
        L"SY", L"BA", L"S-1-5-18", L"S-1-5-32-544",
        L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",  // TrustedInstaller
    };
    for (const wchar_t* trusted : kTrusted) {
        if (ToLowerAscii(sid) == ToLowerAscii(trusted)) return true;
    }
    return false;
}

// Access mask of an SDDL rights field: a hex number or two-letter codes (file meanings for the
// object-specific ones).
uint32_t RightsMask(const std::wstring& rights) {
    if (rights.size() > 2 && rights[0] == L'0' && (rights[1] == L'x' || rights[1] == L'X')) {
        return static_cast<uint32_t>(wcstoul(rights.c_str() + 2, nullptr, 16));
    }
    static const struct {
        const wchar_t* code;
        uint32_t mask;
    } kCodes[] = {
        {L"GA", 0x10000000}, {L"GR", 0x80000000}, {L"GW", 0x40000000}, {L"GX", 0x20000000},
        {L"FA", 0x001F01FF}, {L"FR", 0x00120089}, {L"FW", 0x00120116}, {L"FX", 0x001200A0},
        {L"RC", 0x00020000}, {L"SD", 0x00010000}, {L"WD", 0x00040000}, {L"WO", 0x00080000},
        {L"CC", 0x1},        {L"DC", 0x2},        {L"LC", 0x4},        {L"SW", 0x8},
        {L"RP", 0x10},       {L"WP", 0x20},       {L"DT", 0x40},       {L"LO", 0x80},
        {L"CR", 0x100},
    };
    uint32_t mask = 0;
    for (size_t i = 0; i + 1 < rights.size(); i += 2) {
        std::wstring code = rights.substr(i, 2);
        for (const auto& known : kCodes) {
            if (code == known.code) mask |= known.mask;
        }
    }
    return mask;
}

// Write data or add files, append or add folders, write extended attributes, delete children,
// write attributes, delete, change the DACL or the owner, and the generic all and write.
constexpr uint32_t kWriteMask = 0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;
constexpr uint32_t kReadMask = 0x1 | 0x10000000 | 0x80000000;

std::vector<std::wstring> Fields(const std::wstring& ace) {
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (;;) {
        size_t semi = ace.find(L';', start);
        fields.push_back(ace.substr(start, semi == std::wstring::npos ? std::wstring::npos : semi - start));
        if (semi == std::wstring::npos) break;
        start = semi + 1;
    }
    return fields;
}

}  // namespace

std::vector<LockDownTarget> LockDownTargets(const std::wstring& programDir, const std::wstring& iniPath) {
    std::vector<LockDownTarget> targets = {{programDir, kProgramFolderSddl}};
    std::wstring iniDir = DirectoryOf(iniPath);
    if (Folded(iniDir) != Folded(programDir)) targets.push_back({iniDir, kProgramFolderSddl});
    targets.push_back({iniPath, kIniFileSddl});
    return targets;
}

bool LockDown(const std::vector<LockDownTarget>& targets, const SecuritySetter& set, std::vector<std::wstring>* failures) {
    bool ok = true;
    for (const LockDownTarget& target : targets) {
        std::wstring error;
        if (set(target.path, target.sddl, &error)) continue;
        ok = false;
        if (failures != nullptr) failures->push_back(L"收紧权限失败: " + target.path + L": " + error);
    }
    return ok;
}

std::wstring LockDownLine(const std::vector<LockDownTarget>& targets) {
    std::wstring folders;
    std::wstring files;
    for (const LockDownTarget& target : targets) {
        std::wstring& list = target.sddl == kIniFileSddl ? files : folders;
        list += (list.empty() ? L"" : L"、") + target.path;
    }
    return L"已收紧权限: " + folders + L" 仅 SYSTEM 和管理员可改（Users 只读）；" + files + L" 仅 SYSTEM 和管理员可读写";
}

std::vector<std::wstring> NonAdminPrincipals(const std::wstring& sddl, bool read, const std::wstring& admin) {
    std::vector<std::wstring> principals;
    size_t d = sddl.find(L"D:");
    // Without a DACL, or with a null one, nothing is checked: everyone may do everything.
    if (d == std::wstring::npos || sddl.compare(d, 20, L"D:NO_ACCESS_CONTROL") == 0) return {L"WD"};
    size_t end = sddl.find(L"S:", d);
    std::wstring dacl = sddl.substr(d, end == std::wstring::npos ? std::wstring::npos : end - d);
    const uint32_t wanted = read ? kReadMask : kWriteMask;
    size_t open = dacl.find(L'(');
    while (open != std::wstring::npos) {
        size_t close = dacl.find(L')', open);
        if (close == std::wstring::npos) break;
        std::vector<std::wstring> f = Fields(dacl.substr(open + 1, close - open - 1));
        open = dacl.find(L'(', close);
        if (f.size() < 6 || f[0] != L"A") continue;
        if (f[1].find(L"IO") != std::wstring::npos) continue;
        const std::wstring& sid = f[5];
        if (Trusted(sid) || (!admin.empty() && ToLowerAscii(sid) == ToLowerAscii(admin)) ||
            (RightsMask(f[2]) & wanted) == 0) {
            continue;
        }
        bool seen = false;
        for (const std::wstring& p : principals) seen = seen || p == sid;
        if (!seen) principals.push_back(sid);
    }
    return principals;
}

std::vector<std::wstring> AccessWarnings(const std::wstring& path, const std::wstring& sddl, bool checkRead,
                                         const std::wstring& admin) {
    std::vector<std::wstring> warnings;
    auto list = [](const std::vector<std::wstring>& principals) {
        std::wstring text;
        for (const std::wstring& p : principals) text += (text.empty() ? L"" : L", ") + p;
        return text;
    };
    std::vector<std::wstring> writers = NonAdminPrincipals(sddl, false, admin);
    if (!writers.empty()) warnings.push_back(L"警告: " + path + L" 可被非管理员写入（" + list(writers) + L"）");
    if (checkRead) {
        std::vector<std::wstring> readers = NonAdminPrincipals(sddl, true, admin);
        if (!readers.empty()) warnings.push_back(L"警告: " + path + L" 可被非管理员读取（" + list(readers) + L"）");
    }
    return warnings;
}

}  // namespace mw
