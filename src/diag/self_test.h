// The offline self-test ("selftest"): OS level, SHA-256, PE reading, INI and config.yml round trip.
#pragma once

#include <cstdint>
#include <string>

namespace mw {

// "[ OK ] label" or "[FAIL] label", with " — detail" when the detail is not empty.
std::wstring CheckLineText(bool passed, const std::wstring& label, const std::wstring& detail);

// Prints one check line: passed to standard output, failed to standard error (counted).
void ReportCheck(uint32_t& failures, bool passed, const std::wstring& label, const std::wstring& detail);

// Runs every check against the INI file; 0 when all passed, 1 otherwise.
int RunSelfTest(const std::wstring& iniPath);

}  // namespace mw
