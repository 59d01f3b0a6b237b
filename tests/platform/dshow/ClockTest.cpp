#include <gtest/gtest.h>

#include "platform/dshow/DShow.h"
#include "platform/dshow/GraphNotifyEvent.h"
#include "platform/dshow/MediaSample.h"
#include "platform/dshow/SystemClock.h"
#include "platform/sync/Sync.h"

namespace {

CComPtr<IReferenceClock> MakeSystemClock() {
    CComPtr<IReferenceClock> clock;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER,
                                     IReferenceClock::iid, clock.ReleaseAndGetVoidAddress()));
    return clock;
}

TEST(SystemClock, TimeNeverGoesBack) {
    auto clock = MakeSystemClock();
    ASSERT_TRUE(clock);
    REFERENCE_TIME last = 0;
    for (int i = 0; i < 1000; ++i) {
        REFERENCE_TIME t = -1;
        HRESULT hr = clock->GetTime(&t);
        ASSERT_TRUE(hr == S_OK || hr == S_FALSE);
        ASSERT_GE(t, last);
        last = t;
    }
    EXPECT_EQ(E_POINTER, clock->GetTime(nullptr));
}

TEST(SystemClock, OneShotAdviceFiresAfterItsTime) {
    auto clock = MakeSystemClock();
    CEvent event(true);
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    DWORD_PTR cookie = 0;
    ASSERT_EQ(S_OK, clock->AdviseTime(now, 200000, &event, &cookie));  // 20 ms
    EXPECT_NE(0u, cookie);
    ASSERT_TRUE(event.Wait(5000));
    REFERENCE_TIME fired = 0;
    clock->GetTime(&fired);
    EXPECT_GE(fired, now + 200000);
    // A fired one-shot advice is gone.
    EXPECT_EQ(S_FALSE, clock->Unadvise(cookie));
}

TEST(SystemClock, PeriodicAdviceRepeatsUntilUnadvised) {
    auto clock = MakeSystemClock();
    CEvent tick(false);
    REFERENCE_TIME now = 0;
    clock->GetTime(&now);
    DWORD_PTR cookie = 0;
    ASSERT_EQ(S_OK, clock->AdvisePeriodic(now, 50000, &tick, &cookie));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(tick.Wait(5000));
    EXPECT_EQ(S_OK, clock->Unadvise(cookie));
    EXPECT_EQ(S_FALSE, clock->Unadvise(cookie));
}

TEST(SystemClock, RefusesBadAdvices) {
    auto clock = MakeSystemClock();
    CEvent event;
    DWORD_PTR cookie = 7;
    EXPECT_EQ(E_POINTER, clock->AdviseTime(0, 0, &event, nullptr));
    EXPECT_EQ(E_INVALIDARG, clock->AdviseTime(0, 0, nullptr, &cookie));
    EXPECT_EQ(0u, cookie);
    EXPECT_EQ(E_INVALIDARG, clock->AdvisePeriodic(0, 0, &event, &cookie));
    EXPECT_EQ(E_INVALIDARG, clock->AdvisePeriodic(0, 100, nullptr, &cookie));
}

TEST(SystemClock, DestroyedWithPendingAdvices) {
    CEvent event;
    DWORD_PTR cookie = 0;
    {
        auto clock = MakeSystemClock();
        ASSERT_EQ(S_OK, clock->AdviseTime(CSystemClock::Now(), 10'000'000'000LL, &event, &cookie));
    }
    EXPECT_FALSE(event.IsSet());
}

}  // namespace
