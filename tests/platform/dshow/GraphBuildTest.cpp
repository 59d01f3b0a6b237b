#include <gtest/gtest.h>

#include <QObject>
#include <set>
#include <thread>

#include "platform/com/Stream.h"
#include "tests/platform/dshow/GraphTestSupport.h"

using namespace graphtest;

namespace {

constexpr LONGLONG kFrame25 = 400000;

// Records what the graph builder selects and creates; refuses one factory.
class CBuilderCallback : public CUnknownImpl<CBuilderCallback, IAMGraphBuilderCallback> {
public:
    explicit CBuilderCallback(std::string refuse = {}) : m_refuse(std::move(refuse)) {}
    HRESULT SelectedFilter(IMoniker* moniker) override {
        std::this_thread::sleep_for(m_delay);  // a slow decision, not a wait
        std::string name;
        moniker->GetDisplayName(&name);
        std::lock_guard guard(m_lock);
        m_selected.insert(name);
        return name == m_refuse ? E_FAIL : S_OK;
    }
    HRESULT CreatedFilter(IBaseFilter* filter) override {
        FILTER_INFO info;
        filter->QueryFilterInfo(&info);
        if (info.pGraph)
            info.pGraph->Release();
        std::lock_guard guard(m_lock);
        m_created.push_back(info.achName);
        return S_OK;
    }
    std::mutex m_lock;
    std::string m_refuse;
    std::chrono::milliseconds m_delay{0};
    std::set<std::string> m_selected;
    std::vector<std::string> m_created;
};

CComPtr<IPin> PinOf(IBaseFilter* filter, const char* id) {
    CComPtr<IPin> pin;
    EXPECT_EQ(S_OK, filter->FindPin(id, &pin));
    return pin;
}

CComPtr<IBaseFilter> Named(CGraph& g, const char* name) {
    CComPtr<IBaseFilter> f;
    EXPECT_EQ(S_OK, g.builder->FindFilterByName(name, &f)) << name;
    return f;
}

TEST(GraphBuild, TheCallbackSeesEveryFilterTheGraphCreates) {
    CGraph g;
    CComPtr<CBuilderCallback> callback(new CBuilderCallback());
    CComPtr<IObjectWithSite> site = g.builder;
    ASSERT_TRUE(site);
    ASSERT_EQ(S_OK, site->SetSite(static_cast<IAMGraphBuilderCallback*>(callback.Get())));
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::VideoAudio().c_str(), nullptr));
    auto names = g.FilterNames();
    std::lock_guard guard(callback->m_lock);
    EXPECT_EQ(names.size(), callback->m_created.size());
    for (auto& n : names)
        EXPECT_NE(callback->m_created.end(),
                  std::find(callback->m_created.begin(), callback->m_created.end(), n));
    // The decoder's own choices pass through the callback as well.
    EXPECT_TRUE(callback->m_selected.count("vp8dec"));
    EXPECT_TRUE(callback->m_selected.count("videoconvert"));
    site->SetSite(nullptr);
}

TEST(GraphBuild, ARefusedFilterIsNotUsed) {
    CGraph g;
    CComPtr<CBuilderCallback> callback(new CBuilderCallback("audioconvert"));
    CComPtr<IObjectWithSite> site = g.builder;
    site->SetSite(static_cast<IAMGraphBuilderCallback*>(callback.Get()));
    EXPECT_EQ(VFW_S_AUDIO_NOT_RENDERED,
              g.builder->RenderFile(testmedia::VideoAudio().c_str(), nullptr));
    CComPtr<IBaseFilter> audio;
    EXPECT_EQ(VFW_E_NOT_FOUND, g.builder->FindFilterByName("Audio Renderer", &audio));
    g.control->Pause();
    EXPECT_TRUE(g.Settle());
    EXPECT_EQ(0, g.Frame());

    CGraph h;
    CComPtr<CBuilderCallback> noVideo(new CBuilderCallback("decodebin"));
    CComPtr<IObjectWithSite> site2 = h.builder;
    site2->SetSite(static_cast<IAMGraphBuilderCallback*>(noVideo.Get()));
    EXPECT_TRUE(FAILED(h.builder->RenderFile(testmedia::Video25().c_str(), nullptr)));
    EXPECT_EQ(0u, h.FilterCount());
}

// Building that goes on after the file was read to its end is no stalled
// file: a builder callback taking most of the idle allowance for each of its
// choices (a loaded machine plugs elements as slowly) still gets the clip.
TEST(GraphBuild, SlowPluggingAfterTheLastReadIsNotATruncatedFile) {
    CGraph g;
    CComPtr<CBuilderCallback> callback(new CBuilderCallback());
    callback->m_delay = std::chrono::milliseconds(CFilterGraph::kSourceIdleMs * 3 / 5);
    CComPtr<IObjectWithSite> site = g.builder;
    site->SetSite(static_cast<IAMGraphBuilderCallback*>(callback.Get()));
    EXPECT_EQ(S_OK, g.builder->RenderFile(testmedia::VideoAudio().c_str(), nullptr));
    site->SetSite(nullptr);
}

