// The supervisor's named mutex against Wine's object namespace; the holder runs on another thread,
// since a mutex lets its owning thread in again.
#include <gtest/gtest.h>

#include <thread>

#include "base/paths.h"
#include "base/win.h"
#include "winsvc/single_instance_win.h"

namespace mw {

namespace {

const wchar_t kIni[] = L"C:\\mw-lock-test\\mosswarden.ini";

// Takes the lock on its own thread and keeps it until the test lets go.
struct Holder {
    explicit Holder(bool global) {
        thread = std::thread([this, global] {
            SupervisorLock lock;
            result = AcquireSupervisorLock(kIni, global, &lock, nullptr);
            SetEvent(taken);
            WaitForSingleObject(done, 10000);
        });
        WaitForSingleObject(taken, 10000);
    }
    ~Holder() {
        SetEvent(done);
        thread.join();
        CloseHandle(taken);
        CloseHandle(done);
    }
    HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    LockResult result = LockResult::Failed;
    std::thread thread;
};

}  // namespace

TEST(SupervisorLockTest, SecondSupervisorOnOneIniIsHeldOffWithTheHoldersPid) {
    const struct {
        bool holderGlobal;
        bool found;
    } cases[] = {{false, false}, {true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.holderGlobal ? "service holds" : "console holds");
        {
            Holder holder(c.holderGlobal);
            ASSERT_EQ(holder.result, LockResult::Acquired);
            SupervisorLock lock;
            uint32_t pid = 0;
            // A console hosting stands down before a console or the service on the same INI.
            EXPECT_EQ(AcquireSupervisorLock(L"c:/MW-LOCK-TEST/mosswarden.ini", false, &lock, &pid), LockResult::Held);
            EXPECT_EQ(pid, GetCurrentProcessId());
            bool byService = !c.holderGlobal;
            pid = 0;
            EXPECT_TRUE(FindSupervisor(kIni, &pid, &byService));
            EXPECT_EQ(pid, GetCurrentProcessId());
            EXPECT_EQ(byService, c.holderGlobal);
            EXPECT_FALSE(FindSupervisor(L"C:\\mw-lock-test\\other.ini", &pid));
        }
        EXPECT_FALSE(FindSupervisor(kIni, nullptr));
        SupervisorLock again;
        EXPECT_EQ(AcquireSupervisorLock(kIni, false, &again, nullptr), LockResult::Acquired);
    }
}

}  // namespace mw
