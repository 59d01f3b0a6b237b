#include "playback/VaScaledReferenceClock.h"

#include <gtest/gtest.h>

#include "platform/sync/Sync.h"
#include "support/Exception.h"

namespace {

// An inner clock that answers a set time and records the alarms asked of it.
class CRecordingClock : public CUnknownImpl<CRecordingClock, IReferenceClock> {
public:
    HRESULT GetTime(REFERENCE_TIME* t) override {
        *t = m_now;
        return m_timeResult;
    }
    HRESULT AdviseTime(REFERENCE_TIME base, REFERENCE_TIME stream, HEVENT event,
                       DWORD_PTR* cookie) override {
        m_base = base;
        m_stream = stream;
        m_event = event;
        *cookie = 7;
        return S_OK;
    }
    HRESULT AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE sem,
                           DWORD_PTR* cookie) override {
        m_start = start;
        m_period = period;
        m_event = sem;
        *cookie = 8;
        return S_OK;
    }
    HRESULT Unadvise(DWORD_PTR cookie) override {
        m_unadvised = cookie;
        return S_OK;
    }
    REFERENCE_TIME m_now = 0;
    HRESULT m_timeResult = S_OK;
    REFERENCE_TIME m_base = -1, m_stream = -1, m_start = -1, m_period = -1;
    CEvent* m_event = nullptr;
    DWORD_PTR m_unadvised = 0;
};

struct ScaledClock : testing::Test {
    CComPtr<CRecordingClock> inner{new CRecordingClock()};
};

TEST_F(ScaledClock, HalfRateHalvesTimeAndDoublesAlarmTimes) {
    CVaScaledReferenceClock clock(0.5, inner);
    EXPECT_EQ(clock.GetRatePercent(), 50);
    inner->m_now = 10'000'000;
    REFERENCE_TIME t = 0;
    EXPECT_EQ(clock.GetTime(&t), S_OK);
    EXPECT_EQ(t, 5'000'000);

    CEvent event;
    DWORD_PTR cookie = 0;
    EXPECT_EQ(clock.AdviseTime(1'000'000, 4'000'000, &event, &cookie), S_OK);
    EXPECT_EQ(inner->m_base, 10'000'000);
    EXPECT_EQ(inner->m_stream, 0);
    EXPECT_EQ(inner->m_event, &event);
    EXPECT_EQ(cookie, 7u);
    EXPECT_EQ(clock.Unadvise(cookie), S_OK);
    EXPECT_EQ(inner->m_unadvised, 7u);
}

