// Test fixture for the download engine: the fault server's address, a private log, server-side request logs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/logger.h"
#include "base/text.h"
#include "base/win_fixture.h"
#include "net/http.h"

namespace mw {

inline std::wstring EnvValue(const wchar_t* name) {
    wchar_t buffer[64] = {};
    DWORD n = GetEnvironmentVariableW(name, buffer, 64);
    return n > 0 && n < 64 ? std::wstring(buffer, n) : std::wstring();
}

// Byte i of the server's generated files is i % 251.
inline std::string PatternBytes(uint64_t offset, size_t length) {
    std::string out(length, '\0');
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<char>((offset + i) % 251);
    return out;
}

inline bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

inline size_t CountOf(const std::wstring& text, const std::wstring& needle) {
    size_t count = 0;
    for (size_t pos = text.find(needle); pos != std::wstring::npos; pos = text.find(needle, pos + needle.size())) {
        ++count;
    }
    return count;
}

class NetTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        port_ = EnvValue(L"MW_FAULT_HTTP_PORT");
        proxyPort_ = EnvValue(L"MW_FAULT_PROXY_PORT");
        ASSERT_FALSE(port_.empty()) << "MW_FAULT_HTTP_PORT is not set: run tests/support/http_fault_server.py "
                                       "--port-file FILE and export its ports (scripts/test.sh does this)";
        static unsigned counter = 0;
        tag_ = FormatText(L"t%u-%u-%u", unsigned(GetCurrentProcessId()), unsigned(GetTickCount()), ++counter);
        Logger::Instance().Open(dir_, L"net", 16, false, L"net.log");
    }
    void TearDown() override {
        Logger::Instance().Close();
        TempDirTest::TearDown();
    }

    // A server URL for path with this test's tag added to the query.
    std::wstring Url(const std::wstring& path, const std::wstring& query = L"") const {
        std::wstring url = L"http://127.0.0.1:" + port_ + path + L"?tag=" + tag_;
        if (!query.empty()) url += L"&" + query;
        return url;
    }
    std::wstring ProxySetting() const { return L"http://127.0.0.1:" + proxyPort_; }

    std::string Fetch(const std::wstring& url) const {
        HttpRequest request;
        std::string body;
        if (!request.Open(url, L"", 30) || !request.Send(0, 0, false)) return body;
        char buffer[65536];
        uint32_t available = 0;
        while (request.QueryAvailable(&available) && available > 0) {
            uint32_t got = 0;
            if (!request.Read(buffer, available < sizeof(buffer) ? available : sizeof(buffer), &got) || got == 0) {
                break;
            }
            body.append(buffer, got);
        }
        return body;
    }
    // The Range headers (or "-") of this test's requests at the origin, in arrival order.
    std::vector<std::string> ServerRanges() const {
        std::string text = Fetch(L"http://127.0.0.1:" + port_ + L"/_log?tag=" + tag_);
        std::vector<std::string> ranges;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            ranges.push_back(line.substr(0, line.find('\t')));
            start = end + 1;
        }
        return ranges;
    }
    std::string ProxyLog() const { return Fetch(L"http://127.0.0.1:" + port_ + L"/_proxylog?tag=" + tag_); }
    std::wstring LogText() const { return Utf8ToWide(ReadAll(Path(L"net.log"))); }

    std::wstring port_;
    std::wstring proxyPort_;
    std::wstring tag_;
};

}  // namespace mw
