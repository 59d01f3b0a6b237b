#include "ui/FrameCache.h"

#include <gst/app/gstappsink.h>

#include <limits>

#include "platform/dshow/GstSupport.h"
#include "platform/dshow/VideoFrame.h"

// ---------------------------------------------------------------- CFrameCache

CFrameCache::~CFrameCache() {
    Clear();
}

void CFrameCache::SetBudget(size_t bytes) {
    m_budget = bytes;
    Trim();
}

uint64_t CFrameCache::BeginStretch() {
    m_stretch = ++m_clock;
    m_lastUse[m_stretch] = m_clock;
    return m_stretch;
}

uint64_t CFrameCache::BeginBackgroundStretch() {
    m_background = ++m_clock;
    m_lastUse[m_background] = m_clock;
    return m_background;
}

void CFrameCache::Add(uint64_t stretch, REFERENCE_TIME time, GstSample* sample, size_t bytes) {
    if (stretch == 0)
        stretch = BeginStretch();
    auto [it, added] = m_frames.try_emplace(time, CEntry{sample, bytes, stretch});
    if (!added) {
        gst_sample_unref(sample);
        return;
    }
    m_bytes += bytes;
    m_lastUse[stretch] = ++m_clock;
    Trim();
}

REFERENCE_TIME CFrameCache::RunStart(REFERENCE_TIME time, REFERENCE_TIME frame) const {
    auto it = Nearest(time, frame / 2);
    if (it == m_frames.end())
        return -1;
    while (it != m_frames.begin()) {
        auto before = std::prev(it);
        if (it->first - before->first > frame + frame / 2)
            break;
        it = before;
    }
    return it->first;
}

void CFrameCache::Evict(std::map<REFERENCE_TIME, CEntry>::iterator it) {
    m_bytes -= it->second.bytes;
    gst_sample_unref(it->second.sample);
    m_frames.erase(it);
}

void CFrameCache::Trim() {
    while (m_bytes > m_budget && m_frames.size() > 1) {
        // The stretch used least recently goes first; the ones being filled
        // and the one holding the focus are kept while others are there.
        uint64_t focusStretch = 0;
        if (m_focus != kNoTime) {
            auto at = m_frames.lower_bound(m_focus);
            if (at == m_frames.end())
                at = std::prev(at);
            focusStretch = at->second.stretch;
        }
        uint64_t oldest = 0, oldestUse = std::numeric_limits<uint64_t>::max();
        for (const auto& [stretch, use] : m_lastUse)
            if (stretch != m_stretch && stretch != m_background && stretch != focusStretch &&
                use < oldestUse) {
                oldest = stretch;
                oldestUse = use;
            }
        if (oldest != 0) {
            for (auto it = m_frames.begin(); it != m_frames.end();)
                if (it->second.stretch == oldest)
                    Evict(it++);
                else
                    ++it;
            m_lastUse.erase(oldest);
            continue;
        }
        if (m_focus == kNoTime) {
            // A stretch is decoded towards the frame wanted: its earliest go.
            Evict(m_frames.begin());
            continue;
        }
        // The frames already passed (behind the focus), then the farthest.
        auto first = m_frames.begin();
        auto last = std::prev(m_frames.end());
        if (m_direction < 0 && last->first > m_focus)
            Evict(last);
        else if (m_direction > 0 && first->first < m_focus)
            Evict(first);
        else
            Evict(m_focus - first->first >= last->first - m_focus ? first : last);
    }
}

std::map<REFERENCE_TIME, CFrameCache::CEntry>::const_iterator CFrameCache::Nearest(
    REFERENCE_TIME time, REFERENCE_TIME tolerance) const {
    auto after = m_frames.lower_bound(time);
    auto best = m_frames.end();
    if (after != m_frames.end() && after->first - time <= tolerance)
        best = after;
    if (after != m_frames.begin()) {
        auto before = std::prev(after);
        if (time - before->first <= tolerance &&
            (best == m_frames.end() || time - before->first < best->first - time))
            best = before;
    }
    return best;
}

GstSample* CFrameCache::Find(REFERENCE_TIME time, REFERENCE_TIME tolerance) {
    auto it = Nearest(time, tolerance);
    if (it == m_frames.end())
        return nullptr;
    m_lastUse[it->second.stretch] = ++m_clock;
    return it->second.sample;
}

