// The processor a Portable Executable is built for, named with the release catalogue's words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mw {

// How far the first bytes of a file get towards its PE header.
enum class PeHeaderScan {
    NotPe,         // too short, no "MZ" or a wrong signature: not a Windows program at all
    Beyond,        // "MZ" is there but e_lfanew + 6 lies at or past the bytes given
    Machine,       // machine names the result
    OtherMachine,  // a valid PE header of a machine without a catalogue word ("unknown")
};

// Examines the bytes read from the start of a file; machine is set only for PeHeaderScan::Machine.
PeHeaderScan ScanPeHeader(const uint8_t* data, size_t count, std::wstring* machine);

// The header of a file on disk. Machine for a listed machine (then `machine` is set), OtherMachine,
// or NotPe, which includes a file that cannot be read and a header lying past the first 4096 bytes.
PeHeaderScan ReadPeHeader(const std::wstring& path, std::wstring* machine);

// "amd64", "386", "arm64" or "unknown"; every failure to read or parse is "unknown".
std::wstring DetectPeMachine(const std::wstring& path);

}  // namespace mw
