// Connector stand-in for tests: behaves like cloudflared as far as mosswarden can see.
//
// "--version" prints a version line. "tunnel ..." runs a script of steps, one per line, read from
// "<own path>.script" when that exists (one file may behave unlike a copy beside it), else from the
// file named by FAKECFD_SCRIPT, else from fakecfd.txt beside the executable:
//   print=TEXT      TEXT and LF on stderr (bytes as they stand in the script, UTF-8)
//   stdout=TEXT     TEXT and LF on stdout
//   raw=TEXT        TEXT without a line end
//   flood=N         N bytes of 'x' without a line end
//   sleep=MS        wait
//   token=PATH      write the value of TUNNEL_TOKEN (or "<unset>") to PATH
//   args=PATH       write the full command line to PATH (UTF-8)
//   runlog=PATH     append "run <pid>" to PATH
//   stamp=PATH      append "<pid> <system time in 100 ns units>" to PATH, for latency benchmarks
//   grandchild=MS   start a copy that inherits the output handles and lives MS milliseconds
//   grandpid=PATH   write the process id of the last grandchild started to PATH
//   holdfile=PATH   append a comment line to PATH through a handle kept open without sharing
//   exit=CODE       exit now with CODE
//   ready=N         from now on /ready answers 200 with N connections (0: 503 with 0)
// With TUNNEL_METRICS=host:port in the environment it prints "INF Starting metrics server on
// host:port/metrics" and serves GET /ready there as the connector does:
// {"status":503,"readyConnections":0,"connectorId":"…"} until ready=N, then 200 with the count.
// When the script ends without exit the process waits until it is killed, as a connector does.
// A script line "version=TEXT" replaces the version line ("version=" prints none) and
// "versionexit=CODE" (decimal or 0x hex) the exit code of "--version".
//
// Like the real connector, "tunnel ... run" rejects a flag after "run" that only "tunnel" defines:
// it prints "Incorrect Usage: flag provided but not defined: -NAME" and the help text, in which the
// --token flag shows its default taken from TUNNEL_TOKEN, and exits 0 without running the script.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

void WriteBytes(HANDLE h, const std::string& bytes) {
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(const std::string& bytes) {
    if (bytes.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], n);
    return out;
}

std::wstring ExeDir() {
    wchar_t path[4096] = {};
    GetModuleFileNameW(nullptr, path, 4096);
    std::wstring p(path);
    size_t cut = p.find_last_of(L"\\/");
    return cut == std::wstring::npos ? L"." : p.substr(0, cut);
}

std::string ReadFileBytes(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    std::string data;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0) data.append(buffer, got);
    CloseHandle(h);
    return data;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes, bool append) {
    HANDLE h = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    WriteBytes(h, bytes);
    CloseHandle(h);
}

std::vector<std::pair<std::string, std::string>> LoadScript() {
    wchar_t named[4096] = {};
    wchar_t self[4096] = {};
    GetModuleFileNameW(nullptr, self, 4096);
    std::wstring own = std::wstring(self) + L".script";
    std::wstring path;
    if (GetFileAttributesW(own.c_str()) != INVALID_FILE_ATTRIBUTES) {
        path = own;
    } else if (GetEnvironmentVariableW(L"FAKECFD_SCRIPT", named, 4096) > 0) {
        path = named;
    } else {
        path = ExeDir() + L"\\fakecfd.txt";
    }
    std::string text = ReadFileBytes(path);
    if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    std::vector<std::pair<std::string, std::string>> steps;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pos = end + 1;
        size_t eq = line.find('=');
        if (line.empty() || line[0] == '#') continue;
        if (eq == std::string::npos) {
            steps.emplace_back(line, std::string());
        } else {
            steps.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        }
    }
    return steps;
}

DWORD ParseCode(const std::string& text) {
    return static_cast<DWORD>(strtoul(text.c_str(), nullptr, 0));
}