TEST(GraphBuild, PinsDescribeTheirConnections) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video25().c_str(), nullptr));
    CComPtr<IBaseFilter> renderer = Named(g, "Video Renderer");
    CLSID clsid;
    renderer->GetClassID(&clsid);
    EXPECT_EQ(CLSID_VideoRenderer, clsid);
    CComPtr<IEnumPins> pins;
    ASSERT_EQ(S_OK, renderer->EnumPins(&pins));
    IPin* pin = nullptr;
    ASSERT_EQ(S_OK, pins->Next(1, &pin, nullptr));
    CComPtr<IPin> in;
    in.Attach(pin);
    EXPECT_EQ(S_FALSE, pins->Next(1, &pin, nullptr));  // a renderer has one pin
    PIN_DIRECTION dir;
    in->QueryDirection(&dir);
    EXPECT_EQ(PINDIR_INPUT, dir);
    PIN_INFO info;
    in->QueryPinInfo(&info);
    EXPECT_TRUE(IsSameObject(info.pFilter, renderer));
    info.pFilter->Release();
    FILTER_INFO finfo;
    renderer->QueryFilterInfo(&finfo);
    EXPECT_TRUE(IsSameObject(finfo.pGraph, g.builder));
    finfo.pGraph->Release();
    // The same pad is always the same pin.
    CComPtr<IPin> again = PinOf(renderer, "sink");
    EXPECT_EQ(in.Get(), again.Get());
    CComPtr<IPin> peer;
    ASSERT_EQ(S_OK, in->ConnectedTo(&peer));
    CComPtr<IPin> back;
    ASSERT_EQ(S_OK, peer->ConnectedTo(&back));
    EXPECT_EQ(in.Get(), back.Get());
    // Accepted types: the renderer takes the decoders' formats as they are
    // (YUY2 too), up to its largest size.
    AM_MEDIA_TYPE mt;
    ASSERT_EQ(S_OK, in->ConnectionMediaType(&mt));
    EXPECT_EQ(S_OK, in->QueryAccept(&mt));
    CMediaType yuy2(mt);
    yuy2.SetSubtype(MEDIASUBTYPE_YUY2);
    ASSERT_EQ(FORMAT_VideoInfo, mt.formattype);
    auto* yuy2Header = reinterpret_cast<VIDEOINFOHEADER*>(yuy2.Format());
    yuy2Header->bmiHeader.biCompression = MakeFourCC('Y', 'U', 'Y', '2');
    yuy2Header->bmiHeader.biBitCount = 16;
    EXPECT_EQ(S_OK, in->QueryAccept(&yuy2));
    yuy2Header->bmiHeader.biWidth = 20000;
    yuy2Header->rcSource = yuy2Header->rcTarget = RECT{0, 0, 20000, 240};
    EXPECT_EQ(S_FALSE, in->QueryAccept(&yuy2));
    FreeMediaType(mt);
    // Preferred types of the renderer's pin, one per pixel format.
    CComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, in->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* t = nullptr;
    int count = 0;
    while (types->Next(1, &t, nullptr) == S_OK) {
        EXPECT_EQ(MEDIATYPE_Video, t->majortype);
        ++count;
        DeleteMediaType(t);
    }
    EXPECT_GE(count, 1);
    // An unconnected pin reports so.
    CComPtr<IEnumFilters> filters;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, PinOf(renderer, "sink")->ConnectedTo(&peer) == S_OK
                                       ? VFW_E_NOT_CONNECTED
                                       : VFW_E_NOT_CONNECTED);
}

