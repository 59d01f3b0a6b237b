// The render engine over GStreamer Editing Services: the timeline model
// becomes one GESTimeline (a video track for the first video group, an
// audio track for the first audio group, one layer per track in track
// order, one clip per source), which joins the filter graph as its source
// filter. Its output pins, one per group, are rendered by the graph like
// the pins of any source, so everything downstream works as for a file.
#include <ges/ges.h>
#include <gst/pbutils/pbutils.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/des/DesModel.h"
#include "platform/dshow/ElementFilter.h"
#include "platform/dshow/GstSupport.h"

namespace va::des {

namespace {

// More clips than this make a timeline too large to be built for playback.
constexpr int kMaxRenderedClips = 5000;
// Each track is a layer of its own; more layers than this are refused too.
constexpr size_t kMaxRenderedTracks = 1000;

// The output size when neither the group nor its first source tells one.
constexpr int kFallbackWidth = 320;
constexpr int kFallbackHeight = 240;

void EnsureGes() {
    static std::once_flag once;
    std::call_once(once, [] {
        vagst::EnsureInit();
        ges_init();
    });
}

std::string ErrorText(GError* error) {
    std::string text = error && error->message ? error->message : "unknown error";
    if (error)
        g_error_free(error);
    return text;
}

// The tracks of a group or composition, depth first, in order.
void CollectTracks(IAMTimelineObj* obj, std::vector<CComPtr<IAMTimelineObj>>& tracks) {
    CTimelineNode* node = NodeOf(obj);
    if (!node)
        return;
    if (node->Type() == TIMELINE_MAJOR_TYPE_TRACK) {
        tracks.emplace_back(obj);
        return;
    }
    if (node->IsComposition())
        for (const auto& child : node->Children())
            CollectTracks(child, tracks);
}

// The size of the first video stream of a discovered source.
bool VideoSizeOf(GESUriClipAsset* asset, int& width, int& height) {
    GstDiscovererInfo* info = ges_uri_clip_asset_get_info(asset);
    if (!info)
        return false;
    GList* streams = gst_discoverer_info_get_video_streams(info);
    bool found = false;
    if (streams) {
        auto* video = GST_DISCOVERER_VIDEO_INFO(streams->data);
        width = int(gst_discoverer_video_info_get_width(video));
        height = int(gst_discoverer_video_info_get_height(video));
        found = width > 0 && height > 0;
    }
    gst_discoverer_stream_info_list_free(streams);
    return found;
}

// The discovered asset of a local file (GES keeps each for the process);
// null when the file cannot be read.
GESUriClipAsset* RequestAsset(const std::string& path, GError** error) {
    gchar* uri = gst_filename_to_uri(path.c_str(), error);
    if (!uri)
        return nullptr;
    GESUriClipAsset* asset = ges_uri_clip_asset_request_sync(uri, error);
    g_free(uri);
    return asset;
}

// The size of the first source of the tracks that has video.
void FirstVideoSize(const std::vector<CComPtr<IAMTimelineObj>>& tracks, int& width, int& height) {
    for (const auto& track : tracks) {
        CComPtr<IAMTimelineTrack> sources(track.Get());
        CComPtr<IAMTimelineObj> obj, previous;
        while (sources && sources->GetNextSrcEx(previous, &obj) == S_OK && obj) {
            previous = obj;
            CComPtr<IAMTimelineSrc> src(obj.Get());
            std::string name, path, why;
            if (!src || FAILED(src->GetMediaName(&name)) || FAILED(CheckMediaFile(name, path, why)))
                continue;
            GError* error = nullptr;
            GESUriClipAsset* asset = RequestAsset(path, &error);
            if (error)
                g_error_free(error);
            if (!asset)
                continue;
            bool found = VideoSizeOf(asset, width, height);
            gst_object_unref(asset);
            if (found)
                return;
        }
    }
}

// Seeks on a timeline are carried out by its compositions on threads of
// their own, after the seek call has returned; a graph that waits for its
// state right after a seek would see the frame from before it. Each output
// pad therefore passes a flushing seek on itself and returns only once the
// flush it causes has come back downstream (or a time-out has passed), so
// the renderers have lost their frame and the graph's state wait holds
// until the new one arrives.
class CSeekSync {
public:
    static constexpr auto kFlushWait = std::chrono::seconds(5);

