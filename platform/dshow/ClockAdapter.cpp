#include "platform/dshow/ClockAdapter.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <thread>

#include "platform/sync/Sync.h"

// The adapter's state lives apart from the GObject and is shared with its
// timer thread, which may outlive the object by the few instructions it
// takes to leave when the last reference was dropped on that thread.
//
// The source clock is only called while a use is registered (m_users);
// detaching waits until every use has ended, so a source is never called
// after DetachClockAdapter returned, and its owner may delete it then.

namespace {

// One synchronous wait in progress on the adapter.
struct CWait {
    CEvent event{false};
    std::atomic<bool> unscheduled{false};
};

struct CAdapterState {
    std::mutex lock;
    std::condition_variable idle;       // users dropped to 0
    IReferenceClock* source = nullptr;  // counted
    int users = 0;                      // calls into the source in progress
    GstClockTime last = 0;              // the adapter's time last answered
    int64_t offset = 0;                 // adapter time = source time + offset (ns)
    std::map<GstClockEntry*, std::shared_ptr<CWait>> waits;
    // Asynchronous waits, each holding a reference to its entry, served by
    // one timer thread in time order.
    std::multimap<GstClockTime, GstClockEntry*> timers;
    CEvent wake{false};
    bool stopping = false;
    std::thread timer;
    GWeakRef clock;
};

using CStatePtr = std::shared_ptr<CAdapterState>;

}  // namespace

G_BEGIN_DECLS
#define VA_TYPE_REF_CLOCK (va_ref_clock_get_type())
G_DECLARE_FINAL_TYPE(VaRefClock, va_ref_clock, VA, REF_CLOCK, GstClock)
struct _VaRefClock {
    GstClock parent;
    CStatePtr* state;
};
G_DEFINE_TYPE(VaRefClock, va_ref_clock, GST_TYPE_CLOCK)
G_END_DECLS

