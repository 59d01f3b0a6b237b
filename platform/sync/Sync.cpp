#include "platform/sync/Sync.h"

#include <condition_variable>

namespace {
// All events share one lock and one condition: a Set wakes every waiter,
// and each waiter checks the events it waits for. Simple and correct for
// the handful of events a player has.
std::mutex& EventLock() {
    static std::mutex m;
    return m;
}
std::condition_variable& EventCondition() {
    static std::condition_variable cv;
    return cv;
}
}  // namespace

CEvent::CEvent(bool manualReset, bool initialState)
    : m_manualReset(manualReset), m_signalled(initialState) {}

CEvent::~CEvent() = default;

void CEvent::Set() {
    {
        std::lock_guard guard(EventLock());
        m_signalled = true;
    }
    EventCondition().notify_all();
}

void CEvent::Reset() {
    std::lock_guard guard(EventLock());
    m_signalled = false;
}

bool CEvent::IsSet() const {
    std::lock_guard guard(EventLock());
    return m_signalled;
}

bool CEvent::Wait(DWORD timeoutMs) {
    return WaitForSingleObject(*this, timeoutMs) == WAIT_OBJECT_0;
}

DWORD WaitForMultipleObjects(DWORD count, CEvent* const* events, bool waitAll, DWORD timeoutMs) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !events)
        return WAIT_FAILED;
    for (DWORD i = 0; i < count; ++i)
        if (!events[i])
            return WAIT_FAILED;

    auto ready = [&]() -> int {
        if (waitAll) {
            for (DWORD i = 0; i < count; ++i)
                if (!events[i]->m_signalled)
                    return -1;
            for (DWORD i = 0; i < count; ++i)
                if (!events[i]->m_manualReset)
                    events[i]->m_signalled = false;
            return 0;
        }
        for (DWORD i = 0; i < count; ++i) {
            if (events[i]->m_signalled) {
                if (!events[i]->m_manualReset)
                    events[i]->m_signalled = false;
                return static_cast<int>(i);
            }
        }
        return -1;
    };

    std::unique_lock lock(EventLock());
    int index = ready();
    if (index >= 0)
        return WAIT_OBJECT_0 + static_cast<DWORD>(index);
    if (timeoutMs == 0)
        return WAIT_TIMEOUT;
    if (timeoutMs == INFINITE) {
        EventCondition().wait(lock, [&] { return (index = ready()) >= 0; });
        return WAIT_OBJECT_0 + static_cast<DWORD>(index);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (EventCondition().wait_until(lock, deadline, [&] { return (index = ready()) >= 0; }))
        return WAIT_OBJECT_0 + static_cast<DWORD>(index);
    return WAIT_TIMEOUT;
}

bool CMutex::Lock(DWORD timeoutMs) {
    if (timeoutMs == INFINITE) {
        m_mutex.lock();
        return true;
    }
    // An uncontended lock is taken without a timed wait, which thread
    // checkers follow more reliably than a timed one.
    if (m_mutex.try_lock())
        return true;
    if (timeoutMs == 0)
        return false;
    return m_mutex.try_lock_for(std::chrono::milliseconds(timeoutMs));
}

void CMutex::Unlock() {
    m_mutex.unlock();
}