// The flags "tunnel run" itself defines; all others belong to "tunnel" or the application.
bool IsRunFlag(const std::wstring& name) {
    static const wchar_t* const kRunFlags[] = {L"protocol", L"token", L"token-file", L"credentials-file",
                                               L"credentials-contents", L"url", L"hello-world"};
    for (const wchar_t* flag : kRunFlags) {
        if (name == flag) return true;
    }
    return false;
}

// The first flag after "run" that "run" does not define, or "".
std::wstring MisplacedFlag(int argc, wchar_t** argv) {
    int run = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::wstring(argv[i]) == L"run") {
            run = i;
            break;
        }
    }
    if (run == 0) return std::wstring();
    for (int i = run + 1; i < argc; ++i) {
        std::wstring arg(argv[i]);
        if (arg.size() < 2 || arg[0] != L'-') continue;
        std::wstring name = arg.substr(arg.find_first_not_of(L'-'));
        name = name.substr(0, name.find(L'='));
        if (!IsRunFlag(name)) return name;
    }
    return std::wstring();
}

void PrintUsageError(HANDLE err, const std::wstring& flag) {
    wchar_t token[8192] = {};
    DWORD n = GetEnvironmentVariableW(L"TUNNEL_TOKEN", token, 8192);
    std::string shown = n > 0 && n < 8192 ? ToUtf8(token) : std::string();
    WriteBytes(err, "Incorrect Usage: flag provided but not defined: -" + ToUtf8(flag) + "\n\n");
    WriteBytes(err, "NAME:\n   cloudflared tunnel run - Proxy a local web server by running the given tunnel\n\n");
    WriteBytes(err, "USAGE:\n   cloudflared tunnel [tunnel command options] run [subcommand options] [TUNNEL]\n\n");
    WriteBytes(err, "OPTIONS:\n   --credentials-file value, --cred-file value  Filepath at which to read the tunnel "
                    "credentials [$TUNNEL_CRED_FILE]\n");
    WriteBytes(err, "   --token value  The Tunnel token. When provided along with credentials, this will take "
                    "precedence. (default: \"" + shown + "\") [$TUNNEL_TOKEN]\n");
    WriteBytes(err, "   --help, -h     show help (default: false)\n");
}

volatile LONG g_ready = 0;

DWORD WINAPI ServeMetrics(void* param) {
    SOCKET listener = reinterpret_cast<SOCKET>(param);
    for (;;) {
        SOCKET client = accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) return 0;
        char request[2048];
        int got = recv(client, request, sizeof(request) - 1, 0);
        request[got > 0 ? got : 0] = 0;
        LONG ready = InterlockedCompareExchange(&g_ready, 0, 0);
        const bool isReady = strncmp(request, "GET /ready", 10) == 0;
        std::string body, head;
        if (isReady) {
            int status = ready > 0 ? 200 : 503;
            body = "{\"status\":" + std::to_string(status) + ",\"readyConnections\":" + std::to_string(ready) +
                   ",\"connectorId\":\"6f1c2d7e-0000-4000-8000-fakecfd00001\"}";
            head = "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Service Unavailable");
        } else {
            body = "404 page not found\n";
            head = "HTTP/1.1 404 Not Found";
        }
        std::string reply = head + "\r\nContent-Type: application/json\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        send(client, reply.data(), static_cast<int>(reply.size()), 0);
        shutdown(client, SD_SEND);
        closesocket(client);
    }
}

// Listens on TUNNEL_METRICS ("host:port") when it is set, as the connector does.
void StartMetricsServer(HANDLE err) {
    wchar_t value[256] = {};
    if (GetEnvironmentVariableW(L"TUNNEL_METRICS", value, 256) == 0) return;
    std::string address = ToUtf8(value);
    size_t colon = address.rfind(':');
    if (colon == std::string::npos) return;
    std::string host = address.substr(0, colon);
    if (host.empty() || host == "localhost") host = "127.0.0.1";
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return;
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<u_short>(atoi(address.c_str() + colon + 1)));
    at.sin_addr.s_addr = inet_addr(host.c_str());
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) return;
    if (bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof(at)) != 0 || listen(listener, 8) != 0) {
        WriteBytes(err, "ERR failed to bind metrics listener on " + address + "\n");
        closesocket(listener);
        return;
    }
    WriteBytes(err, "INF Starting metrics server on " + address + "/metrics\n");
    HANDLE thread = CreateThread(nullptr, 0, ServeMetrics, reinterpret_cast<void*>(listener), 0, nullptr);
    if (thread != nullptr) CloseHandle(thread);
}