    static void Attach(GstPad* pad) {
        auto* sync = new CSeekSync();
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, &CSeekSync::OnUpstream, sync,
                          nullptr);
        gst_pad_add_probe(
            pad,
            GstPadProbeType(GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
            &CSeekSync::OnDownstream, sync,
            [](gpointer data) { delete static_cast<CSeekSync*>(data); });
    }

private:
    static GstPadProbeReturn OnUpstream(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) != GST_EVENT_SEEK || !GST_IS_GHOST_PAD(pad))
            return GST_PAD_PROBE_OK;
        GstSeekFlags flags = GST_SEEK_FLAG_NONE;
        gst_event_parse_seek(event, nullptr, nullptr, &flags, nullptr, nullptr, nullptr, nullptr);
        GstPad* target = gst_ghost_pad_get_target(GST_GHOST_PAD(pad));
        if (!(flags & GST_SEEK_FLAG_FLUSH) || !target) {
            if (target)
                gst_object_unref(target);
            return GST_PAD_PROBE_OK;
        }
        auto* sync = static_cast<CSeekSync*>(data);
        uint64_t before;
        {
            std::lock_guard guard(sync->m_lock);
            before = sync->m_flushStops;
        }
        bool sent = gst_pad_send_event(target, gst_event_ref(event));
        gst_object_unref(target);
        if (sent) {
            std::unique_lock guard(sync->m_lock);
            sync->m_cond.wait_for(guard, kFlushWait, [&] { return sync->m_flushStops > before; });
        }
        gst_event_unref(event);
        GST_PAD_PROBE_INFO_DATA(info) = nullptr;
        return GST_PAD_PROBE_HANDLED;
    }

    static GstPadProbeReturn OnDownstream(GstPad*, GstPadProbeInfo* info, gpointer data) {
        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP) {
            auto* sync = static_cast<CSeekSync*>(data);
            std::lock_guard guard(sync->m_lock);
            ++sync->m_flushStops;
            sync->m_cond.notify_all();
        }
        return GST_PAD_PROBE_OK;
    }

    std::mutex m_lock;
    std::condition_variable m_cond;
    uint64_t m_flushStops = 0;
};

// An output of the timeline holds its data until the graph has rendered
// it. A graph that prerolls after rendering its first output would
// otherwise see the other outputs push into nothing and fail with
// "not linked", losing the output it had just rendered. The hold ends when
// the output is linked; an output that is never rendered stays held and
// keeps quiet.
class COutputHold {
public:
    static void Attach(GstPad* pad) {
        auto* hold = new COutputHold();
        hold->m_probe = gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM,
                                          &COutputHold::OnData, nullptr, nullptr);
        g_signal_connect_data(
            pad, "linked", G_CALLBACK(&COutputHold::OnLinked), hold,
            [](gpointer data, GClosure*) { delete static_cast<COutputHold*>(data); },
            GConnectFlags(0));
    }

private:
    // Data that arrives after the link passes; before it, it waits.
    static GstPadProbeReturn OnData(GstPad* pad, GstPadProbeInfo*, gpointer) {
        return gst_pad_is_linked(pad) ? GST_PAD_PROBE_PASS : GST_PAD_PROBE_OK;
    }

    static void OnLinked(GstPad* pad, GstPad*, gpointer data) {
        auto* hold = static_cast<COutputHold*>(data);
        gulong probe = std::exchange(hold->m_probe, 0);
        if (probe)
            gst_pad_remove_probe(pad, probe);
    }

    gulong m_probe = 0;
};

CComPtr<IPin> PinOfPad(IBaseFilter* filter, GstPad* pad) {
    CComPtr<IEnumPins> pins;
    if (!filter || !pad || FAILED(filter->EnumPins(&pins)))
        return nullptr;
    CComPtr<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        CComPtr<IGstPadAccess> access(pin.Get());
        if (access && access->Pad() == pad)
            return pin;
    }
    return nullptr;
}

// The filters connected downstream of a filter's output pins, recursively.
void CollectDownstream(IBaseFilter* filter, std::vector<CComPtr<IBaseFilter>>& found) {
    CComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(&pins)))
        return;
    CComPtr<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION dir = PINDIR_INPUT;
        CComPtr<IPin> peer;
        if (FAILED(pin->QueryDirection(&dir)) || dir != PINDIR_OUTPUT ||
            FAILED(pin->ConnectedTo(&peer)) || !peer)
            continue;
        PIN_INFO info;
        if (FAILED(peer->QueryPinInfo(&info)) || !info.pFilter)
            continue;
        CComPtr<IBaseFilter> next;
        next.Attach(info.pFilter);
        bool known = false;
        for (const auto& f : found)
            known = known || IsSameObject(f, next);
        if (known)
            continue;
        found.push_back(next);
        CollectDownstream(next, found);
    }
}

