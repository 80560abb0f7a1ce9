// Pure pieces of the child process runner: the environment block and the output line splitter.
#pragma once

#include <cstddef>
#include <string>

#include "base/process.h"

namespace mw {

// `inherited` is a block as GetEnvironmentStringsW returns it (or null). A variable of extraEnv
// replaces an inherited one whose name matches case-insensitively, as Windows compares names.
std::wstring MergeEnvironmentBlock(const wchar_t* inherited, const EnvironmentList& extraEnv);

// Cuts a byte stream into lines at LF, drops trailing CR and spaces and empty lines, decodes UTF-8.
class OutputLineSplitter {
public:
    // Pending text without a line feed is dropped once it exceeds this many bytes.
    static constexpr size_t kMaxPending = 65536;

    void Feed(const char* data, size_t count, const LineHandler& handler);
    // Delivers an unterminated remainder as it stands (untrimmed).
    void Finish(const LineHandler& handler);

private:
    std::string pending_;
};

}  // namespace mw
