// Text and error helpers shared by every module: formatting, case, trimming, conversions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mw {

// printf-style formatting into at most 4095 characters; "<format-overflow>" beyond that.
// Windows printf conventions: %s is a wide string, %Iu a size_t, %llu a uint64_t.
std::wstring FormatText(const wchar_t* format, ...);

std::wstring ToLowerAscii(const std::wstring& text);
bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix);
bool ContainsNoCase(const std::wstring& text, const std::wstring& needle);
// Removes space, TAB, CR, LF and U+3000 at both ends.
std::wstring TrimText(const std::wstring& text);

std::string WideToUtf8(const std::wstring& text);
// Each maximal invalid subpart (Unicode's recommended practice) becomes one U+FFFD.
std::wstring Utf8ToWide(const std::string& bytes);
std::wstring AnsiToWide(const std::string& bytes);
// True when the bytes are non-empty, strictly valid UTF-8.
bool IsStrictUtf8(const std::string& bytes);

// Display form of a secret: "(none)", "****", or the first 6 and last 4 units with the length.
std::wstring MaskToken(const std::wstring& token);
// `text` with every occurrence of each non-empty secret replaced by its MaskToken form.
std::wstring MaskSecrets(const std::wstring& text, const std::vector<std::wstring>& secrets);

// Writes text into *error when error is not null; always false, for "return Fail(error, …);".
bool Fail(std::wstring* error, const std::wstring& text);

// "<code>: <system message>", or "<code>: (no description)".
std::wstring Win32ErrorText(uint32_t code);

}  // namespace mw
