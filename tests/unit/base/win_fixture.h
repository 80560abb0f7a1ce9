// A fresh temporary directory per test, removed afterwards, and small file helpers.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "base/paths.h"
#include "base/text.h"
#include "base/win.h"

namespace mw {

// The file's bytes, or empty when it cannot be read.
inline std::string ReadAll(const std::wstring& path) {
    std::string data;
    if (!ReadWholeFile(path, data)) data.clear();
    return data;
}

inline void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = dir + L"\\" + name;
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(h, &found));
        FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
}

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        static unsigned counter = 0;
        dir_ = FormatText(L"%smwtest-%u-%u-%u", temp, unsigned(GetCurrentProcessId()), unsigned(GetTickCount()),
                          ++counter);
        ASSERT_TRUE(CreateDirectories(dir_));
    }
    void TearDown() override { RemoveTree(dir_); }
    std::wstring Path(const std::wstring& name) const { return JoinPath(dir_, name); }
    std::wstring dir_;
};

}  // namespace mw