TEST_F(ScaledClock, DoubleRateHalvesPeriods) {
    CVaScaledReferenceClock clock(2.0, inner);
    CEvent event;
    DWORD_PTR cookie = 0;
    EXPECT_EQ(clock.AdvisePeriodic(1'000'000, 400'000, &event, &cookie), S_OK);
    EXPECT_EQ(inner->m_start, 500'000);
    EXPECT_EQ(inner->m_period, 200'000);
    inner->m_now = 3;
    REFERENCE_TIME t = 0;
    clock.GetTime(&t);
    EXPECT_EQ(t, 6);
}

TEST_F(ScaledClock, PercentIsTruncatedProductAndIgnoresNonPositiveRates) {
    CVaScaledReferenceClock clock(1.999, inner);
    EXPECT_EQ(clock.GetRatePercent(), 199);
    EXPECT_DOUBLE_EQ(clock.GetRate(), 1.99);
    clock.SetRate(0.29);  // 0.29 * 100 is just below 29
    EXPECT_EQ(clock.GetRatePercent(), 28);
    clock.SetRate(0.333);
    EXPECT_EQ(clock.GetRatePercent(), 33);
    clock.SetRate(-1);
    EXPECT_EQ(clock.GetRatePercent(), 33);
    clock.SetRate(0);
    EXPECT_EQ(clock.GetRatePercent(), 33);
    // Below 1 % the clock would stand still and its alarms never fire.
    clock.SetRate(0.004);
    EXPECT_EQ(clock.GetRatePercent(), 33);
}

// A new rate takes effect from the present: the scaled time stays
// continuous at the change, in both directions, and alarms follow it.
TEST_F(ScaledClock, RateChangesRebaseAtThePresentTime) {
    CVaScaledReferenceClock clock(2.0, inner);
    struct {
        double rate;
        REFERENCE_TIME innerAtChange, innerLater, scaledLater;
    } steps[] = {
        {0.5, 1'000, 1'200, 2'100},  // 2000 at the change, then half speed
        {4.0, 1'400, 1'500, 2'600},  // 2200 at the change, then four times
        {1.0, 2'000, 2'100, 4'700},
    };
    for (const auto& step : steps) {
        inner->m_now = step.innerAtChange;
        REFERENCE_TIME before = 0;
        clock.GetTime(&before);
        clock.SetRate(step.rate);
        REFERENCE_TIME after = 0;
        clock.GetTime(&after);
        EXPECT_EQ(after, before) << step.rate;
        inner->m_now = step.innerLater;
        clock.GetTime(&after);
        EXPECT_EQ(after, step.scaledLater) << step.rate;
        CEvent event;
        DWORD_PTR cookie = 0;
        clock.AdviseTime(step.scaledLater, 0, &event, &cookie);
        EXPECT_EQ(inner->m_base, step.innerLater) << step.rate;
    }
}

TEST_F(ScaledClock, GetTimePassesInnerResultAndScalesOnlySuccess) {
    CVaScaledReferenceClock clock(0.5, inner);
    inner->m_now = 100;
    inner->m_timeResult = S_FALSE;
    REFERENCE_TIME t = 0;
    EXPECT_EQ(clock.GetTime(&t), S_FALSE);
    EXPECT_EQ(t, 50);
    inner->m_timeResult = E_FAIL;
    t = 0;
    EXPECT_EQ(clock.GetTime(&t), E_FAIL);
    EXPECT_EQ(t, 100);
}

TEST_F(ScaledClock, IsNotCountedAndAnswersOnlyClockInterfaces) {
    CVaScaledReferenceClock clock(1.5, inner);
    EXPECT_EQ(clock.AddRef(), 1u);
    EXPECT_EQ(clock.Release(), 1u);
    void* out = nullptr;
    EXPECT_EQ(clock.QueryInterface(IReferenceClock::iid, &out), S_OK);
    EXPECT_EQ(out, static_cast<IReferenceClock*>(&clock));
    EXPECT_EQ(clock.QueryInterface(IUnknown::iid, &out), S_OK);
    out = &clock;
    EXPECT_EQ(clock.QueryInterface(IMediaFilter::iid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
}

TEST_F(ScaledClock, WithoutInnerClockEveryMethodFails) {
    CVaScaledReferenceClock clock(1.5, inner);
    ULONG before = inner->RefCount();
    clock.ReleaseInnerClock();
    EXPECT_EQ(inner->RefCount(), before - 1);
    REFERENCE_TIME t = 0;
    DWORD_PTR cookie = 0;
    EXPECT_EQ(clock.GetTime(&t), E_POINTER);
    EXPECT_EQ(clock.AdviseTime(0, 0, nullptr, &cookie), E_POINTER);
    EXPECT_EQ(clock.AdvisePeriodic(0, 1, nullptr, &cookie), E_POINTER);
    EXPECT_EQ(clock.Unadvise(1), E_POINTER);
}

TEST(ScaledClockSystem, WrapsANewSystemClockThatAdvancesAtItsRate) {
    CVaScaledReferenceClock clock(0.5);
    ASSERT_NE(clock.GetInnerClock(), nullptr);
    REFERENCE_TIME inner1 = 0, scaled = 0, inner2 = 0;
    clock.GetInnerClock()->GetTime(&inner1);
    clock.GetTime(&scaled);
    clock.GetInnerClock()->GetTime(&inner2);
    EXPECT_GE(scaled, inner1 / 2);
    EXPECT_LE(scaled, inner2 / 2 + 1);
    // An alarm in scaled time fires at the matching real time.
    CEvent fired;
    DWORD_PTR cookie = 0;
    REFERENCE_TIME now = 0;
    clock.GetTime(&now);
    ASSERT_EQ(clock.AdviseTime(now, 10'000, &fired, &cookie), S_OK);  // 1 ms scaled
    EXPECT_TRUE(fired.Wait(5000));
    REFERENCE_TIME innerAfter = 0;
    clock.GetInnerClock()->GetTime(&innerAfter);
    EXPECT_GE(innerAfter, inner2 + 20'000 - 1);  // 2 ms real
}

}  // namespace
