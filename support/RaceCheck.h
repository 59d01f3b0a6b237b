// Hand-overs between threads that the race checker cannot see. Qt's event
// queue, GStreamer's element and pad locks and GLib's thread pools are built
// without it: a value one thread writes and then hands to another through
// them looks unsynchronised. Published(p) after the writes and Received(p)
// before the reads name the hand-over: what the first thread wrote before
// Published(p) is seen as written before what the second does after
// Received(p). Both do nothing in builds without ThreadSanitizer.
#pragma once

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace racecheck {

inline void Published(const void* handle) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(const_cast<void*>(handle));
#else
    (void)handle;
#endif
}

inline void Received(const void* handle) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(const_cast<void*>(handle));
#else
    (void)handle;
#endif
}

}  // namespace racecheck
