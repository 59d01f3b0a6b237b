#pragma once
// Events, wait-any with a time-out, a mutex taken with a time-out, and a
// critical section: the synchronisation the playback engine and the file
// finder rely on. Time-outs are in milliseconds; INFINITE (-1) waits forever.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <type_traits>

#include "platform/com/HResult.h"

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// A Win32-style event. A manual-reset event stays set until Reset; an
// auto-reset event lets exactly one waiter through per Set.
class CEvent {
public:
    explicit CEvent(bool manualReset = false, bool initialState = false);
    ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();
    // True when the event was signalled within the time-out.
    bool Wait(DWORD timeoutMs = INFINITE);
    // The state without consuming it (for tests and diagnostics).
    bool IsSet() const;
    bool IsManualReset() const { return m_manualReset; }

private:
    friend DWORD WaitForMultipleObjects(DWORD, CEvent* const*, bool, DWORD);
    bool m_manualReset;
    bool m_signalled;
};

// Waits until one (waitAll false) or all of the events are set. Returns
// WAIT_OBJECT_0 + the index of the lowest signalled event, WAIT_TIMEOUT, or
// WAIT_FAILED for no events, too many events or a null event.
DWORD WaitForMultipleObjects(DWORD count, CEvent* const* events, bool waitAll, DWORD timeoutMs);
inline DWORD WaitForSingleObject(CEvent& event, DWORD timeoutMs) {
    CEvent* e = &event;
    return WaitForMultipleObjects(1, &e, false, timeoutMs);
}

// A recursive mutex that can be taken with a time-out, as a Win32 mutex.
class CMutex {
public:
    // True when the calling thread now owns the mutex.
    bool Lock(DWORD timeoutMs = INFINITE);
    bool TryLock() { return Lock(0); }
    void Unlock();

private:
    std::recursive_timed_mutex m_mutex;
};

// A recursive lock without time-out.
class CCriticalSection {
public:
    void Lock() { m_mutex.lock(); }
    bool TryLock() { return m_mutex.try_lock(); }
    void Unlock() { m_mutex.unlock(); }
    // For std::lock_guard and friends.
    void lock() { Lock(); }
    void unlock() { Unlock(); }
    bool try_lock() { return TryLock(); }

private:
    std::recursive_mutex m_mutex;
};

// Holds a CMutex or CCriticalSection for a scope.
template <class T>
class CSingleLock {
public:
    explicit CSingleLock(T& sync, bool lockNow = false) : m_sync(sync) {
        if (lockNow)
            Lock();
    }
    ~CSingleLock() { Unlock(); }
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;

    bool Lock(DWORD timeoutMs = INFINITE) {
        if (m_locked)
            return true;
        if constexpr (std::is_same_v<T, CMutex>) {
            m_locked = m_sync.Lock(timeoutMs);
        } else {
            m_sync.Lock();
            m_locked = true;
        }
        return m_locked;
    }
    void Unlock() {
        if (m_locked) {
            m_sync.Unlock();
            m_locked = false;
        }
    }
    bool IsLocked() const { return m_locked; }

private:
    T& m_sync;
    bool m_locked = false;
};
