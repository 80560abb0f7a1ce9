// Service state names and the registered command line.
#include <gtest/gtest.h>

#include "winsvc/service_control.h"

namespace mw {

TEST(ServiceStateNameTest, NamesEveryStateAndNumbersTheRest) {
    const struct {
        uint32_t state;
        const wchar_t* name;
    } cases[] = {
        {1, L"STOPPED"},        {2, L"START_PENDING"}, {3, L"STOP_PENDING"}, {4, L"RUNNING"},
        {5, L"CONTINUE_PENDING"}, {6, L"PAUSE_PENDING"}, {7, L"PAUSED"},       {0, L"UNKNOWN(0)"},
        {9, L"UNKNOWN(9)"},     {4294967295u, L"UNKNOWN(4294967295)"},
    };
    for (const auto& c : cases) EXPECT_EQ(ServiceStateName(c.state), c.name) << c.state;
}

TEST(ServiceCommandLineTest, QuotesAPathWithSpaces) {
    EXPECT_EQ(ServiceCommandLine(L"C:\\Program Files\\moss warden\\mosswarden.exe"),
              L"\"C:\\Program Files\\moss warden\\mosswarden.exe\" --service");
}

}  // namespace mw