class CRenderEngine : public CUnknownImpl<CRenderEngine, IRenderEngine> {
public:
    ~CRenderEngine() override {
        for (auto& output : m_outputs)
            gst_object_unref(output.pad);
    }

    HRESULT SetTimelineObject(IAMTimeline* timeline) override {
        if (m_frontEnd)
            return VFW_E_WRONG_STATE;
        m_timeline = timeline;
        return S_OK;
    }
    HRESULT GetTimelineObject(IAMTimeline** timeline) override {
        if (!timeline)
            return E_POINTER;
        *timeline = m_timeline.Get();
        if (*timeline)
            (*timeline)->AddRef();
        return S_OK;
    }
    HRESULT SetFilterGraph(IGraphBuilder* graph) override {
        if (m_frontEnd)
            return VFW_E_WRONG_STATE;
        m_graph = graph;
        return S_OK;
    }
    HRESULT GetFilterGraph(IGraphBuilder** graph) override {
        if (!graph)
            return E_POINTER;
        *graph = m_graph.Get();
        if (*graph)
            (*graph)->AddRef();
        return S_OK;
    }
    // The front end is rebuilt as a whole on every change; the level is kept only.
    HRESULT SetDynamicReconnectLevel(long level) override {
        m_reconnectLevel = level;
        return S_OK;
    }
    HRESULT ConnectFrontEnd() override;
    HRESULT RenderOutputPins() override;
    HRESULT GetGroupOutputPin(long group, IPin** pin) override;
    HRESULT ScrapIt() override;

private:
    struct COutput {
        long group;
        GstPad* pad;  // owned
    };

    HRESULT Build(GESTimeline* ges, IAMErrorLog* log);
    HRESULT AddClips(GESLayer* layer, IAMTimelineObj* track, GESTrackType type, IAMErrorLog* log,
                     int& clips);

    CComPtr<IAMTimeline> m_timeline;
    CComPtr<IGraphBuilder> m_graph;
    long m_reconnectLevel = 0;
    CComPtr<IBaseFilter> m_frontEnd;
    std::vector<COutput> m_outputs;
};

HRESULT CRenderEngine::ConnectFrontEnd() {
    if (!m_timeline || !m_graph)
        return Report(nullptr, E_UNEXPECTED, DEX_IDS_RENDER_FAILED,
                      "The render engine has no timeline or no filter graph.");
    if (m_frontEnd)
        ScrapIt();
    EnsureGes();
    CComPtr<IAMErrorLog> log = ErrorLogOf(m_timeline);
    GESTimeline* ges = ges_timeline_new();
    gst_object_ref_sink(ges);
    HRESULT hr = Build(ges, log);
    if (SUCCEEDED(hr)) {
        CComPtr<IBaseFilter> filter(
            static_cast<IBaseFilter*>(new CElementFilter(GST_ELEMENT(ges))));
        hr = m_graph->AddFilter(filter, "Timeline");
        if (SUCCEEDED(hr))
            m_frontEnd = filter;
        else
            Report(log, hr, DEX_IDS_RENDER_FAILED, "The timeline cannot join the filter graph.");
    }
    if (FAILED(hr)) {
        for (auto& output : m_outputs)
            gst_object_unref(output.pad);
        m_outputs.clear();
    }
    gst_object_unref(ges);
    return hr;
}

