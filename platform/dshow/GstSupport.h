#pragma once
// Small helpers shared by the graph's GStreamer code: one-time library
// start-up, time units, owned references and the mapping of GStreamer
// errors to HRESULTs.
#include <gst/gst.h>

#include <string>
#include <utility>

#include "platform/dshow/Clock.h"

namespace vagst {

// Initialises GStreamer once per process (thread-safe).
void EnsureInit();

inline REFERENCE_TIME ToRefTime(GstClockTime t) {
    return GST_CLOCK_TIME_IS_VALID(t) ? static_cast<REFERENCE_TIME>(t / 100) : -1;
}
inline GstClockTime ToGstTime(REFERENCE_TIME t) {
    return t < 0 ? GST_CLOCK_TIME_NONE : static_cast<GstClockTime>(t) * 100;
}

// An owned reference to a GstObject (or anything unreffed with gst_object_unref).
template <class T>
class CGstRef {
public:
    CGstRef() = default;
    // Takes over a reference the caller owns.
    explicit CGstRef(T* p) : m_p(p) {}
    CGstRef(const CGstRef& o) : m_p(o.m_p) {
        if (m_p)
            gst_object_ref(m_p);
    }
    CGstRef(CGstRef&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    CGstRef& operator=(CGstRef o) noexcept {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~CGstRef() {
        if (m_p)
            gst_object_unref(m_p);
    }
    // Adds a reference to a borrowed pointer.
    static CGstRef Borrow(T* p) {
        if (p)
            gst_object_ref(p);
        return CGstRef(p);
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    T* release() { return std::exchange(m_p, nullptr); }

private:
    T* m_p = nullptr;
};

// The HRESULT for a GStreamer error. sourceReachedEnd tells whether the file
// ended while the stream was being read (a truncated file).
HRESULT HResultFromError(const GError* error, bool sourceReachedEnd);

// The element's factory name ("" when it has none).
std::string FactoryName(GstElement* element);
// The element's factory class string ("" when it has none).
std::string FactoryKlass(GstElement* element);

}  // namespace vagst
