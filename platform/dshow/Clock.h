#pragma once
// Reference clocks: the time base a graph presents its samples against.
// Times are REFERENCE_TIME (100 ns). Alarms signal a CEvent: a one-shot
// advice sets it once, a periodic advice sets it every period.
#include <cstdint>

#include "platform/com/Unknown.h"
#include "platform/dshow/MediaType.h"

class CEvent;

using DWORD_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using LONGLONG = int64_t;
using HEVENT = CEvent*;
// A periodic advice sets this event once per period; an auto-reset event
// lets one waiter through per period.
using HSEMAPHORE = CEvent*;

struct IReferenceClock : IUnknown {
    VA_INTERFACE_ID("56A86897-0AD4-11CE-B03A-0020AF0BA770");
    // The clock's current time; S_FALSE when it equals the last answer.
    virtual HRESULT GetTime(REFERENCE_TIME* pTime) = 0;
    // Sets hEvent once when the clock reaches baseTime + streamTime.
    virtual HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                               DWORD_PTR* pdwAdviseCookie) = 0;
    // Sets hSemaphore at startTime and then every periodTime.
    virtual HRESULT AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                   HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) = 0;
    // Cancels an advice; S_FALSE when the cookie is unknown (already fired).
    virtual HRESULT Unadvise(DWORD_PTR dwAdviseCookie) = 0;
};

// The monotonic system clock (counts from an arbitrary start, never jumps).
inline constexpr CLSID CLSID_SystemClock = MakeGuid("E436EBB1-524F-11CE-9F53-0020AF0BA770");