bool CFrameCache::Contains(REFERENCE_TIME time, REFERENCE_TIME tolerance) const {
    return Nearest(time, tolerance) != m_frames.end();
}

void CFrameCache::Clear() {
    for (auto& [time, entry] : m_frames)
        gst_sample_unref(entry.sample);
    m_frames.clear();
    m_lastUse.clear();
    m_bytes = 0;
    m_stretch = 0;
    m_background = 0;
    m_focus = kNoTime;
}

// ---------------------------------------------------------------- CStretchDecoder

namespace {

// playbin's flags: video only, in the decoder's own format.
constexpr unsigned kPlayFlagVideo = 0x1;
constexpr unsigned kPlayFlagNativeVideo = 0x40;
// A decoder that gives no frame for this long has stalled.
constexpr GstClockTime kPullTimeout = 10 * GST_SECOND;

}  // namespace

CStretchDecoder::~CStretchDecoder() {
    Close();
}

void CStretchDecoder::Close() {
    if (m_sink) {
        gst_object_unref(m_sink);
        m_sink = nullptr;
    }
    if (m_pipeline) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_pipeline);
        m_pipeline = nullptr;
    }
}

bool CStretchDecoder::Open(const std::string& media) {
    Close();
    vagst::EnsureInit();
    std::string uri = media;
    if (!gst_uri_is_valid(media.c_str())) {
        gchar* converted = gst_filename_to_uri(media.c_str(), nullptr);
        if (!converted)
            return false;
        uri = converted;
        g_free(converted);
    }
    GstElement* pipeline = gst_element_factory_make("playbin", nullptr);
    GError* error = nullptr;
    GstElement* bin = gst_parse_bin_from_description(
        "videoconvert ! appsink name=framesink sync=false max-buffers=2 enable-last-sample=false",
        TRUE, &error);
    if (!pipeline || !bin) {
        if (error)
            g_error_free(error);
        if (pipeline)
            gst_object_unref(pipeline);
        if (bin)
            gst_object_unref(bin);
        return false;
    }
    m_pipeline = GST_ELEMENT(gst_object_ref_sink(pipeline));
    m_sink = gst_bin_get_by_name(GST_BIN(bin), "framesink");
    GstCaps* caps = gst_caps_from_string(vavideo::SinkCapsString());
    gst_app_sink_set_caps(GST_APP_SINK(m_sink), caps);
    gst_caps_unref(caps);
    g_object_set(m_pipeline, "uri", uri.c_str(), "video-sink", bin, "flags",
                 kPlayFlagVideo | kPlayFlagNativeVideo, nullptr);
    GstState state = GST_STATE_NULL;
    if (gst_element_set_state(m_pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ||
        gst_element_get_state(m_pipeline, &state, nullptr, kPullTimeout) !=
            GST_STATE_CHANGE_SUCCESS) {
        Close();
        return false;
    }
    return true;
}

bool CStretchDecoder::Decode(REFERENCE_TIME target, REFERENCE_TIME tolerance,
                             const std::function<bool(REFERENCE_TIME, GstSample*, size_t)>& take) {
    if (!m_pipeline)
        return false;
    // Snapping to the key frame before the target makes the stream start
    // there, so the frames in front of the target come out too.
    if (!gst_element_seek(
            m_pipeline, 1.0, GST_FORMAT_TIME,
            GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT | GST_SEEK_FLAG_SNAP_BEFORE),
            GST_SEEK_TYPE_SET, GstClockTime(std::max<REFERENCE_TIME>(target, 0)) * 100,
            GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE))
        return false;
    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return false;
    for (;;) {
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(m_sink), kPullTimeout);
        if (!sample)
            return gst_app_sink_is_eos(GST_APP_SINK(m_sink));
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        const GstSegment* segment = gst_sample_get_segment(sample);
        if (!buffer || !segment || !GST_BUFFER_PTS_IS_VALID(buffer)) {
            gst_sample_unref(sample);
            continue;
        }
        guint64 stream =
            gst_segment_to_stream_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
        if (stream == GST_CLOCK_TIME_NONE) {
            gst_sample_unref(sample);
            continue;
        }
        REFERENCE_TIME time = REFERENCE_TIME(stream / 100);
        if (time > target + tolerance) {
            gst_sample_unref(sample);
            return true;
        }
        if (!take(time, sample, gst_buffer_get_size(buffer)) || time >= target - tolerance)
            return true;
    }
}

