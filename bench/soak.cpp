// Soak: the supervisor in-process against the connector stand-in for many cycles; handles and memory before/after.
//
// soak.exe WORKDIR FAKECFD.EXE CYCLES [exit|kill]
//   exit  the stand-in exits by itself 400 ms after it starts (default)
//   kill  the stand-in never exits; this program kills it with TerminateProcess 300 ms after it starts
#include <string>
#include <thread>
#include <vector>

#include "base/console.h"
#include "base/paths.h"
#include "base/platform.h"
#include "base/text.h"
#include "base/win.h"
#include "config/loader.h"
#include "provision/sha256.h"
#include "supervisor/supervisor.h"

#include <psapi.h>

namespace {

using mw::WriteOut;

struct Snapshot {
    DWORD handleCount = 0;
    uintptr_t freshHandle = 0;  // value of the last of 512 new events: moves with every handle left open
    SIZE_T privateUsage = 0;
    SIZE_T pagefileUsage = 0;
    SIZE_T workingSet = 0;
    std::string procStatus;  // VmRSS/VmData of the Wine process, where /proc is reachable
};

std::string ReadSmallFile(const std::wstring& path) {
    std::string data;
    if (!mw::ReadWholeFile(path, data)) data.clear();
    return data;
}

std::string ProcStatusFields() {
    std::string text = ReadSmallFile(L"Z:\\proc\\self\\status");
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (line.compare(0, 6, "VmRSS:") == 0 || line.compare(0, 7, "VmData:") == 0) {
            std::string compact;
            for (char c : line) {
                if (c != ' ' && c != '\t') compact += c;
            }
            if (!out.empty()) out += ' ';
            out += compact;
        }
        pos = end + 1;
    }
    return out;
}

uintptr_t FreshHandleValue() {
    // Wine hands out the lowest free slot, so the last of many new handles sits just above every open one.
    uintptr_t best = UINTPTR_MAX;
    for (int round = 0; round < 3; ++round) {
        std::vector<HANDLE> events;
        for (int i = 0; i < 512; ++i) events.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        uintptr_t last = reinterpret_cast<uintptr_t>(events.back());
        for (HANDLE h : events) {
            if (h != nullptr) CloseHandle(h);
        }
        if (last < best) best = last;
        Sleep(20);
    }
    return best;
}

Snapshot Take() {
    Snapshot s;
    GetProcessHandleCount(GetCurrentProcess(), &s.handleCount);
    s.freshHandle = FreshHandleValue();
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof(pmc);
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc))) {
        s.privateUsage = pmc.PrivateUsage;
        s.pagefileUsage = pmc.PagefileUsage;
        s.workingSet = pmc.WorkingSetSize;
    }
    s.procStatus = ProcStatusFields();
    return s;
}

std::wstring Hex(uintptr_t value) { return mw::FormatText(L"0x%X", static_cast<unsigned>(value)); }

void Print(const wchar_t* label, unsigned cycles, const Snapshot& s) {
    WriteOut(std::wstring(label) + L" (cycle " + std::to_wstring(cycles) + L"): handles=" +
             std::to_wstring(s.handleCount) + L" fresh_handle=" + Hex(s.freshHandle) + L" private=" +
             std::to_wstring(s.privateUsage) + L" pagefile=" + std::to_wstring(s.pagefileUsage) + L" workingset=" +
             std::to_wstring(s.workingSet) + L" proc[" + mw::Utf8ToWide(s.procStatus) + L"]\n");
}

long long Diff(SIZE_T after, SIZE_T before) { return static_cast<long long>(after) - static_cast<long long>(before); }

void PrintGrowth(const wchar_t* label, const Snapshot& from, const Snapshot& to) {
    long long handleSlots = (static_cast<long long>(to.freshHandle) - static_cast<long long>(from.freshHandle)) / 4;
    WriteOut(std::wstring(label) + L": handle_count " + std::to_wstring(static_cast<long long>(to.handleCount) -
                                                                         static_cast<long long>(from.handleCount)) +
             L", fresh_handle slots " + std::to_wstring(handleSlots) + L", private " +
             std::to_wstring(Diff(to.privateUsage, from.privateUsage)) + L" B, pagefile " +
             std::to_wstring(Diff(to.pagefileUsage, from.pagefileUsage)) + L" B\n");
}

// The stand-in as cloudflared.exe, padded past 1 MiB as a real connector is large.
bool PlaceConnector(const std::wstring& fakecfd, const std::wstring& target) {
    std::string bytes = ReadSmallFile(fakecfd);
    if (bytes.empty()) return false;
    if (bytes.size() < (1u << 20) + 4096) bytes.resize((1u << 20) + 4096, '\0');
    return mw::WriteWholeFile(target, bytes);
}