DWORD StartGrandchild(const std::string& ms) {
    wchar_t self[4096] = {};
    GetModuleFileNameW(nullptr, self, 4096);
    std::wstring cmd = L"\"" + std::wstring(self) + L"\" --grandchild " + FromUtf8(ms);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return 0;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return pi.dwProcessId;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (argc >= 3 && std::wstring(argv[1]) == L"--grandchild") {
        Sleep(static_cast<DWORD>(_wtoi(argv[2])));
        return 0;
    }
    std::vector<std::pair<std::string, std::string>> steps = LoadScript();
    if (argc >= 2 && std::wstring(argv[1]) == L"--version") {
        std::string version = "cloudflared version 2023.10.0 (built 2023-10-31-1141 UTC)";
        DWORD code = 0;
        for (const auto& step : steps) {
            if (step.first == "version") version = step.second;
            if (step.first == "versionexit") code = ParseCode(step.second);
        }
        if (!version.empty()) WriteBytes(out, version + "\n");
        return static_cast<int>(code);
    }
    std::wstring misplaced = MisplacedFlag(argc, argv);
    if (!misplaced.empty()) {
        PrintUsageError(err, misplaced);
        return 0;
    }
    StartMetricsServer(err);
    DWORD grandchild = 0;
    HANDLE held = INVALID_HANDLE_VALUE;  // closed by the process exit
    for (const auto& step : steps) {
        const std::string& key = step.first;
        const std::string& value = step.second;
        if (key == "print") {
            WriteBytes(err, value + "\n");
        } else if (key == "stdout") {
            WriteBytes(out, value + "\n");
        } else if (key == "raw") {
            WriteBytes(err, value);
        } else if (key == "flood") {
            WriteBytes(err, std::string(static_cast<size_t>(atoi(value.c_str())), 'x'));
        } else if (key == "sleep") {
            Sleep(static_cast<DWORD>(atoi(value.c_str())));
        } else if (key == "token") {
            wchar_t token[8192] = {};
            DWORD n = GetEnvironmentVariableW(L"TUNNEL_TOKEN", token, 8192);
            WriteFileBytes(FromUtf8(value), n > 0 ? ToUtf8(token) : std::string("<unset>"), false);
        } else if (key == "args") {
            WriteFileBytes(FromUtf8(value), ToUtf8(GetCommandLineW()), false);
        } else if (key == "runlog") {
            WriteFileBytes(FromUtf8(value), "run " + std::to_string(GetCurrentProcessId()) + "\n", true);
        } else if (key == "stamp") {
            FILETIME now = {};
            GetSystemTimeAsFileTime(&now);
            unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
            WriteFileBytes(FromUtf8(value), std::to_string(GetCurrentProcessId()) + " " + std::to_string(ticks) + "\n",
                           true);
        } else if (key == "grandchild") {
            grandchild = StartGrandchild(value);
        } else if (key == "grandpid") {
            WriteFileBytes(FromUtf8(value), std::to_string(grandchild), false);
        } else if (key == "holdfile") {
            held = CreateFileW(FromUtf8(value).c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (held != INVALID_HANDLE_VALUE) WriteBytes(held, "\r\n; held\r\n");
        } else if (key == "ready") {
            InterlockedExchange(&g_ready, atoi(value.c_str()));
        } else if (key == "exit") {
            return static_cast<int>(ParseCode(value));
        }
    }
    Sleep(INFINITE);
    return 0;
}
