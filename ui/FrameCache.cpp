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

void CFrameCache::BeginStretch() {
    m_stretch = ++m_clock;
    m_lastUse[m_stretch] = m_clock;
}

void CFrameCache::Add(REFERENCE_TIME time, GstSample* sample, size_t bytes) {
    if (m_stretch == 0)
        BeginStretch();
    auto [it, added] = m_frames.try_emplace(time, CEntry{sample, bytes, m_stretch});
    if (!added) {
        gst_sample_unref(sample);
        return;
    }
    m_bytes += bytes;
    m_lastUse[m_stretch] = ++m_clock;
    Trim();
}

void CFrameCache::Evict(std::map<REFERENCE_TIME, CEntry>::iterator it) {
    m_bytes -= it->second.bytes;
    gst_sample_unref(it->second.sample);
    m_frames.erase(it);
}

void CFrameCache::Trim() {
    while (m_bytes > m_budget && m_frames.size() > 1) {
        // The stretch used least recently, the current one last.
        uint64_t oldest = 0, oldestUse = std::numeric_limits<uint64_t>::max();
        for (const auto& [stretch, use] : m_lastUse)
            if (stretch != m_stretch && use < oldestUse) {
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
        // Only the current stretch is left: its earliest frame goes.
        Evict(m_frames.begin());
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
                             const std::function<void(REFERENCE_TIME, GstSample*, size_t)>& take) {
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
        take(time, sample, gst_buffer_get_size(buffer));
        if (time >= target - tolerance)
            return true;
    }
}

// ---------------------------------------------------------------- CFrameStepper

void CFrameStepper::SetMedia(const std::string& media, REFERENCE_TIME frameDuration) {
    m_cache.Clear();
    m_decoder.Close();
    m_media = media;
    m_frameDuration = frameDuration;
    m_failed = false;
}

GstSample* CFrameStepper::GetFrame(REFERENCE_TIME t, bool decode) {
    if (!IsUsable())
        return nullptr;
    const REFERENCE_TIME tolerance = m_frameDuration / 2;
    if (GstSample* sample = m_cache.Find(t, tolerance))
        return sample;
    if (!decode)
        return nullptr;
    if (!m_decoder.IsOpen() && !m_decoder.Open(m_media)) {
        m_failed = true;
        return nullptr;
    }
    m_cache.BeginStretch();
    if (!m_decoder.Decode(t, tolerance, [&](REFERENCE_TIME time, GstSample* sample, size_t bytes) {
            m_cache.Add(time, sample, bytes);
        })) {
        // A decoder that failed once is not asked again for this media.
        m_decoder.Close();
        m_failed = true;
        return nullptr;
    }
    return m_cache.Find(t, tolerance);
}