std::vector<DWORD> RunPids(const std::string& runlog) {
    std::vector<DWORD> pids;
    size_t pos = 0;
    while ((pos = runlog.find("run ", pos)) != std::string::npos) {
        pos += 4;
        size_t end = runlog.find('\n', pos);
        if (end == std::string::npos) break;  // line still being written
        pids.push_back(static_cast<DWORD>(std::stoul(runlog.substr(pos, end - pos))));
        pos = end;
    }
    return pids;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        WriteOut(L"usage: soak.exe WORKDIR FAKECFD.EXE CYCLES [exit|kill]\n");
        return 2;
    }
    const std::wstring dir = argv[1];
    const std::wstring fakecfd = argv[2];
    const unsigned cycles = static_cast<unsigned>(_wtoi(argv[3]));
    const bool kill = argc >= 5 && std::wstring(argv[4]) == L"kill";
    const unsigned warmup = 10;

    mw::CreateDirectories(dir);
    const std::wstring runlog = mw::JoinPath(dir, L"runs.txt");
    const std::wstring ini = mw::JoinPath(dir, L"mosswarden.ini");
    mw::DeleteFileIfExists(runlog);
    if (!PlaceConnector(fakecfd, mw::JoinPath(dir, L"cloudflared.exe"))) {
        WriteOut(L"cannot place the stand-in from " + fakecfd + L"\n");
        return 2;
    }
    std::string script = "runlog=" + mw::WideToUtf8(runlog) +
                         "\nprint=2023-10-31T00:00:00Z INF Registered tunnel connection connIndex=0 location=hkg01\n";
    if (!kill) script += "sleep=400\nexit=3\n";
    mw::WriteWholeFile(mw::JoinPath(dir, L"fakecfd.txt"), script);
    // The reused connector must match its checksum.
    std::wstring sha;
    mw::Sha256FileHex(mw::JoinPath(dir, L"cloudflared.exe"), &sha);
    std::string iniText = std::string("[cloudflared]\r\nreuse=1\r\narch=") + mw::WideToUtf8(mw::BuildMachineWord()) +
                          "\r\nsha256=" + mw::WideToUtf8(sha) + "\r\n[tunnel]\r\ntoken=eyJhIjoic29hay10b2tlbi0xMjM0NTY3ODkwIn0\r\n"
                          "[supervisor]\r\nrestart_delay=1\r\nmax_restart_delay=4\r\n";
    mw::WriteWholeFile(ini, iniText);
    std::wstring error;
    if (!mw::PrepareConfig(ini, &error)) {
        WriteOut(L"config: " + error + L"\n");
        return 2;
    }

    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    mw::StopEvent = stop;
    WriteOut(std::wstring(L"soak: ") + (kill ? L"kill" : L"exit") + L" mode, " + std::to_wstring(cycles) +
             L" cycles after " + std::to_wstring(warmup) + L" warm-up cycles, arch " + mw::BuildMachineWord() + L"\n");
    Snapshot initial = Take();
    Print(L"before start", 0, initial);

    ULONGLONG t0 = GetTickCount64();
    std::thread supervisor([] { mw::RunSupervisor(true); });

    Snapshot warm;
    Snapshot last;
    size_t seen = 0;
    const unsigned target = warmup + cycles;
    ULONGLONG lastProgress = t0;
    for (;;) {
        std::vector<DWORD> pids = RunPids(ReadSmallFile(runlog));
        if (pids.size() > seen) {
            seen = pids.size();
            if (kill) {
                HANDLE child = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pids.back());
                if (child != nullptr) {
                    Sleep(300);
                    TerminateProcess(child, 1);
                    WaitForSingleObject(child, 5000);
                    CloseHandle(child);
                }
            }
            if (seen == warmup) {
                warm = Take();
                Print(L"after warm-up", static_cast<unsigned>(seen), warm);
            }
            if (seen > warmup && seen < target && seen % 100 == 0) {
                // Checkpoints keep figures when a run is cut short (a wineserver that goes away ends it).
                Snapshot now = Take();
                Print(L"checkpoint", static_cast<unsigned>(seen), now);
                PrintGrowth(L"growth warm-up -> checkpoint", warm, now);
            }
            if (seen >= target) {
                last = Take();
                Print(L"after", static_cast<unsigned>(seen), last);
                break;
            }
        }
        ULONGLONG now = GetTickCount64();
        if (now - lastProgress >= 60000) {
            lastProgress = now;
            WriteOut(L"progress: " + std::to_wstring(seen) + L" cycles in " + std::to_wstring((now - t0) / 1000) +
                     L" s\n");
        }
        if (now - t0 > 3ull * 3600 * 1000) {
            WriteOut(L"gave up after three hours at cycle " + std::to_wstring(seen) + L"\n");
            last = Take();
            break;
        }
        Sleep(50);
    }
    ULONGLONG elapsed = GetTickCount64() - t0;
    SetEvent(stop);
    supervisor.join();
    mw::StopEvent = nullptr;
    CloseHandle(stop);
    Snapshot stopped = Take();
    Print(L"after stop", static_cast<unsigned>(seen), stopped);

    WriteOut(L"cycles: " + std::to_wstring(seen) + L" in " + std::to_wstring(elapsed / 1000) + L" s (" +
             std::to_wstring(seen ? elapsed / seen : 0) + L" ms per cycle)\n");
    PrintGrowth(L"growth warm-up -> after", warm, last);
    PrintGrowth(L"growth before start -> after stop", initial, stopped);
    return 0;
}