// Takes the video renderer off its converter and puts a filter in between,
// as the player does with its own filters.
TEST(GraphBuild, DisconnectAndConnectThroughAnotherFilter) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video25().c_str(), nullptr));
    g.control->Pause();
    ASSERT_TRUE(g.Settle());
    g.SeekTo(20 * kFrame25);
    ASSERT_TRUE(g.Settle());
    g.control->Stop();
    CComPtr<IBaseFilter> renderer = Named(g, "Video Renderer");
    CComPtr<IPin> in = PinOf(renderer, "sink");
    CComPtr<IPin> out;
    ASSERT_EQ(S_OK, in->ConnectedTo(&out));
    EXPECT_EQ(S_OK, g.builder->Disconnect(out));
    EXPECT_EQ(S_FALSE, g.builder->Disconnect(in));  // already apart
    CComPtr<IPin> none;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, in->ConnectedTo(&none));
    // A middle filter that only takes YUY2: Connect adds a converter behind it.
    CComPtr<IBaseFilter> middle = CreateElementFilter("capsfilter");
    ASSERT_TRUE(middle);
    GstElement* element = static_cast<CElementFilter*>(middle.Get())->Element();
    GstCaps* caps = gst_caps_from_string("video/x-raw,format=YUY2");
    g_object_set(element, "caps", caps, nullptr);
    gst_caps_unref(caps);
    ASSERT_EQ(S_OK, g.builder->AddFilter(middle, "Middle"));
    EXPECT_EQ(VFW_S_DUPLICATE_NAME,
              g.builder->AddFilter(CreateElementFilter("identity"), "Middle"));
    ASSERT_EQ(S_OK, g.builder->Connect(out, PinOf(middle, "sink")));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, g.builder->Connect(out, PinOf(middle, "sink")));
    ASSERT_EQ(S_OK, g.builder->Connect(PinOf(middle, "src"), in));
    // The position survived the rebuild.
    EXPECT_EQ(20 * kFrame25, g.Position());
    g.control->Pause();
    ASSERT_TRUE(g.Settle());
    EXPECT_EQ(20, g.Frame());
    AM_MEDIA_TYPE mt;
    ASSERT_EQ(S_OK, PinOf(middle, "src")->ConnectionMediaType(&mt));
    EXPECT_EQ(MEDIASUBTYPE_YUY2, mt.subtype);
    FreeMediaType(mt);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    EXPECT_TRUE(g.WaitEvent(EC_COMPLETE));
    EXPECT_EQ(74, g.Frame());
}

TEST(GraphBuild, RemoveAndRenderAgain) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video25().c_str(), nullptr));
    g.control->Pause();
    ASSERT_TRUE(g.Settle());
    g.control->Stop();
    CComPtr<IBaseFilter> renderer = Named(g, "Video Renderer");
    CComPtr<IBaseFilter> converter = Named(g, "Color Space Converter");
    size_t before = g.FilterCount();
    ASSERT_EQ(S_OK, g.builder->RemoveFilter(renderer));
    EXPECT_EQ(VFW_E_NOT_FOUND, g.builder->RemoveFilter(renderer));
    EXPECT_EQ(before - 1, g.FilterCount());
    FILTER_INFO info;
    renderer->QueryFilterInfo(&info);
    EXPECT_EQ(nullptr, info.pGraph);
    CComPtr<IBasicVideo> video = g.builder;
    EXPECT_FALSE(video);
    // The converter's output is free again: rendering it brings a new renderer.
    CComPtr<IPin> free = PinOf(converter, "src");
    ASSERT_EQ(S_OK, g.builder->Render(free));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, g.builder->Render(free));
    g.control->Pause();
    ASSERT_TRUE(g.Settle());
    EXPECT_EQ(0, g.Frame());
}

TEST(GraphFile, LoadsAPipelineDescriptionAndRendersItsOutputs) {
    CGraph g;
    CComPtr<IPersistStream> persist = g.builder;
    ASSERT_TRUE(persist);
    std::string text = "# saved graph\nfilesrc location=\"" + testmedia::VideoAudio() +
                       "\" ! matroskademux name=demux\ndemux.video_0 ! queue ! vp8dec\n";
    CComPtr<IStream> stream;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(&stream, text.data(), text.size()));
    ASSERT_EQ(S_OK, persist->Load(stream));
    auto names = g.FilterNames();
    auto has = [&](const char* n) {
        return std::find(names.begin(), names.end(), n) != names.end();
    };
    EXPECT_TRUE(has("demux"));
    EXPECT_TRUE(has("Video Renderer"));
    EXPECT_TRUE(has("Audio Renderer"));  // the demuxer's free audio output was rendered
    g.control->Pause();
    ASSERT_TRUE(g.Settle());
    EXPECT_EQ(0, g.Frame());
}

