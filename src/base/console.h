// One line of wide text to standard output or standard error.
#pragma once

#include <string>

namespace mw {

// UTF-16 to a console, UTF-8 (no byte order mark) with CR LF to files and pipes.
// A text that does not end in LF gets CR LF appended. Without a handle nothing happens.
void WriteOut(const std::wstring& text);
// As WriteOut on standard error; falls back to standard output when there is none.
void WriteErr(const std::wstring& text);

}  // namespace mw
