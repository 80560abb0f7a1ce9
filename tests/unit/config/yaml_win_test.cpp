// Writing config.yml: target choice, replacing an old file, and the failure text.
#include "config/yaml.h"

#include "base/win_fixture.h"

namespace mw {
namespace {

using YamlWin = TempDirTest;

TEST_F(YamlWin, WritesBesideTheIniCreatingItsDirectory) {
    Config config;
    config.ini_dir = Path(L"new");
    config.tunnel.config_file = L"";
    config.tunnel.tunnel_id = L"隧道";
    std::wstring written;
    ASSERT_TRUE(WriteConfigYml(config, &written));
    EXPECT_EQ(written, Path(L"new\\config.yml"));
    EXPECT_EQ(ReadAll(written), WideToUtf8(BuildConfigYml(config)));
    EXPECT_EQ(ReadAll(written)[0], '#');

    // An older, longer file is replaced, not overwritten in part.
    ASSERT_TRUE(WriteWholeFile(written, std::string(5000, 'x')));
    ASSERT_TRUE(WriteConfigYml(config));
    EXPECT_EQ(ReadAll(written), WideToUtf8(BuildConfigYml(config)));
}

TEST_F(YamlWin, MissingOtherDirectoryFails) {
    Config config;
    config.ini_dir = dir_;
    config.tunnel.config_file = Path(L"elsewhere\\c.yml");
    std::wstring written = L"before";
    std::wstring error;
    EXPECT_FALSE(WriteConfigYml(config, &written, &error));
    EXPECT_EQ(written, L"before");
    EXPECT_EQ(error, L"写入 config.yml 失败: " + Path(L"elsewhere\\c.yml"));
}

}  // namespace
}  // namespace mw