HRESULT CRenderEngine::Build(GESTimeline* ges, IAMErrorLog* log) {
    long groups = 0;
    m_timeline->GetGroupCount(&groups);
    bool haveVideo = false, haveAudio = false;
    int clips = 0;
    for (long g = 0; g < groups; ++g) {
        CComPtr<IAMTimelineObj> obj;
        m_timeline->GetGroup(&obj, g);
        CComPtr<IAMTimelineGroup> group(obj.Get());
        if (!group)
            continue;
        DES_MEDIA_KIND kind = DES_MEDIA_VIDEO;
        group->GetMediaKind(&kind);
        bool video = kind == DES_MEDIA_VIDEO;
        std::string where = "group " + std::to_string(g + 1);
        if (video ? haveVideo : haveAudio) {
            Report(log, S_FALSE, DEX_IDS_NOT_RENDERED,
                   std::string("Only the first ") + (video ? "video" : "audio") +
                       " group is rendered; this group is skipped.",
                   where);
            continue;
        }
        (video ? haveVideo : haveAudio) = true;
        GESTrack* track =
            video ? GES_TRACK(ges_video_track_new()) : GES_TRACK(ges_audio_track_new());
        if (!ges_timeline_add_track(ges, track))
            return Report(log, E_FAIL, DEX_IDS_RENDER_FAILED, "A track cannot be made.", where);
        std::vector<CComPtr<IAMTimelineObj>> tracks;
        CollectTracks(obj, tracks);
        if (tracks.size() > kMaxRenderedTracks)
            return Report(log, VFW_E_CANNOT_RENDER, DEX_IDS_RENDER_FAILED,
                          "The timeline holds more than " + std::to_string(kMaxRenderedTracks) +
                              " tracks; it is too large to be played.",
                          where);
        // The output format is fixed before any clip is placed: clips are
        // scaled and positioned for the size the track has when they arrive.
        GstCaps* caps = nullptr;
        if (video) {
            double fps = kDesDefaultFps;
            group->GetOutputFPS(&fps);
            int num = 0, den = 1;
            gst_util_double_to_fraction(fps, &num, &den);
            long w = 0, h = 0;
            group->GetOutputSize(&w, &h);
            if (w <= 0 || h <= 0) {
                int width = 0, height = 0;
                FirstVideoSize(tracks, width, height);
                w = width > 0 ? width : kFallbackWidth;
                h = height > 0 ? height : kFallbackHeight;
            }
            caps = gst_caps_new_simple("video/x-raw", "framerate", GST_TYPE_FRACTION, num, den,
                                       "width", G_TYPE_INT, int(w), "height", G_TYPE_INT, int(h),
                                       nullptr);
        } else {
            long rate = 0;
            group->GetSampleRate(&rate);
            if (rate > 0)
                caps = gst_caps_new_simple("audio/x-raw", "rate", G_TYPE_INT, int(rate), nullptr);
        }
        if (caps) {
            ges_track_set_restriction_caps(track, caps);
            gst_caps_unref(caps);
        }
        for (const auto& t : tracks) {
            GESLayer* layer = ges_timeline_append_layer(ges);
            HRESULT hr =
                AddClips(layer, t, video ? GES_TRACK_TYPE_VIDEO : GES_TRACK_TYPE_AUDIO, log, clips);
            if (FAILED(hr))
                return hr;
        }
        GstPad* pad = ges_timeline_get_pad_for_track(ges, track);
        if (pad) {
            CSeekSync::Attach(pad);
            COutputHold::Attach(pad);
            m_outputs.push_back({g, GST_PAD(gst_object_ref(pad))});
        }
    }
    if (clips == 0)
        return Report(log, VFW_E_CANNOT_RENDER, DEX_IDS_RENDER_FAILED,
                      "The timeline holds no clip that can be played.");
    if (!ges_timeline_commit_sync(ges))
        return Report(log, VFW_E_CANNOT_RENDER, DEX_IDS_RENDER_FAILED,
                      "The timeline cannot be prepared for playback.");
    return S_OK;
}