namespace {

CAdapterState* StateOf(GstClock* clock) {
    return VA_REF_CLOCK(clock)->state->get();
}

// A registered use of the source: holds it against detaching.
class CSourceUse {
public:
    explicit CSourceUse(CAdapterState* s) : m_state(s) {
        std::lock_guard guard(s->lock);
        m_source = s->source;
        if (m_source)
            ++s->users;
    }
    ~CSourceUse() {
        if (!m_source)
            return;
        std::lock_guard guard(m_state->lock);
        if (--m_state->users == 0)
            m_state->idle.notify_all();
    }
    CSourceUse(const CSourceUse&) = delete;
    CSourceUse& operator=(const CSourceUse&) = delete;
    IReferenceClock* operator->() const { return m_source; }
    explicit operator bool() const { return m_source != nullptr; }

private:
    CAdapterState* m_state;
    IReferenceClock* m_source;
};

// The adapter's time in ns. It never goes back: when the source's time
// falls (a clock retuned or replaced under us), the adapter rebases and
// runs on from where it was instead of standing still until the source
// catches up.
GstClockTime ReadTime(CAdapterState* s) {
    std::lock_guard guard(s->lock);
    if (s->source) {
        REFERENCE_TIME t = 0;
        if (SUCCEEDED(s->source->GetTime(&t)) && t >= 0) {
            int64_t ns = int64_t(t) * 100 + s->offset;
            if (ns < int64_t(s->last)) {
                s->offset += int64_t(s->last) - ns;
                ns = int64_t(s->last);
            }
            s->last = GstClockTime(ns);
        }
    }
    return s->last;
}

// The source's time (100 ns) at which the adapter reaches target.
REFERENCE_TIME SourceTimeFor(CAdapterState* s, GstClockTime target) {
    std::lock_guard guard(s->lock);
    int64_t ns = int64_t(target) - s->offset;
    return ns <= 0 ? 0 : REFERENCE_TIME((ns + 99) / 100);
}

bool Detached(CAdapterState* s) {
    std::lock_guard guard(s->lock);
    return !s->source;
}

GstClockTime AdapterInternalTime(GstClock* clock) {
    try {
        return ReadTime(StateOf(clock));
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
GstClockReturn WaitUntil(CAdapterState* s, GstClockEntry* entry, GstClockTime target,
                         GstClockTimeDiff* jitter) {
    GstClockTime now = ReadTime(s);
    if (jitter)
        *jitter = GST_CLOCK_DIFF(target, now);
    if (now >= target)
        return GST_CLOCK_EARLY;

    auto wait = std::make_shared<CWait>();
    {
        std::lock_guard guard(s->lock);
        s->waits[entry] = wait;
    }
    GstClockReturn result = GST_CLOCK_OK;
    {
        CSourceUse source(s);
        DWORD_PTR cookie = 0;
        if (source &&
            FAILED(source->AdviseTime(SourceTimeFor(s, target), 0, &wait->event, &cookie)))
            cookie = 0;
        for (;;) {
            if (wait->unscheduled || EntryUnscheduled(entry)) {
                result = GST_CLOCK_UNSCHEDULED;
                break;
            }
            if (ReadTime(s) >= target || Detached(s))
                break;  // due, or detached: nothing will ever fire
            // The advice normally wakes us; the bound guards against a clock
            // that never fires or a wait that was set up too late.
            wait->event.Wait(cookie ? 50 : 5);
        }
        if (cookie)
            source->Unadvise(cookie);
    }
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
        return WaitUntil(StateOf(clock), entry, GST_CLOCK_ENTRY_TIME(entry), jitter);
    } catch (...) {
        return GST_CLOCK_ERROR;
    }
}

// The timer thread: fires the asynchronous waits in time order until the
// adapter goes.
void TimerLoop(CStatePtr state) {
    CAdapterState* s = state.get();
    CEvent alarm{false};
    for (;;) {
        GstClockEntry* entry = nullptr;
        GstClockTime target = 0;
        {
            std::lock_guard guard(s->lock);
            if (s->stopping)
                return;
            if (!s->timers.empty()) {
                target = s->timers.begin()->first;
                entry = s->timers.begin()->second;
            }
        }
        if (!entry) {
            s->wake.Wait(1000);
            continue;
        }
        if (ReadTime(s) < target && !Detached(s)) {
            CSourceUse source(s);
            DWORD_PTR cookie = 0;
            if (source && FAILED(source->AdviseTime(SourceTimeFor(s, target), 0, &alarm, &cookie)))
                cookie = 0;
            CEvent* events[2] = {&s->wake, &alarm};
            WaitForMultipleObjects(2, events, false, cookie ? 50 : 5);
            if (cookie)
                source->Unadvise(cookie);
            continue;  // look again: the queue may have changed
        }
        // Due (or detached: every wait ends at once). Take the entry out,
        // unless it was unscheduled meanwhile.
        {
            std::lock_guard guard(s->lock);
            auto it = std::find_if(s->timers.begin(), s->timers.end(),
                                   [&](const auto& t) { return t.second == entry; });
            if (it == s->timers.end())
                continue;
            s->timers.erase(it);
        }
        bool again = false;
        if (!EntryUnscheduled(entry)) {
            if (GstClock* clock = static_cast<GstClock*>(g_weak_ref_get(&s->clock))) {
                if (entry->func)
                    entry->func(clock, target, entry, entry->user_data);
                again = entry->type == GST_CLOCK_ENTRY_PERIODIC && entry->interval > 0 &&
                        !EntryUnscheduled(entry) && !Detached(s);
                gst_object_unref(clock);  // may finalize the adapter, on this thread
            }
        }
        std::lock_guard guard(s->lock);
        if (again && !s->stopping)
            s->timers.emplace(target + entry->interval, entry);
        else
            gst_clock_id_unref(entry);
    }
}

GstClockReturn AdapterWaitAsync(GstClock* clock, GstClockEntry* entry) {
    try {
        CStatePtr& state = *VA_REF_CLOCK(clock)->state;
        std::lock_guard guard(state->lock);
        if (state->stopping)
            return GST_CLOCK_ERROR;
        if (!state->timer.joinable())
            state->timer = std::thread(TimerLoop, state);
        state->timers.emplace(GST_CLOCK_ENTRY_TIME(entry),
                              GST_CLOCK_ENTRY(gst_clock_id_ref(entry)));
        state->wake.Set();
        return GST_CLOCK_OK;
    } catch (...) {
        return GST_CLOCK_ERROR;
    }
}

void AdapterUnschedule(GstClock* clock, GstClockEntry* entry) {
    try {
        CAdapterState* s = StateOf(clock);
        GstClockEntry* dropped = nullptr;
        {
            std::lock_guard guard(s->lock);
            auto it = s->waits.find(entry);
            if (it != s->waits.end()) {
                it->second->unscheduled = true;
                it->second->event.Set();
            }
            auto timer = std::find_if(s->timers.begin(), s->timers.end(),
                                      [&](const auto& t) { return t.second == entry; });
            if (timer != s->timers.end()) {
                dropped = timer->second;
                s->timers.erase(timer);
            }
            s->wake.Set();
        }
        if (dropped)
            gst_clock_id_unref(dropped);
    } catch (...) {
    }
}

// Cuts the source loose and waits until no call into it is in progress.
IReferenceClock* TakeSource(CAdapterState* s) {
    std::unique_lock guard(s->lock);
    IReferenceClock* source = s->source;
    s->source = nullptr;
    for (auto& [entry, wait] : s->waits)
        wait->event.Set();
    s->wake.Set();
    s->idle.wait(guard, [s] { return s->users == 0; });
    return source;
}

void AdapterFinalize(GObject* object) {
    auto* self = VA_REF_CLOCK(object);
    if (self->state) {
        CStatePtr state = *self->state;
        delete self->state;
        self->state = nullptr;
        CAdapterState* s = state.get();
        if (IReferenceClock* source = TakeSource(s))
            source->Release();
        std::vector<GstClockEntry*> left;
        {
            std::lock_guard guard(s->lock);
            s->stopping = true;
            s->wake.Set();
            for (auto& [time, entry] : s->timers)
                left.push_back(entry);
            s->timers.clear();
        }
        // The last reference may go on the timer thread itself, after a
        // callback: then the thread leaves by itself and keeps the state
        // alive until it did.
        if (s->timer.joinable()) {
            if (s->timer.get_id() == std::this_thread::get_id())
                s->timer.detach();
            else
                s->timer.join();
        }
        for (GstClockEntry* entry : left)
            gst_clock_id_unref(entry);
        g_weak_ref_clear(&s->clock);
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
    self->state = new CStatePtr(std::make_shared<CAdapterState>());
    g_weak_ref_init(&(*self->state)->clock, self);
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
        (*adapter->state)->source = clock;
        ReadTime(adapter->state->get());
    }
    return GST_CLOCK(adapter);
}

void DetachClockAdapter(GstClock* clock) {
    if (!clock || !G_TYPE_CHECK_INSTANCE_TYPE(clock, VA_TYPE_REF_CLOCK))
        return;
    if (IReferenceClock* source = TakeSource(StateOf(clock)))
        source->Release();
}

IReferenceClock* ClockAdapterSource(GstClock* clock) {
    if (!clock || !G_TYPE_CHECK_INSTANCE_TYPE(clock, VA_TYPE_REF_CLOCK))
        return nullptr;
    CAdapterState* s = StateOf(clock);
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
