#pragma once
// The system reference clock: monotonic time in 100 ns since an arbitrary
// start, with one-shot and periodic alarms that set CEvents. One timer
// thread per clock, started by the first advice and joined on destruction.
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "platform/dshow/Clock.h"

class CSystemClock : public CUnknownImpl<CSystemClock, IReferenceClock> {
public:
    CSystemClock();
    ~CSystemClock() override;

    HRESULT GetTime(REFERENCE_TIME* pTime) override;
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                       DWORD_PTR* pdwAdviseCookie) override;
    HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                           HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) override;
    HRESULT Unadvise(DWORD_PTR dwAdviseCookie) override;

    // The raw monotonic time in 100 ns (shared by every system clock).
    static REFERENCE_TIME Now();
    // Number of advices not yet fired or cancelled (for tests).
    size_t PendingAdvices() const;

private:
    struct CAdvice {
        REFERENCE_TIME due = 0;
        REFERENCE_TIME period = 0;  // 0: one-shot
        CEvent* event = nullptr;
    };
    HRESULT Add(REFERENCE_TIME due, REFERENCE_TIME period, CEvent* event, DWORD_PTR* cookie);
    void TimerThread();

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::map<DWORD_PTR, CAdvice> m_advices;
    DWORD_PTR m_nextCookie = 1;
    REFERENCE_TIME m_lastTime = 0;
    bool m_quit = false;
    std::thread m_thread;
};
