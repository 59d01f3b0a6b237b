#pragma once
// Clocks across the two worlds: a GstClock that reads and waits on any
// IReferenceClock (so the pipeline runs on the clock the graph was given,
// a scaled clock included), and an IReferenceClock over a GstClock (the
// pipeline's own clock, when the graph chooses its default).
#include <gst/gst.h>

#include <map>
#include <mutex>

#include "platform/com/ComPtr.h"
#include "platform/dshow/Clock.h"

namespace vagst {

// A new GstClock (floating reference sunk: the caller owns one reference)
// whose time is clock's time and whose waits are clock's advices.
GstClock* CreateClockAdapter(IReferenceClock* clock);
// Cuts the adapter loose from its IReferenceClock (released): afterwards it
// answers its last time and its waits end at once. Called before the
// IReferenceClock may go away while pipeline threads can still hold the adapter.
void DetachClockAdapter(GstClock* adapter);
// The IReferenceClock an adapter reads (not counted), or null.
IReferenceClock* ClockAdapterSource(GstClock* clock);

}  // namespace vagst

// IReferenceClock over a GstClock.
class CGstReferenceClock : public CUnknownImpl<CGstReferenceClock, IReferenceClock> {
public:
    explicit CGstReferenceClock(GstClock* clock);
    ~CGstReferenceClock() override;

    HRESULT GetTime(REFERENCE_TIME* pTime) override;
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                       DWORD_PTR* pdwAdviseCookie) override;
    HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                           HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) override;
    HRESULT Unadvise(DWORD_PTR dwAdviseCookie) override;

    GstClock* Clock() const { return m_clock; }

private:
    HRESULT Schedule(GstClockID id, CEvent* event, DWORD_PTR* cookie);

    GstClock* m_clock;
    std::mutex m_lock;
    std::map<DWORD_PTR, GstClockID> m_ids;
    DWORD_PTR m_nextCookie = 1;
};
