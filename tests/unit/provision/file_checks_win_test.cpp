// SHA-256 and PE machine type of real files: several reads, second header read, sharing, missing files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/handles.h"
#include "base/platform.h"
#include "base/win_fixture.h"
#include "provision/pe_machine.h"
#include "provision/sha256.h"

namespace mw {
namespace {

std::wstring FakeConnectorPath() { return JoinPath(ExeDir(), std::wstring(L"..\\support\\") + MW_FAKECFD_NAME); }

std::string MakeImage(size_t size, uint32_t lfanew, uint16_t machine) {
    std::string bytes(size, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    for (int i = 0; i < 4; ++i) bytes[0x3C + i] = char(lfanew >> (8 * i));
    const char header[6] = {'P', 'E', 0, 0, char(machine & 0xFF), char(machine >> 8)};
    for (size_t i = 0; i < 6 && lfanew + i < size; ++i) bytes[lfanew + i] = header[i];
    return bytes;
}

class FileChecks : public TempDirTest {};

TEST_F(FileChecks, FileDigestEqualsBufferDigest) {
    std::string big(262144 * 2 + 1000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char(i % 251);
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {{"empty", ""}, {"abc", "abc"}, {"three reads, last partial", big}};
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteWholeFile(Path(L"f.bin"), c.bytes));
        std::wstring hex;
        ASSERT_TRUE(Sha256FileHex(Path(L"f.bin"), &hex)) << c.name;
        EXPECT_EQ(hex, Sha256Hex(c.bytes.data(), c.bytes.size())) << c.name;
    }
    EXPECT_TRUE(Sha256FileHex(Path(L"f.bin"), nullptr));
}

TEST_F(FileChecks, DigestFailsWithoutTouchingTheOutput) {
    std::wstring hex = L"untouched";
    EXPECT_FALSE(Sha256FileHex(Path(L"missing.bin"), &hex));
    EXPECT_FALSE(Sha256FileHex(dir_, &hex));
    ASSERT_TRUE(WriteWholeFile(Path(L"locked.bin"), "abc"));
    UniqueHandle locked(CreateFileW(Path(L"locked.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(locked.valid());
    EXPECT_FALSE(Sha256FileHex(Path(L"locked.bin"), &hex));
    EXPECT_EQ(hex, L"untouched");
}

TEST_F(FileChecks, MachineOfFilesOnDisk) {
    struct Case {
        const char* name;
        std::string bytes;
        const wchar_t* machine;
        PeHeaderScan scan;
    } cases[] = {
        {"header in first 512", MakeImage(2048, 0x80, 0x014C), L"386", PeHeaderScan::Machine},
        {"header at 0x400, second read", MakeImage(2048, 0x400, 0x8664), L"amd64", PeHeaderScan::Machine},
        {"header at 0xFF0, second read", MakeImage(8192, 0xFF0, 0xAA64), L"arm64", PeHeaderScan::Machine},
        {"header at 0x1000", MakeImage(8192, 0x1000, 0x8664), L"unknown", PeHeaderScan::NotPe},
        {"file exactly lfanew + 6 long", MakeImage(0x400 + 6, 0x400, 0x8664), L"unknown", PeHeaderScan::NotPe},
        {"itanium", MakeImage(2048, 0x80, 0x0200), L"unknown", PeHeaderScan::OtherMachine},
        {"text", "just some text, not an executable at all, long enough to pass sixty-four bytes", L"unknown",
         PeHeaderScan::NotPe},
        {"empty", "", L"unknown", PeHeaderScan::NotPe},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteWholeFile(Path(L"x.exe"), c.bytes));
        EXPECT_EQ(DetectPeMachine(Path(L"x.exe")), c.machine) << c.name;
        std::wstring machine = L"unknown";
        EXPECT_EQ(ReadPeHeader(Path(L"x.exe"), &machine), c.scan) << c.name;
        EXPECT_EQ(machine, c.machine) << c.name;
    }
    EXPECT_EQ(DetectPeMachine(Path(L"missing.exe")), L"unknown");
    EXPECT_EQ(DetectPeMachine(dir_), L"unknown");
    EXPECT_EQ(ReadPeHeader(Path(L"missing.exe"), nullptr), PeHeaderScan::NotPe);
    EXPECT_EQ(ReadPeHeader(dir_, nullptr), PeHeaderScan::NotPe);
}

TEST_F(FileChecks, RealExecutableEvenWhileOpenElsewhereForWriting) {
    ASSERT_TRUE(CopyFileW(FakeConnectorPath().c_str(), Path(L"cloudflared.exe").c_str(), FALSE));
    EXPECT_EQ(DetectPeMachine(Path(L"cloudflared.exe")), BuildMachineWord());
    UniqueHandle writer(CreateFileW(Path(L"cloudflared.exe").c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer.valid());
    EXPECT_EQ(DetectPeMachine(Path(L"cloudflared.exe")), BuildMachineWord());
}

// Not a check: the end-to-end tests run this case alone with MW_HOLD_FILE set, to hold a file open
// without sharing (as an antivirus scanner does) from another Wine process. It writes <file>.held once
// the file is open and lets go when <file>.release appears, or after 60 seconds.
TEST(HoldFileOpen, WhileAnotherProgramRuns) {
    const wchar_t* target = _wgetenv(L"MW_HOLD_FILE");
    if (target == nullptr) GTEST_SKIP() << "MW_HOLD_FILE not set";
    std::wstring path = target;
    UniqueHandle held(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    ASSERT_TRUE(WriteWholeFile(path + L".held", "held"));
    for (int i = 0; i < 600 && !FileExists(path + L".release"); ++i) Sleep(100);
}

}  // namespace
}  // namespace mw