HRESULT CRenderEngine::AddClips(GESLayer* layer, IAMTimelineObj* track, GESTrackType type,
                                IAMErrorLog* log, int& clips) {
    CComPtr<IAMTimelineTrack> sources(track);
    if (!sources)
        return S_OK;
    CComPtr<IAMTimelineObj> obj;
    CComPtr<IAMTimelineObj> previous;
    while (sources->GetNextSrcEx(previous, &obj) == S_OK && obj) {
        previous = obj;
        if (clips >= kMaxRenderedClips)
            return Report(log, VFW_E_CANNOT_RENDER, DEX_IDS_RENDER_FAILED,
                          "The timeline holds more than " + std::to_string(kMaxRenderedClips) +
                              " clips; it is too large to be played.");
        CComPtr<IAMTimelineSrc> src(obj.Get());
        std::string name;
        REFERENCE_TIME start = 0, stop = 0, mstart = 0, mstop = 0;
        src->GetMediaName(&name);
        obj->GetStartStop(&start, &stop);
        src->GetMediaTimes(&mstart, &mstop);
        std::string path, why;
        HRESULT hr = CheckMediaFile(name, path, why);
        if (FAILED(hr))
            return Report(log, hr, DEX_IDS_MISSING_SOURCE_NAME,
                          "The source \"" + name + "\" of the timeline cannot be played: " + why,
                          name);
        GError* error = nullptr;
        GESUriClipAsset* asset = RequestAsset(path, &error);
        if (!asset)
            return Report(log, VFW_E_UNSUPPORTED_STREAM, DEX_IDS_BAD_SOURCE_NAME,
                          "The source \"" + name + "\" cannot be read: " + ErrorText(error), name);
        if (!(ges_clip_asset_get_supported_formats(GES_CLIP_ASSET(asset)) & type)) {
            Report(log, S_FALSE, DEX_IDS_NOT_RENDERED,
                   std::string("The source has no ") +
                       (type == GES_TRACK_TYPE_VIDEO ? "video" : "sound") +
                       "; the clip is skipped.",
                   name);
            gst_object_unref(asset);
            continue;
        }
        GESClip* clip = ges_layer_add_asset_full(layer, GES_ASSET(asset), vagst::ToGstTime(start),
                                                 vagst::ToGstTime(mstart),
                                                 vagst::ToGstTime(stop - start), type, &error);
        gst_object_unref(asset);
        if (!clip) {
            Report(log, S_FALSE, DEX_IDS_NOT_RENDERED,
                   "The clip cannot be placed on the timeline and is skipped: " + ErrorText(error),
                   name);
            continue;
        }
        // GES ends a clip with its source; the timeline is then that much shorter.
        if (GST_CLOCK_TIME_IS_VALID(GES_TIMELINE_ELEMENT_DURATION(clip)) &&
            GES_TIMELINE_ELEMENT_DURATION(clip) < vagst::ToGstTime(stop - start))
            Report(log, S_FALSE, DEX_IDS_NOT_RENDERED,
                   "The clip runs past the end of its source; it ends where the source ends.",
                   name);
        ++clips;
    }
    return S_OK;
}

HRESULT CRenderEngine::RenderOutputPins() {
    if (!m_frontEnd || !m_graph)
        return Report(ErrorLogOf(m_timeline), VFW_E_WRONG_STATE, DEX_IDS_RENDER_FAILED,
                      "The timeline's front end is not connected.");
    HRESULT result = VFW_E_ALREADY_CONNECTED;
    bool succeeded = false;
    for (const auto& output : m_outputs) {
        CComPtr<IPin> pin = PinOfPad(m_frontEnd, output.pad);
        CComPtr<IPin> peer;
        if (!pin || (SUCCEEDED(pin->ConnectedTo(&peer)) && peer))
            continue;
        HRESULT hr = m_graph->Render(pin);
        if (SUCCEEDED(hr) && !succeeded) {
            succeeded = true;
            result = hr;
        } else if (!succeeded) {
            result = hr;
        }
    }
    if (FAILED(result)) {
        Report(ErrorLogOf(m_timeline), result, DEX_IDS_RENDER_FAILED,
               "The timeline's output cannot be rendered.");
        return result;
    }
    // The timeline takes a seek only once it has shown its first frame:
    // the graph waits for that, as it does when it renders a file.
    CComPtr<IMediaControl> control(m_graph.Get());
    if (control)
        control->StopWhenReady();
    return result;
}

HRESULT CRenderEngine::GetGroupOutputPin(long group, IPin** pin) {
    if (!pin)
        return E_POINTER;
    *pin = nullptr;
    for (const auto& output : m_outputs) {
        if (output.group != group)
            continue;
        CComPtr<IPin> found = PinOfPad(m_frontEnd, output.pad);
        *pin = found.Detach();
        return *pin ? S_OK : S_FALSE;
    }
    return S_FALSE;
}

HRESULT CRenderEngine::ScrapIt() {
    if (!m_frontEnd)
        return S_OK;
    HRESULT result = S_OK;
    if (m_graph) {
        std::vector<CComPtr<IBaseFilter>> filters;
        CollectDownstream(m_frontEnd, filters);
        filters.insert(filters.begin(), m_frontEnd);
        for (const auto& filter : filters) {
            HRESULT hr = m_graph->RemoveFilter(filter);
            if (FAILED(hr) && hr != VFW_E_NOT_FOUND && SUCCEEDED(result))
                result = hr;
        }
    }
    m_frontEnd = nullptr;
    for (auto& output : m_outputs)
        gst_object_unref(output.pad);
    m_outputs.clear();
    return result;
}

}  // namespace

HRESULT CreateRenderEngine(IUnknown* outer, REFIID riid, void** ppv) {
    return CreateAndQuery<CRenderEngine>(outer, riid, ppv);
}

}  // namespace va::des
