#pragma once
// Decoded frames around the position, so that Step Back, the jog wheel's
// backward speeds and reverse play show frames from memory instead of
// decoding from the previous key frame for every frame.
//
// CFrameCache keeps frames by reference to the decoder's buffers (GstSample)
// in stretches: the frames one decoding run produced. A byte budget bounds
// the whole; the stretch used least recently goes first.
// CStretchDecoder is a decoding pipeline of its own on the same media that
// produces a stretch: from the key frame at or before a time up to it.
// CFrameStepper puts the two together for the video panel.
#include <gst/gst.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "support/RefTime.h"

class CFrameCache {
public:
    static constexpr size_t kDefaultBudget = size_t(512) << 20;

    explicit CFrameCache(size_t budget = kDefaultBudget) : m_budget(budget) {}
    ~CFrameCache();
    CFrameCache(const CFrameCache&) = delete;
    CFrameCache& operator=(const CFrameCache&) = delete;

    // A new budget; stretches go until the frames fit.
    void SetBudget(size_t bytes);
    size_t Budget() const { return m_budget; }
    size_t Bytes() const { return m_bytes; }
    size_t Frames() const { return m_frames.size(); }

    // Starts a stretch; the frames added until the next BeginStretch belong
    // to it. Returns its number.
    uint64_t BeginStretch();
    // A stretch filled besides the current one (by another thread, under
    // the caller's lock); it is kept like the current one until it ends.
    uint64_t BeginBackgroundStretch();
    void EndBackgroundStretch() { m_background = 0; }
    // Adds a frame (the cache takes over the reference to 'sample') of
    // 'bytes' at stream time 'time' to the current stretch. A time already
    // held keeps its frame. When the budget is exceeded, the least recently
    // used other stretches go first, then the current stretch's earliest
    // frames: a stretch is decoded towards the frame wanted last.
    void Add(REFERENCE_TIME time, GstSample* sample, size_t bytes) {
        Add(m_stretch, time, sample, bytes);
    }
    void Add(uint64_t stretch, REFERENCE_TIME time, GstSample* sample, size_t bytes);
    // The frame shown and the direction of travel (-1 backwards, +1
    // forwards): over budget, after the unused stretches, the frames behind
    // the focus go first, then those farthest from it. kNoTime: no focus.
    void SetFocus(REFERENCE_TIME time, int direction) {
        m_focus = time;
        m_direction = direction;
    }
    // The earliest time of the run of cached frames (no gap wider than
    // 'frame' and a half) holding 'time'; -1 when 'time' is not cached.
    REFERENCE_TIME RunStart(REFERENCE_TIME time, REFERENCE_TIME frame) const;
    // The frame whose time lies within 'tolerance' of 'time' (borrowed; valid
    // until the cache changes), or null. A hit marks its stretch used.
    GstSample* Find(REFERENCE_TIME time, REFERENCE_TIME tolerance);
    bool Contains(REFERENCE_TIME time, REFERENCE_TIME tolerance) const;
    void Clear();

private:
    struct CEntry {
        GstSample* sample;
        size_t bytes;
        uint64_t stretch;
    };
    std::map<REFERENCE_TIME, CEntry>::const_iterator Nearest(REFERENCE_TIME time,
                                                             REFERENCE_TIME tolerance) const;
    void Evict(std::map<REFERENCE_TIME, CEntry>::iterator it);
    void Trim();

    size_t m_budget;
    size_t m_bytes = 0;
    std::map<REFERENCE_TIME, CEntry> m_frames;
    std::map<uint64_t, uint64_t> m_lastUse;  // stretch -> use stamp
    uint64_t m_stretch = 0;
    uint64_t m_background = 0;
    uint64_t m_clock = 0;
    REFERENCE_TIME m_focus = kNoTime;
    int m_direction = -1;
};

class CStretchDecoder {
public:
    CStretchDecoder() = default;
    ~CStretchDecoder();
    CStretchDecoder(const CStretchDecoder&) = delete;
    CStretchDecoder& operator=(const CStretchDecoder&) = delete;

    // Opens the media (a path or a URI) with video only; false when it
    // cannot be decoded this way.
    bool Open(const std::string& media);
    void Close();
    bool IsOpen() const { return m_pipeline != nullptr; }

    // Decodes from the key frame at or before 'target' (stream time) up to
    // the frame at 'target' or the end, handing each frame with its stream
    // time and size to 'take' (a new reference; 'take' returns false to
    // stop). False when decoding failed or stalled.
    bool Decode(REFERENCE_TIME target, REFERENCE_TIME tolerance,
                const std::function<bool(REFERENCE_TIME, GstSample*, size_t)>& take);

private:
    GstElement* m_pipeline = nullptr;
    GstElement* m_sink = nullptr;
};

class CFrameStepper {
public:
    CFrameStepper() = default;
    ~CFrameStepper();
    CFrameStepper(const CFrameStepper&) = delete;
    CFrameStepper& operator=(const CFrameStepper&) = delete;

    // The media and its frame duration; the cache starts empty and the
    // decoder opens on first use. An empty name turns the stepper off.
    void SetMedia(const std::string& media, REFERENCE_TIME frameDuration);
    void SetBudget(size_t bytes);
    bool IsUsable() const { return !m_media.empty() && m_frameDuration > 0 && !m_failed; }

    // The frame at 't' (a new reference), decoding its stretch when it is
    // not cached and 'decode' allows; null when the stepper cannot give it.
    // The frame becomes the cache's focus.
    GstSample* GetFrame(REFERENCE_TIME t, bool decode = true);
    // Decodes the stretch before the cached frames that hold 't' on a
    // thread of its own, so that backward steps and reverse play find it
    // ready; nothing when it is cached or a stretch is being decoded.
    void PrefetchBefore(REFERENCE_TIME t);
    size_t CachedBytes();
    size_t CachedFrames();
    size_t Budget();

private:
    void StopPrefetch();

    std::string m_media;
    REFERENCE_TIME m_frameDuration = 0;
    REFERENCE_TIME m_lastFrame = kNoTime;
    bool m_failed = false;
    std::mutex m_lock;  // the cache, shared with the prefetch thread
    CFrameCache m_cache;
    CStretchDecoder m_decoder;
    CStretchDecoder m_prefetchDecoder;  // the prefetch thread's
    std::thread m_prefetch;
    std::atomic<bool> m_prefetchDone{true};
    std::atomic<bool> m_cancel{false};
};
