// Path rules: directory of a path, absolute paths, joining, the growing module-name buffer.
#include "base/paths.h"

#include <gtest/gtest.h>

namespace mw {
namespace {

TEST(JoinPath, Table) {
    struct Case {
        const wchar_t* base;
        const wchar_t* path;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\app", L"logs", L"C:\\app\\logs"},   {L"C:\\app\\", L"logs", L"C:\\app\\logs"},
        {L"C:\\app/", L"logs", L"C:\\app/logs"},   {L"C:\\app", L"D:\\x", L"D:\\x"},
        {L"C:\\app", L"\\\\srv\\s", L"\\\\srv\\s"}, {L"C:\\app", L"\\x", L"C:\\app\\\\x"},
        {L"C:\\app", L"/x", L"C:\\app\\/x"},       {L"", L"logs", L"logs"},
        {L"C:\\app", L"", L"C:\\app"},             {L"C:\\app", L"..\\x", L"C:\\app\\..\\x"},
    };
    for (const Case& c : cases) EXPECT_EQ(JoinPath(c.base, c.path), c.expected) << c.base << L" + " << c.path;
}

TEST(IsAbsolutePath, Table) {
    EXPECT_TRUE(IsAbsolutePath(L"C:"));
    EXPECT_TRUE(IsAbsolutePath(L"c:\\x"));
    EXPECT_TRUE(IsAbsolutePath(L"\\\\srv"));
    EXPECT_FALSE(IsAbsolutePath(L"C"));
    EXPECT_FALSE(IsAbsolutePath(L"/x/y"));
    EXPECT_FALSE(IsAbsolutePath(L"\\x"));
    EXPECT_FALSE(IsAbsolutePath(L""));
}

TEST(DirectoryOf, Table) {
    EXPECT_EQ(DirectoryOf(L"mosswarden.ini"), L".");
    EXPECT_EQ(DirectoryOf(L"C:/a/b.ini"), L"C:/a");
    EXPECT_EQ(DirectoryOf(L"C:\\a\\b\\"), L"C:\\a\\b");
    EXPECT_EQ(DirectoryOf(L"C:\\a/b\\c.ini"), L"C:\\a/b");
}

// Behaves like GetModuleFileNameW for a name of the given length.
uint32_t FakeModuleName(size_t length, wchar_t* buffer, uint32_t capacity, std::vector<uint32_t>* seen) {
    seen->push_back(capacity);
    std::wstring name = L"C:\\" + std::wstring(length - 3, L'd');
    if (name.size() >= capacity) {
        std::copy(name.begin(), name.begin() + capacity - 1, buffer);
        buffer[capacity - 1] = L'\0';
        return capacity;
    }
    std::copy(name.begin(), name.end(), buffer);
    return static_cast<uint32_t>(name.size());
}

TEST(ReadGrowingName, ReturnsLongNamesWholeAndGivesUpPast16640) {
    std::vector<uint32_t> seen;
    auto query = [&](size_t length) {
        seen.clear();
        return ReadGrowingName(
            [&](wchar_t* b, uint32_t c) { return FakeModuleName(length, b, c, &seen); });
    };
    EXPECT_EQ(query(100).size(), 100u);
    EXPECT_EQ(seen, std::vector<uint32_t>{260});
    EXPECT_EQ(query(300).size(), 300u);
    EXPECT_EQ(query(259).size(), 259u);
    EXPECT_EQ(seen, (std::vector<uint32_t>{260, 520}));
    EXPECT_EQ(query(16000).size(), 16000u);
    EXPECT_EQ(query(20000), L"");
    EXPECT_EQ(seen, (std::vector<uint32_t>{260, 520, 1040, 2080, 4160, 8320, 16640}));
    EXPECT_EQ(ReadGrowingName([](wchar_t*, uint32_t) -> uint32_t { return 0; }), L"");
}

}  // namespace
}  // namespace mw
