#include "platform/dshow/ClockAdapter.h"

#include <atomic>
#include <memory>
#include <thread>

#include "platform/sync/Sync.h"

namespace {

// One wait in progress on the adapter.
struct CWait {
    CEvent event{false};
    std::atomic<bool> unscheduled{false};
};

struct CAdapterState {
    std::mutex lock;
    IReferenceClock* source = nullptr;  // counted
    GstClockTime last = 0;
    std::map<GstClockEntry*, std::shared_ptr<CWait>> waits;
};

}  // namespace

G_BEGIN_DECLS
#define VA_TYPE_REF_CLOCK (va_ref_clock_get_type())
G_DECLARE_FINAL_TYPE(VaRefClock, va_ref_clock, VA, REF_CLOCK, GstClock)
struct _VaRefClock {
    GstClock parent;
    CAdapterState* state;
};
G_DEFINE_TYPE(VaRefClock, va_ref_clock, GST_TYPE_CLOCK)
G_END_DECLS

namespace {

// The source's time in ns (never going back); false once detached.
GstClockTime ReadTime(CAdapterState* s) {
    std::lock_guard guard(s->lock);
    if (s->source) {
        REFERENCE_TIME t = 0;
        if (SUCCEEDED(s->source->GetTime(&t)) && t >= 0) {
            GstClockTime ns = GstClockTime(t) * 100;
            if (ns > s->last)
                s->last = ns;
        }
    }
    return s->last;
}

GstClockTime AdapterInternalTime(GstClock* clock) {
    try {
        return ReadTime(VA_REF_CLOCK(clock)->state);
    } catch (...) {
        return 0;
    }
}

guint64 AdapterResolution(GstClock*) {
    return 100;
}

bool EntryUnscheduled(GstClockEntry* entry) {
    return __atomic_load_n(&entry->status, __ATOMIC_SEQ_CST) == GST_CLOCK_UNSCHEDULED;
}

// Waits until the source reaches target or the entry is unscheduled.
GstClockReturn WaitUntil(VaRefClock* self, GstClockEntry* entry, GstClockTime target,
                         GstClockTimeDiff* jitter) {
    CAdapterState* s = self->state;
    GstClockTime now = ReadTime(s);
    if (jitter)
        *jitter = GST_CLOCK_DIFF(target, now);
    if (now >= target)
        return GST_CLOCK_EARLY;

    auto wait = std::make_shared<CWait>();
    DWORD_PTR cookie = 0;
    CComPtr<IReferenceClock> source;
    {
        std::lock_guard guard(s->lock);
        s->waits[entry] = wait;
        source = s->source;
    }
    if (source) {
        REFERENCE_TIME due = REFERENCE_TIME((target + 99) / 100);
        if (FAILED(source->AdviseTime(due, 0, &wait->event, &cookie)))
            cookie = 0;
    }
    GstClockReturn result = GST_CLOCK_OK;
    for (;;) {
        if (wait->unscheduled || EntryUnscheduled(entry)) {
            result = GST_CLOCK_UNSCHEDULED;
            break;
        }
        now = ReadTime(s);
        if (now >= target)
            break;
        {
            std::lock_guard guard(s->lock);
            if (!s->source)
                break;  // detached: nothing will ever fire
        }
        // The advice normally wakes us; the bound guards against a clock
        // that never fires or a wait that was set up too late.
        wait->event.Wait(cookie ? 50 : 5);
    }
    if (cookie && source)
        source->Unadvise(cookie);
    {
        std::lock_guard guard(s->lock);
        auto it = s->waits.find(entry);
        if (it != s->waits.end() && it->second == wait)
            s->waits.erase(it);
    }
    if (jitter)
        *jitter = GST_CLOCK_DIFF(target, ReadTime(s));
    return result;
}

GstClockReturn AdapterWait(GstClock* clock, GstClockEntry* entry, GstClockTimeDiff* jitter) {
    try {
        return WaitUntil(VA_REF_CLOCK(clock), entry, GST_CLOCK_ENTRY_TIME(entry), jitter);
    } catch (...) {
        return GST_CLOCK_ERROR;
    }
}

GstClockReturn AdapterWaitAsync(GstClock* clock, GstClockEntry* entry) {
    try {
        gst_object_ref(clock);
        gst_clock_id_ref(entry);
        std::thread([clock, entry] {
            auto* self = VA_REF_CLOCK(clock);
            GstClockTime target = GST_CLOCK_ENTRY_TIME(entry);
            for (;;) {
                GstClockReturn r = WaitUntil(self, entry, target, nullptr);
                if (r == GST_CLOCK_UNSCHEDULED || EntryUnscheduled(entry))
                    break;
                if (entry->func)
                    entry->func(clock, target, entry, entry->user_data);
                if (entry->type != GST_CLOCK_ENTRY_PERIODIC || entry->interval == 0)
                    break;
                target += entry->interval;
                bool detached;
                {
                    std::lock_guard guard(self->state->lock);
                    detached = !self->state->source;
                }
                if (detached)
                    break;
            }
            gst_clock_id_unref(entry);
            gst_object_unref(clock);
        }).detach();
        return GST_CLOCK_OK;
    } catch (...) {
        return GST_CLOCK_ERROR;
    }
}

void AdapterUnschedule(GstClock* clock, GstClockEntry* entry) {
    try {
        CAdapterState* s = VA_REF_CLOCK(clock)->state;
        std::lock_guard guard(s->lock);
        auto it = s->waits.find(entry);
        if (it != s->waits.end()) {
            it->second->unscheduled = true;
            it->second->event.Set();
        }
    } catch (...) {
    }
}

void AdapterFinalize(GObject* object) {
    auto* self = VA_REF_CLOCK(object);
    if (self->state) {
        if (self->state->source)
            self->state->source->Release();
        delete self->state;
        self->state = nullptr;
    }
    G_OBJECT_CLASS(va_ref_clock_parent_class)->finalize(object);
}

}  // namespace

