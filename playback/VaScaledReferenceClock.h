#pragma once
// CVaScaledReferenceClock: a reference clock that runs at a fixed percentage
// of the system clock. Renderers present a sample when the graph clock
// reaches its stream time, so a graph running on this clock plays at that
// percentage of normal speed. Used for rates the graph's seeking refuses.
//
// The clock is owned by the graph wrapper and is not reference counted:
// AddRef and Release do nothing. A rate change rebases the clock: its time
// stays continuous at the change and runs on at the new percentage, so a
// clock's time never falls when the rate is lowered.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/com/ComPtr.h"
#include "platform/dshow/DShow.h"

class CVaScaledReferenceClock : public IReferenceClock {
public:
    // Creates the inner system clock (a failure throws CComException) and
    // sets the rate.
    explicit CVaScaledReferenceClock(double rate);
    // Wraps the given clock instead of a new system clock.
    CVaScaledReferenceClock(double rate, IReferenceClock* inner);
    virtual ~CVaScaledReferenceClock();
    CVaScaledReferenceClock(const CVaScaledReferenceClock&) = delete;
    CVaScaledReferenceClock& operator=(const CVaScaledReferenceClock&) = delete;

    // A positive rate becomes a percentage truncated towards zero (0.29 is
    // 28 %, because 0.29 * 100 is just below 29); a rate <= 0 is ignored.
    // Scaled time goes on from where it was at the change.
    void SetRate(double rate);
    double GetRate() const { return m_percent.load() / 100.0; }
    int32_t GetRatePercent() const { return m_percent.load(); }

    // Drops the inner clock; afterwards every clock method fails with E_POINTER.
    void ReleaseInnerClock();
    IReferenceClock* GetInnerClock() const { return m_inner.Get(); }

    // IUnknown: answers IUnknown and IReferenceClock without counting.
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }

    // IReferenceClock
    HRESULT GetTime(REFERENCE_TIME* pTime) override;
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                       DWORD_PTR* pdwAdviseCookie) override;
    HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                           HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) override;
    HRESULT Unadvise(DWORD_PTR dwAdviseCookie) override;

    // The conversions between the inner (real) time base and the scaled one.
    static REFERENCE_TIME Scale(REFERENCE_TIME t, int32_t percent);
    static REFERENCE_TIME Unscale(REFERENCE_TIME t, int32_t percent);

private:
    // The time base: scaled time = m_baseScaled + scale(inner - m_baseInner).
    struct CBase {
        REFERENCE_TIME inner = 0;
        REFERENCE_TIME scaled = 0;
        int32_t percent = 100;
    };
    CBase Base() const;
    REFERENCE_TIME ToScaled(REFERENCE_TIME inner, const CBase& base) const;
    REFERENCE_TIME ToInner(REFERENCE_TIME scaled, const CBase& base) const;

    CComPtr<IReferenceClock> m_inner;
    // Streaming and clock threads read the base while the rate may change.
    mutable std::mutex m_baseLock;
    CBase m_base;
    bool m_rated = false;
    std::atomic<int32_t> m_percent{100};
};
