#include "playback/VaScaledReferenceClock.h"

#include "platform/com/ClassTable.h"
#include "support/Exception.h"

CVaScaledReferenceClock::CVaScaledReferenceClock(double rate) {
    CheckHResult(m_inner.CreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER));
    SetRate(rate);
}

CVaScaledReferenceClock::CVaScaledReferenceClock(double rate, IReferenceClock* inner)
    : m_inner(inner) {
    if (!m_inner)
        ThrowHResult(E_POINTER);
    SetRate(rate);
}

CVaScaledReferenceClock::~CVaScaledReferenceClock() = default;

void CVaScaledReferenceClock::SetRate(double rate) {
    if (!(rate > 0))
        return;
    // Truncation applies to the floating-point product.
    double product = rate * 100.0;
    if (!(product >= 1.0 && product < 2147483647.0))
        return;
    auto percent = static_cast<int32_t>(product);
    // The first rate sets the plain mapping (scaled = inner * percent / 100);
    // later ones rebase at the inner clock's present time.
    REFERENCE_TIME now = 0;
    IReferenceClock* inner = m_inner.Get();
    bool rebase = m_rated && inner && SUCCEEDED(inner->GetTime(&now));
    {
        std::lock_guard guard(m_baseLock);
        if (rebase) {
            m_base.scaled = ToScaled(now, m_base);
            m_base.inner = now;
        }
        m_base.percent = percent;
    }
    m_percent.store(percent);
    m_rated = true;
}

CVaScaledReferenceClock::CBase CVaScaledReferenceClock::Base() const {
    std::lock_guard guard(m_baseLock);
    return m_base;
}

REFERENCE_TIME CVaScaledReferenceClock::ToScaled(REFERENCE_TIME inner, const CBase& base) const {
    REFERENCE_TIME delta = inner - base.inner;
    return delta >= 0 ? base.scaled + Scale(delta, base.percent)
                      : base.scaled - Scale(-delta, base.percent);
}

REFERENCE_TIME CVaScaledReferenceClock::ToInner(REFERENCE_TIME scaled, const CBase& base) const {
    REFERENCE_TIME delta = scaled - base.scaled;
    return delta >= 0 ? base.inner + Unscale(delta, base.percent)
                      : base.inner - Unscale(-delta, base.percent);
}

void CVaScaledReferenceClock::ReleaseInnerClock() {
    m_inner.Release();
}

HRESULT CVaScaledReferenceClock::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (riid == IUnknown::iid || riid == IReferenceClock::iid) {
        *ppv = static_cast<IReferenceClock*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

// Both conversions divide as unsigned 64-bit values: for the non-negative
// times of a running clock that is plain truncating division.
REFERENCE_TIME CVaScaledReferenceClock::Scale(REFERENCE_TIME t, int32_t percent) {
    uint64_t product =
        static_cast<uint64_t>(t) * static_cast<uint64_t>(static_cast<int64_t>(percent));
    return static_cast<REFERENCE_TIME>(product / 100u);
}

REFERENCE_TIME CVaScaledReferenceClock::Unscale(REFERENCE_TIME t, int32_t percent) {
    if (percent <= 0)
        return t;
    uint64_t product = static_cast<uint64_t>(t) * 100u;
    return static_cast<REFERENCE_TIME>(product / static_cast<uint64_t>(percent));
}

HRESULT CVaScaledReferenceClock::GetTime(REFERENCE_TIME* pTime) {
    IReferenceClock* inner = m_inner.Get();
    if (!inner)
        return E_POINTER;
    HRESULT hr = inner->GetTime(pTime);
    if (SUCCEEDED(hr) && pTime)
        *pTime = ToScaled(*pTime, Base());
    return hr;
}

HRESULT CVaScaledReferenceClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime,
                                            HEVENT hEvent, DWORD_PTR* pdwAdviseCookie) {
    IReferenceClock* inner = m_inner.Get();
    if (!inner)
        return E_POINTER;
    REFERENCE_TIME target = static_cast<REFERENCE_TIME>(static_cast<uint64_t>(baseTime) +
                                                        static_cast<uint64_t>(streamTime));
    return inner->AdviseTime(ToInner(target, Base()), 0, hEvent, pdwAdviseCookie);
}

HRESULT CVaScaledReferenceClock::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                                HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) {
    IReferenceClock* inner = m_inner.Get();
    if (!inner)
        return E_POINTER;
    CBase base = Base();
    return inner->AdvisePeriodic(ToInner(startTime, base), Unscale(periodTime, base.percent),
                                 hSemaphore, pdwAdviseCookie);
}

HRESULT CVaScaledReferenceClock::Unadvise(DWORD_PTR dwAdviseCookie) {
    IReferenceClock* inner = m_inner.Get();
    if (!inner)
        return E_POINTER;
    return inner->Unadvise(dwAdviseCookie);
}