static void va_ref_clock_class_init(VaRefClockClass* klass) {
    GstClockClass* clockClass = GST_CLOCK_CLASS(klass);
    clockClass->get_internal_time = AdapterInternalTime;
    clockClass->get_resolution = AdapterResolution;
    clockClass->wait = AdapterWait;
    clockClass->wait_async = AdapterWaitAsync;
    clockClass->unschedule = AdapterUnschedule;
    G_OBJECT_CLASS(klass)->finalize = AdapterFinalize;
}

static void va_ref_clock_init(VaRefClock* self) {
    self->state = new CAdapterState();
    GST_OBJECT_FLAG_SET(
        self, GST_CLOCK_FLAG_CAN_DO_SINGLE_SYNC | GST_CLOCK_FLAG_CAN_DO_SINGLE_ASYNC |
                  GST_CLOCK_FLAG_CAN_DO_PERIODIC_SYNC | GST_CLOCK_FLAG_CAN_DO_PERIODIC_ASYNC);
}

namespace vagst {

GstClock* CreateClockAdapter(IReferenceClock* clock) {
    auto* adapter = static_cast<VaRefClock*>(g_object_new(VA_TYPE_REF_CLOCK, nullptr));
    gst_object_ref_sink(adapter);
    if (clock) {
        clock->AddRef();
        adapter->state->source = clock;
        ReadTime(adapter->state);
    }
    return GST_CLOCK(adapter);
}

void DetachClockAdapter(GstClock* clock) {
    if (!clock || !G_TYPE_CHECK_INSTANCE_TYPE(clock, VA_TYPE_REF_CLOCK))
        return;
    CAdapterState* s = VA_REF_CLOCK(clock)->state;
    IReferenceClock* source = nullptr;
    {
        std::lock_guard guard(s->lock);
        source = s->source;
        s->source = nullptr;
        for (auto& [entry, wait] : s->waits)
            wait->event.Set();
    }
    if (source)
        source->Release();
}

IReferenceClock* ClockAdapterSource(GstClock* clock) {
    if (!clock || !G_TYPE_CHECK_INSTANCE_TYPE(clock, VA_TYPE_REF_CLOCK))
        return nullptr;
    CAdapterState* s = VA_REF_CLOCK(clock)->state;
    std::lock_guard guard(s->lock);
    return s->source;
}

}  // namespace vagst

// --- IReferenceClock over a GstClock ---

CGstReferenceClock::CGstReferenceClock(GstClock* clock) : m_clock(clock) {
    gst_object_ref(m_clock);
}

CGstReferenceClock::~CGstReferenceClock() {
    std::lock_guard guard(m_lock);
    for (auto& [cookie, id] : m_ids) {
        gst_clock_id_unschedule(id);
        gst_clock_id_unref(id);
    }
    m_ids.clear();
    gst_object_unref(m_clock);
}

HRESULT CGstReferenceClock::GetTime(REFERENCE_TIME* pTime) {
    if (!pTime)
        return E_POINTER;
    *pTime = REFERENCE_TIME(gst_clock_get_time(m_clock) / 100);
    return S_OK;
}

namespace {
gboolean SetEventCallback(GstClock*, GstClockTime, GstClockID, gpointer data) {
    static_cast<CEvent*>(data)->Set();
    return TRUE;
}
}  // namespace

HRESULT CGstReferenceClock::Schedule(GstClockID id, CEvent* event, DWORD_PTR* cookie) {
    if (gst_clock_id_wait_async(id, SetEventCallback, event, nullptr) != GST_CLOCK_OK) {
        gst_clock_id_unref(id);
        return E_FAIL;
    }
    std::lock_guard guard(m_lock);
    *cookie = m_nextCookie++;
    m_ids[*cookie] = id;
    return S_OK;
}

HRESULT CGstReferenceClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime,
                                       HEVENT hEvent, DWORD_PTR* pdwAdviseCookie) {
    if (!pdwAdviseCookie)
        return E_POINTER;
    *pdwAdviseCookie = 0;
    if (!hEvent || baseTime < 0 || streamTime < 0)
        return E_INVALIDARG;
    GstClockID id =
        gst_clock_new_single_shot_id(m_clock, GstClockTime(baseTime + streamTime) * 100);
    return Schedule(id, hEvent, pdwAdviseCookie);
}

HRESULT CGstReferenceClock::AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                           HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) {
    if (!pdwAdviseCookie)
        return E_POINTER;
    *pdwAdviseCookie = 0;
    if (!hSemaphore || startTime < 0 || periodTime <= 0)
        return E_INVALIDARG;
    GstClockID id = gst_clock_new_periodic_id(m_clock, GstClockTime(startTime) * 100,
                                              GstClockTime(periodTime) * 100);
    return Schedule(id, hSemaphore, pdwAdviseCookie);
}

HRESULT CGstReferenceClock::Unadvise(DWORD_PTR dwAdviseCookie) {
    std::lock_guard guard(m_lock);
    auto it = m_ids.find(dwAdviseCookie);
    if (it == m_ids.end())
        return S_FALSE;
    gst_clock_id_unschedule(it->second);
    gst_clock_id_unref(it->second);
    m_ids.erase(it);
    return S_OK;
}
