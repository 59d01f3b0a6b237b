#include "platform/dshow/SystemClock.h"

#include <chrono>

#include "platform/sync/Sync.h"

CSystemClock::CSystemClock() = default;

CSystemClock::~CSystemClock() {
    {
        std::lock_guard guard(m_lock);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

REFERENCE_TIME CSystemClock::Now() {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                  std::chrono::steady_clock::now().time_since_epoch())
                  .count();
    return ns / 100;
}

HRESULT CSystemClock::GetTime(REFERENCE_TIME* pTime) {
    if (!pTime)
        return E_POINTER;
    REFERENCE_TIME now = Now();
    std::lock_guard guard(m_lock);
    // Never answer a smaller time than before.
    if (now <= m_lastTime) {
        *pTime = m_lastTime;
        return S_FALSE;
    }
    m_lastTime = now;
    *pTime = now;
    return S_OK;
}

HRESULT CSystemClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                                 DWORD_PTR* pdwAdviseCookie) {
    if (!pdwAdviseCookie)
        return E_POINTER;
    *pdwAdviseCookie = 0;
    if (!hEvent)
        return E_INVALIDARG;
    REFERENCE_TIME due = baseTime + streamTime;
    if (baseTime < 0 || streamTime < 0 || due < 0)
        return E_INVALIDARG;
    return Add(due, 0, hEvent, pdwAdviseCookie);
}

HRESULT CSystemClock::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                     HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) {
    if (!pdwAdviseCookie)
        return E_POINTER;
    *pdwAdviseCookie = 0;
    if (!hSemaphore || startTime < 0 || periodTime <= 0)
        return E_INVALIDARG;
    return Add(startTime, periodTime, hSemaphore, pdwAdviseCookie);
}

HRESULT CSystemClock::Add(REFERENCE_TIME due, REFERENCE_TIME period, CEvent* event,
                          DWORD_PTR* cookie) {
    {
        std::lock_guard guard(m_lock);
        if (m_quit)
            return E_UNEXPECTED;
        *cookie = m_nextCookie++;
        m_advices[*cookie] = CAdvice{due, period, event};
        if (!m_thread.joinable())
            m_thread = std::thread([this] { TimerThread(); });
    }
    m_wake.notify_all();
    return S_OK;
}

HRESULT CSystemClock::Unadvise(DWORD_PTR dwAdviseCookie) {
    std::lock_guard guard(m_lock);
    return m_advices.erase(dwAdviseCookie) ? S_OK : S_FALSE;
}

size_t CSystemClock::PendingAdvices() const {
    std::lock_guard guard(m_lock);
    return m_advices.size();
}

void CSystemClock::TimerThread() {
    std::unique_lock guard(m_lock);
    while (!m_quit) {
        REFERENCE_TIME now = Now();
        REFERENCE_TIME next = -1;
        for (auto it = m_advices.begin(); it != m_advices.end();) {
            CAdvice& advice = it->second;
            if (advice.due <= now) {
                advice.event->Set();
                if (advice.period > 0) {
                    // Missed periods are not repeated: the next one lies in the future.
                    advice.due += advice.period;
                    if (advice.due <= now)
                        advice.due += ((now - advice.due) / advice.period + 1) * advice.period;
                } else {
                    it = m_advices.erase(it);
                    continue;
                }
            }
            if (next < 0 || advice.due < next)
                next = advice.due;
            ++it;
        }
        if (next < 0) {
            m_wake.wait(guard);
        } else {
            m_wake.wait_for(guard, std::chrono::nanoseconds((next - now) * 100));
        }
    }
}
