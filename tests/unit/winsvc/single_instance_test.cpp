// Names of the supervisor's mutex and the message of a second start.
#include <gtest/gtest.h>

#include "winsvc/single_instance.h"

namespace mw {

TEST(SupervisorLockNameTest, OneNamePerFileWhateverItsSpelling) {
    const std::wstring base = SupervisorLockName(L"C:\\mosswarden\\mosswarden.ini", false);
    ASSERT_EQ(base.size(), std::wstring(L"Local\\mosswarden-").size() + 16);
    EXPECT_EQ(base.rfind(L"Local\\mosswarden-", 0), 0u);
    EXPECT_EQ(base.find(L'\\', 6), std::wstring::npos);
    const struct {
        const wchar_t* path;
        bool global;
        bool same;
    } cases[] = {
        {L"c:\\MOSSWARDEN\\Mosswarden.INI", false, true},
        {L"C:/mosswarden/mosswarden.ini", false, true},
        {L"C:\\mosswarden\\mosswarden.ini", true, false},
        {L"C:\\mosswarden\\other.ini", false, false},
        {L"D:\\mosswarden\\mosswarden.ini", false, false},
    };
    for (const auto& c : cases) EXPECT_EQ(SupervisorLockName(c.path, c.global) == base, c.same) << c.path;
    const std::wstring global = SupervisorLockName(L"C:\\mosswarden\\mosswarden.ini", true);
    EXPECT_EQ(global, L"Global\\" + base.substr(6));
}

TEST(AlreadySupervisingTextTest, NamesTheIniAndTheHolder) {
    EXPECT_EQ(AlreadySupervisingText(L"D:\\conf\\site.ini", 4321), L"已有 mosswarden 在守护 D:\\conf\\site.ini（PID 4321）");
}

}  // namespace mw
