// Environment block merging and output line splitting for the child process runner.
#include "base/process_text.h"

#include "base/text.h"

namespace mw {

namespace {

// The name of "NAME=value"; entries such as "=C:=C:\x" keep their leading '='.
std::wstring EntryName(const std::wstring& entry) {
    size_t eq = entry.find(L'=', 1);
    return eq == std::wstring::npos ? entry : entry.substr(0, eq);
}

bool SafeVariable(const std::wstring& name, const std::wstring& value) {
    return !name.empty() && name.find(L'=') == std::wstring::npos && name.find(L'\0') == std::wstring::npos &&
           value.find(L'\0') == std::wstring::npos;
}

}  // namespace

std::wstring MergeEnvironmentBlock(const wchar_t* inherited, const EnvironmentList& extraEnv) {
    // A later pair of the same name wins over an earlier one, as it would in a shell.
    EnvironmentList extra;
    for (const auto& pair : extraEnv) {
        if (!SafeVariable(pair.first, pair.second)) continue;
        for (auto it = extra.begin(); it != extra.end(); ++it) {
            if (ToLowerAscii(it->first) == ToLowerAscii(pair.first)) {
                extra.erase(it);
                break;
            }
        }
        extra.push_back(pair);
    }

    std::wstring block;
    if (inherited != nullptr) {
        for (const wchar_t* p = inherited; *p != L'\0';) {
            std::wstring entry(p);
            p += entry.size() + 1;
            std::wstring name = ToLowerAscii(EntryName(entry));
            bool replaced = false;
            for (const auto& pair : extra) {
                if (ToLowerAscii(pair.first) == name) replaced = true;
            }
            if (replaced) continue;
            block += entry;
            block.push_back(L'\0');
        }
    }
    for (const auto& pair : extra) {
        block += pair.first;
        block += L'=';
        block += pair.second;
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    if (block.size() == 1) block.push_back(L'\0');
    return block;
}

void OutputLineSplitter::Feed(const char* data, size_t count, const LineHandler& handler) {
    pending_.append(data, count);
    size_t start = 0;
    for (;;) {
        size_t lf = pending_.find('\n', start);
        if (lf == std::string::npos) break;
        size_t end = lf;
        while (end > start && (pending_[end - 1] == '\r' || pending_[end - 1] == ' ')) --end;
        if (end > start && handler) handler(Utf8ToWide(pending_.substr(start, end - start)));
        start = lf + 1;
    }
    pending_.erase(0, start);
    if (pending_.size() > kMaxPending) pending_.clear();
}

void OutputLineSplitter::Finish(const LineHandler& handler) {
    if (!pending_.empty() && handler) handler(Utf8ToWide(pending_));
    pending_.clear();
}

}  // namespace mw