TEST(GraphFile, RefusesWhatAGraphFileMustNotDo) {
    auto load = [](const std::string& text) {
        CGraph g;
        CComPtr<IPersistStream> persist = g.builder;
        CComPtr<IStream> stream;
        CreateStreamOnHGlobal(&stream, text.data(), text.size());
        HRESULT hr = persist->Load(stream);
        EXPECT_EQ(0u, g.FilterCount()) << text;
        return hr;
    };
    std::string clip = testmedia::Video25();
    EXPECT_EQ(E_ACCESSDENIED, load("filesrc location=" + clip + " ! filesink location=/tmp/x"));
    EXPECT_EQ(E_ACCESSDENIED, load("videotestsrc ! vp8enc"));
    EXPECT_EQ(E_ACCESSDENIED, load("tcpserversrc port=7777 ! decodebin"));
    EXPECT_EQ(E_ACCESSDENIED, load("filesrc location=" + clip + " ! queue2 temp-template=/tmp/q"));
    EXPECT_EQ(E_ACCESSDENIED, load("filesrc location=" + clip + " ! ( matroskademux )"));
    EXPECT_EQ(VFW_E_INVALID_FILE_FORMAT, load("filesrc ! ! !"));
    EXPECT_EQ(VFW_E_INVALID_FILE_FORMAT, load("nosuchelement"));
    EXPECT_EQ(VFW_E_INVALID_FILE_FORMAT, load(""));
    std::string storage("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    storage += std::string(504, '\0');
    EXPECT_EQ(VFW_E_INVALID_FILE_FORMAT, load(storage));
}

// A renderer whose input changes size reports it; the window state follows.
TEST(GraphBuild, SizeChangesAndWindowState) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(testmedia::Video25().c_str(), nullptr));
    g.control->Pause();
    ASSERT_TRUE(g.Settle());
    g.control->Stop();
    CComPtr<IBaseFilter> renderer = Named(g, "Video Renderer");
    CComPtr<IPin> in = PinOf(renderer, "sink");
    CComPtr<IPin> out;
    ASSERT_EQ(S_OK, in->ConnectedTo(&out));
    ASSERT_EQ(S_OK, g.builder->Disconnect(out));
    CComPtr<IBaseFilter> scale = CreateElementFilter("videoscale");
    CComPtr<IBaseFilter> size = CreateElementFilter("capsfilter");
    GstCaps* caps = gst_caps_from_string("video/x-raw,width=160,height=120");
    g_object_set(static_cast<CElementFilter*>(size.Get())->Element(), "caps", caps, nullptr);
    gst_caps_unref(caps);
    ASSERT_EQ(S_OK, g.builder->AddFilter(scale, "Scale"));
    ASSERT_EQ(S_OK, g.builder->AddFilter(size, "Size"));
    ASSERT_EQ(S_OK, g.builder->ConnectDirect(out, PinOf(scale, "sink"), nullptr));
    ASSERT_EQ(S_OK, g.builder->ConnectDirect(PinOf(scale, "src"), PinOf(size, "sink"), nullptr));
    ASSERT_EQ(S_OK, g.builder->ConnectDirect(PinOf(size, "src"), in, nullptr));
    g.control->Pause();
    LONG_PTR packed = 0;
    ASSERT_TRUE(g.WaitEvent(EC_VIDEO_SIZE_CHANGED, &packed));
    EXPECT_EQ(160, packed & 0xFFFF);
    EXPECT_EQ(120, (packed >> 16) & 0xFFFF);
    ASSERT_TRUE(g.Settle());
    CComPtr<IBasicVideo> video = g.builder;
    LONG w = 0, h = 0;
    EXPECT_EQ(S_OK, video->GetVideoSize(&w, &h));
    EXPECT_EQ(160, w);
    EXPECT_EQ(120, h);

    CComPtr<IVideoWindow> window = g.builder;
    ASSERT_TRUE(window);
    LONG l, t, ww, wh;
    EXPECT_EQ(S_OK, window->GetWindowPosition(&l, &t, &ww, &wh));
    EXPECT_EQ(160, ww);  // until placed, the video's own size
    EXPECT_EQ(S_OK, window->SetWindowPosition(10, 20, 300, 200));
    EXPECT_EQ(S_OK, window->GetWindowPosition(&l, &t, &ww, &wh));
    EXPECT_EQ((std::vector<LONG>{10, 20, 300, 200}), (std::vector<LONG>{l, t, ww, wh}));
    // Each edge accessor changes its own part only.
    EXPECT_EQ(S_OK, window->put_Left(11));
    EXPECT_EQ(S_OK, window->put_Top(21));
    EXPECT_EQ(S_OK, window->put_Width(301));
    EXPECT_EQ(S_OK, window->put_Height(201));
    LONG parts[4] = {};
    window->get_Left(&parts[0]);
    window->get_Top(&parts[1]);
    window->get_Width(&parts[2]);
    window->get_Height(&parts[3]);
    EXPECT_EQ((std::vector<LONG>{11, 21, 301, 201}), std::vector<LONG>(parts, parts + 4));
    EXPECT_EQ(E_POINTER, window->get_Left(nullptr));
    // Losing the owner while in full screen ends full screen and says so.
    QObject host, other;
    EXPECT_EQ(S_OK, window->put_Owner(&host));
    EXPECT_EQ(S_OK, window->put_FullScreenMode(OATRUE));
    EXPECT_EQ(S_OK, window->put_Owner(&other));
    EXPECT_TRUE(g.WaitEvent(EC_FULLSCREEN_LOST, nullptr, 0));
    LONG full = OATRUE;
    window->get_FullScreenMode(&full);
    EXPECT_EQ(OAFALSE, full);
    OAHWND owner = nullptr;
    window->get_Owner(&owner);
    EXPECT_EQ(&other, owner);
}

}  // namespace