// ---------------------------------------------------------------- CFrameStepper

CFrameStepper::~CFrameStepper() {
    StopPrefetch();
}

void CFrameStepper::StopPrefetch() {
    m_cancel = true;
    if (m_prefetch.joinable())
        m_prefetch.join();
    m_cancel = false;
    m_prefetchDone = true;
}

void CFrameStepper::SetMedia(const std::string& media, REFERENCE_TIME frameDuration) {
    StopPrefetch();
    m_prefetchDecoder.Close();
    std::lock_guard guard(m_lock);
    m_cache.Clear();
    m_decoder.Close();
    m_media = media;
    m_frameDuration = frameDuration;
    m_lastFrame = kNoTime;
    m_failed = false;
}

void CFrameStepper::SetBudget(size_t bytes) {
    std::lock_guard guard(m_lock);
    m_cache.SetBudget(bytes);
}

size_t CFrameStepper::CachedBytes() {
    std::lock_guard guard(m_lock);
    return m_cache.Bytes();
}

size_t CFrameStepper::CachedFrames() {
    std::lock_guard guard(m_lock);
    return m_cache.Frames();
}

size_t CFrameStepper::Budget() {
    std::lock_guard guard(m_lock);
    return m_cache.Budget();
}

GstSample* CFrameStepper::GetFrame(REFERENCE_TIME t, bool decode) {
    if (!IsUsable())
        return nullptr;
    const REFERENCE_TIME tolerance = m_frameDuration / 2;
    auto found = [&]() -> GstSample* {
        std::lock_guard guard(m_lock);
        m_cache.SetFocus(t, m_lastFrame != kNoTime && t > m_lastFrame ? +1 : -1);
        m_lastFrame = t;
        GstSample* sample = m_cache.Find(t, tolerance);
        return sample ? gst_sample_ref(sample) : nullptr;
    };
    if (GstSample* sample = found())
        return sample;
    if (!decode)
        return nullptr;
    // A stretch being decoded in the background may be the one wanted.
    if (m_prefetch.joinable()) {
        m_prefetch.join();
        if (GstSample* sample = found())
            return sample;
    }
    if (!m_decoder.IsOpen() && !m_decoder.Open(m_media)) {
        m_failed = true;
        return nullptr;
    }
    uint64_t stretch = 0;
    {
        std::lock_guard guard(m_lock);
        stretch = m_cache.BeginStretch();
    }
    if (!m_decoder.Decode(t, tolerance, [&](REFERENCE_TIME time, GstSample* sample, size_t bytes) {
            std::lock_guard guard(m_lock);
            m_cache.Add(stretch, time, sample, bytes);
            return true;
        })) {
        // A decoder that failed once is not asked again for this media.
        m_decoder.Close();
        m_failed = true;
        return nullptr;
    }
    return found();
}

void CFrameStepper::PrefetchBefore(REFERENCE_TIME t) {
    if (!IsUsable() || !m_prefetchDone)
        return;
    REFERENCE_TIME target = -1;
    {
        std::lock_guard guard(m_lock);
        REFERENCE_TIME start = m_cache.RunStart(t, m_frameDuration);
        if (start > 0)
            target = start - m_frameDuration;
    }
    if (target < 0)
        return;
    if (m_prefetch.joinable())
        m_prefetch.join();
    m_prefetchDone = false;
    m_prefetch = std::thread([this, target] {
        const REFERENCE_TIME tolerance = m_frameDuration / 2;
        if (m_prefetchDecoder.IsOpen() || m_prefetchDecoder.Open(m_media)) {
            uint64_t stretch = 0;
            {
                std::lock_guard guard(m_lock);
                stretch = m_cache.BeginBackgroundStretch();
            }
            bool ok = m_prefetchDecoder.Decode(
                target, tolerance, [&](REFERENCE_TIME time, GstSample* sample, size_t bytes) {
                    std::lock_guard guard(m_lock);
                    m_cache.Add(stretch, time, sample, bytes);
                    return !m_cancel.load();
                });
            if (!ok)
                m_prefetchDecoder.Close();
            std::lock_guard guard(m_lock);
            m_cache.EndBackgroundStretch();
        }
        m_prefetchDone = true;
    });
}
