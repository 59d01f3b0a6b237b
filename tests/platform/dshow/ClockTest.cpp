#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/dshow/ClockAdapter.h"
#include "platform/dshow/DShow.h"
#include "platform/dshow/GraphNotifyEvent.h"
#include "platform/dshow/GstSupport.h"
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

// --- the GstClock over an IReferenceClock ---

namespace adapter {

// A source clock with a set time that records its alarms.
class CManualClock : public CUnknownImpl<CManualClock, IReferenceClock> {
public:
    HRESULT GetTime(REFERENCE_TIME* t) override {
        Touch();
        *t = now;
        return S_OK;
    }
    HRESULT AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR* cookie) override {
        Touch();
        *cookie = 1;
        advised.Set();
        return S_OK;
    }
    HRESULT AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override {
        return E_NOTIMPL;
    }
    HRESULT Unadvise(DWORD_PTR) override {
        Touch();
        unadvised.Set();
        return S_OK;
    }
    void Touch() {
        if (detached)
            ++callsAfterDetach;
    }
    std::atomic<REFERENCE_TIME> now{0};
    std::atomic<bool> detached{false};
    std::atomic<int> callsAfterDetach{0};
    CEvent advised{true};
    CEvent unadvised{true};
};

int ThreadCount() {
    int n = 0;
    if (GDir* dir = g_dir_open("/proc/self/task", 0, nullptr)) {
        while (g_dir_read_name(dir))
            ++n;
        g_dir_close(dir);
    }
    return n;
}

gboolean Ignore(GstClock*, GstClockTime, GstClockID, gpointer) {
    return TRUE;
}

TEST(ClockAdapter, TimeRunsOnWhenTheSourceFallsBack) {
    vagst::EnsureInit();
    CComPtr<CManualClock> source(new CManualClock());
    source->now = 1000;
    GstClock* clock = vagst::CreateClockAdapter(source);
    struct {
        REFERENCE_TIME source;
        GstClockTime adapter;
    } steps[] = {{1000, 100'000}, {1500, 150'000}, {500, 150'000}, {600, 160'000}, {2000, 300'000}};
    for (const auto& step : steps) {
        source->now = step.source;
        EXPECT_EQ(gst_clock_get_internal_time(clock), step.adapter) << step.source;
    }
    vagst::DetachClockAdapter(clock);
    gst_object_unref(clock);
}

// Asynchronous waits share one timer thread, which goes with the adapter;
// once detached, the source is never called again (its owner may delete it).
TEST(ClockAdapter, AsyncWaitsShareOneThreadAndLeaveTheSourceAloneAfterDetach) {
    vagst::EnsureInit();
    CComPtr<CManualClock> source(new CManualClock());
    GstClock* clock = vagst::CreateClockAdapter(source);
    // The race checker starts a helper thread of its own with the first
    // thread a program starts: start one first so only the adapter's counts.
    std::thread([] {}).join();
    int before = ThreadCount();
    std::vector<GstClockID> ids;
    for (int i = 0; i < 20; ++i) {
        ids.push_back(gst_clock_new_single_shot_id(clock, GST_SECOND * 3600 + i));
        ASSERT_EQ(gst_clock_id_wait_async(ids.back(), Ignore, nullptr, nullptr), GST_CLOCK_OK);
    }
    ASSERT_TRUE(source->advised.Wait(10000));
    EXPECT_LE(ThreadCount(), before + 1);

    vagst::DetachClockAdapter(clock);
    source->detached = true;
    for (GstClockID id : ids) {
        gst_clock_id_unschedule(id);
        gst_clock_id_unref(id);
    }
    gst_object_unref(clock);
    EXPECT_TRUE(source->unadvised.Wait(10000));
    EXPECT_EQ(source->callsAfterDetach.load(), 0);
    EXPECT_LE(ThreadCount(), before);
}

}  // namespace adapter
