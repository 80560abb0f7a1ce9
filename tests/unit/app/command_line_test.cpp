// The command line: command word folding and the "--ini" scan.
#include "app/command_line.h"

#include <gtest/gtest.h>

namespace mw {
namespace {

TEST(ParseCommandLine, Table) {
    const std::wstring def = L"C:\\app\\mosswarden.ini";
    struct Case {
        std::vector<std::wstring> args;
        std::wstring word;
        std::wstring ini;
    } cases[] = {
        {{}, L"install", def},
        {{L"INSTALL"}, L"install", def},
        {{L"--Status"}, L"--status", def},
        {{L"-H"}, L"-h", def},
        {{L"/?"}, L"/?", def},
        {{L"run", L"--ini", L"D:\\x.ini"}, L"run", L"D:\\x.ini"},
        {{L"run", L"--INI", L"D:\\x.ini"}, L"run", L"D:\\x.ini"},
        {{L"run", L"--ini"}, L"run", def},
        {{L"run", L"--ini", L"a.ini", L"--ini", L"b.ini"}, L"run", L"a.ini"},
        {{L"--ini", L"D:\\x.ini", L"run"}, L"--ini", L"D:\\x.ini"},
        {{L"ÄRUN"}, L"Ärun", def},
    };
    for (const Case& c : cases) {
        CommandLine line = ParseCommandLine(c.args, def);
        EXPECT_EQ(line.word, c.word);
        EXPECT_EQ(line.iniPath, c.ini) << c.word;
        EXPECT_EQ(line.args, c.args);
    }
}

TEST(ParseInstallOptions, Table) {
    struct Case {
        std::vector<std::wstring> args;
        bool ok;
        bool quiet;
        std::wstring tokenFile;
    } cases[] = {
        {{L"install"}, true, false, L""},
        {{L"install", L"--QUIET"}, true, true, L""},
        {{L"install", L"--token-file", L"t.txt", L"--quiet"}, true, true, L"t.txt"},
        // A path that looks like an option is still the INI path.
        {{L"install", L"--ini", L"--quiet", L"--Token-File", L"D:\\t"}, true, false, L"D:\\t"},
        {{L"install", L"--token-file"}, false, false, L""},
    };
    for (const Case& c : cases) {
        InstallOptions options;
        std::wstring error;
        EXPECT_EQ(ParseInstallOptions(c.args, &options, &error), c.ok);
        EXPECT_EQ(options.quiet, c.quiet);
        EXPECT_EQ(options.tokenFile, c.tokenFile);
        EXPECT_EQ(error, c.ok ? L"" : L"--token-file 后面要跟 token 文件的路径");
    }
}

TEST(UsageLines, ThirtyFiveLinesEndingWithDefaultPath) {
    std::vector<std::wstring> lines = UsageLines(L"C:\\app\\mosswarden.ini");
    ASSERT_EQ(lines.size(), 35u);
    EXPECT_EQ(lines[34], L"默认配置文件: C:\\app\\mosswarden.ini");
}

}  // namespace
}  // namespace mw
