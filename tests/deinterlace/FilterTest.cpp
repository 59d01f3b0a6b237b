// The deinterlace filter's own rules: settings, persisted stream, the types
// it takes and the frame time it reports.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "deinterlace/DeInterlaceFilter.h"
#include "platform/dshow/DShow.h"
#include "tests/deinterlace/DeInterlaceTestUtil.h"

using deint_test::MakeVideoType;

namespace {

CComPtr<CDeInterlace> MakeFilter() {
    return CComPtr<CDeInterlace>(new CDeInterlace());
}

TEST(DeInterlaceFilter, InterpolationAndSharpenPairs) {
    struct Case {
        DWORD interpolation, sharpen;
        HRESULT set, check;
        DWORD storedInterpolation, storedSharpen;
    };
    const Case cases[] = {
        {1, 3, S_FALSE, S_FALSE, 1, 0},
        {2, 3, S_OK, S_OK, 2, 3},
        {3, 0, E_INVALIDARG, S_FALSE, 0, 0},
        {2, 6, E_INVALIDARG, S_FALSE, 0, 0},
        {0, 0, S_OK, S_OK, 0, 0},
    };
    for (const Case& c : cases) {
        auto filter = MakeFilter();
        EXPECT_EQ(c.check, filter->CheckInterpolation(c.interpolation, c.sharpen));
        EXPECT_EQ(c.set, filter->SetInterpolation(c.interpolation, c.sharpen));
        DWORD i = 9, s = 9;
        ASSERT_EQ(S_OK, filter->GetInterpolation(&i, &s));
        EXPECT_EQ(c.storedInterpolation, i) << c.interpolation << "," << c.sharpen;
        EXPECT_EQ(c.storedSharpen, s) << c.interpolation << "," << c.sharpen;
    }
    auto filter = MakeFilter();
    EXPECT_EQ(E_INVALIDARG, filter->SetMethod(5));
    EXPECT_EQ(E_INVALIDARG, filter->SetDiagnostics(2));
    EXPECT_EQ(E_INVALIDARG, filter->SetConfig(2, 1));
    EXPECT_EQ(E_INVALIDARG, filter->SetConfig(1, 2));
    EXPECT_EQ(E_POINTER, filter->GetInterpolation(nullptr, nullptr));
}

TEST(DeInterlaceFilter, FrameTimeIsHalvedForDoubleRate) {
    auto filter = MakeFilter();
    REFERENCE_TIME t = -1;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, filter->GetFrameTime(&t));  // no input type yet
    filter->InputPin()->SetCurrentMediaType(MakeVideoType(MEDIASUBTYPE_RGB32, 8, 8, 400000));
    struct Case {
        DWORD method;
        REFERENCE_TIME expected;
    };
    for (Case c : {Case{0, 400000}, Case{2, 400000}, Case{3, 200000}, Case{4, 200000}}) {
        filter->SetMethod(c.method);
        EXPECT_EQ(S_OK, filter->GetFrameTime(&t));
        EXPECT_EQ(c.expected, t) << c.method;
    }
    filter->InputPin()->SetCurrentMediaType(MakeVideoType(MEDIASUBTYPE_RGB32, 8, 8, 0));
    EXPECT_EQ(S_FALSE, filter->GetFrameTime(&t));
    EXPECT_EQ(0, t);
}

TEST(DeInterlaceFilter, InputTypes) {
    auto filter = MakeFilter();
    CMediaType argb8 = MakeVideoType(MEDIASUBTYPE_ARGB32, 16, 6);
    const_cast<BITMAPINFOHEADER*>(argb8.BitmapHeader())->biBitCount = 8;
    CMediaType variable = MakeVideoType(MEDIASUBTYPE_RGB32, 8, 8);
    variable.bFixedSizeSamples = 0;
    struct Case {
        const char* name;
        CMediaType type;
        HRESULT expected;
    };
    const Case cases[] = {
        {"RGB32", MakeVideoType(MEDIASUBTYPE_RGB32, 8, 8), S_OK},
        {"ARGB32", MakeVideoType(MEDIASUBTYPE_ARGB32, 8, 8), S_OK},
        {"RGB555", MakeVideoType(MEDIASUBTYPE_RGB555, 8, 8), S_OK},
        {"RGB565", MakeVideoType(MEDIASUBTYPE_RGB565, 7, 8), S_OK},
        {"YUY2 VideoInfo2", MakeVideoType(MEDIASUBTYPE_YUY2, 8, 8, 0, true), S_OK},
        {"RGB24 on a 32-bit screen", MakeVideoType(MEDIASUBTYPE_RGB24, 8, 8), E_FAIL},
        {"ARGB32 with 8 bits", argb8, E_FAIL},
        {"variable sample size", variable, E_FAIL},
        {"UYVY", MakeVideoType(MEDIASUBTYPE_UYVY, 8, 8), E_FAIL},
        {"I420", MakeVideoType(MEDIASUBTYPE_I420, 8, 8), S_OK},
        {"NV12 VideoInfo2", MakeVideoType(MEDIASUBTYPE_NV12, 8, 8, 0, true), S_OK},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, filter->CheckInputType(&c.type)) << c.name;

    CMediaType yuy2Info = MakeVideoType(MEDIASUBTYPE_YUY2, 8, 8, 0, true);
    yuy2Info.SetFormatType(FORMAT_VideoInfo);
    yuy2Info.AllocFormatBuffer(sizeof(VIDEOINFOHEADER));
    reinterpret_cast<VIDEOINFOHEADER*>(yuy2Info.Format())->bmiHeader.biBitCount = 16;
    EXPECT_EQ(E_FAIL, filter->CheckInputType(&yuy2Info));
    // YUV frames get neither sharpening nor the diagnostic text.
    for (const GUID& subtype : {MEDIASUBTYPE_YUY2, MEDIASUBTYPE_I420}) {
        CMediaType yuv = MakeVideoType(subtype, 8, 8, 0, true);
        filter->SetInterpolation(2, 1);
        EXPECT_EQ(E_FAIL, filter->CheckInputType(&yuv));
        filter->SetInterpolation(2, 0);
        filter->SetDiagnostics(1);
        EXPECT_EQ(E_FAIL, filter->CheckInputType(&yuv));
        filter->SetDiagnostics(0);
    }
}

TEST(DeInterlaceFilter, TransformKeepsFormatAndSizes) {
    auto filter = MakeFilter();
    CMediaType in = MakeVideoType(MEDIASUBTYPE_RGB32, 8, -8, 400000);
    CMediaType wider = MakeVideoType(MEDIASUBTYPE_RGB32, 16, -8, 400000);
    reinterpret_cast<VIDEOINFOHEADER*>(wider.Format())->rcSource = {0, 0, 8, 8};
    reinterpret_cast<VIDEOINFOHEADER*>(wider.Format())->rcTarget = {0, 0, 8, 8};
    EXPECT_EQ(S_OK, filter->CheckTransform(&in, &in));
    EXPECT_EQ(S_OK, filter->CheckTransform(&in, &wider));
    CMediaType other = MakeVideoType(MEDIASUBTYPE_ARGB32, 8, -8, 400000);
    EXPECT_EQ(E_FAIL, filter->CheckTransform(&in, &other));
    CMediaType taller = MakeVideoType(MEDIASUBTYPE_RGB32, 8, -10, 400000);
    EXPECT_EQ(E_FAIL, filter->CheckTransform(&in, &taller));
}

std::vector<uint8_t> Stream(int version, std::vector<DWORD> values) {
    char text[16];
    std::snprintf(text, sizeof text, "%011d ", version);
    std::vector<uint8_t> data;
    for (int i = 0; i < 12; ++i) {
        data.push_back(uint8_t(text[i]));
        data.push_back(0);
    }
    for (DWORD v : values)
        for (int i = 0; i < 4; ++i)
            data.push_back(uint8_t(v >> (8 * i)));
    return data;
}

TEST(DeInterlaceFilter, PersistedSettings) {
    auto filter = MakeFilter();
    filter->SetMethod(4);
    filter->SetInterpolation(2, 5);
    filter->SetDiagnostics(1);
    CComPtr<CMemoryStream> saved(new CMemoryStream());
    ASSERT_EQ(S_OK, filter->Save(saved, TRUE));
    EXPECT_EQ(Stream(4, {4, 2, 5, 1}), saved->Data());
    uint64_t size = 0;
    filter->GetSizeMax(&size);
    EXPECT_EQ(36u, size);

    // A version-2 stream carries only the method.
    auto older = MakeFilter();
    older->SetInterpolation(1, 0);
    CComPtr<CMemoryStream> v2(new CMemoryStream(Stream(2, {3, 2, 5, 1})));
    ASSERT_EQ(S_OK, older->Load(v2));
    DWORD method = 0, interpolation = 0, sharpen = 0, diagnostics = 9;
    older->GetMethod(&method);
    older->GetInterpolation(&interpolation, &sharpen);
    older->GetDiagnostics(&diagnostics);
    EXPECT_EQ(3u, method);
    EXPECT_EQ(1u, interpolation);
    EXPECT_EQ(0u, diagnostics);

    auto round = MakeFilter();
    CComPtr<CMemoryStream> again(new CMemoryStream(saved->Data()));
    ASSERT_EQ(S_OK, round->Load(again));
    round->GetInterpolation(&interpolation, &sharpen);
    EXPECT_EQ(2u, interpolation);
    EXPECT_EQ(5u, sharpen);

    std::vector<uint8_t> bad = Stream(4, {1});
    bad[2] = 'x';
    CComPtr<CMemoryStream> badStream(new CMemoryStream(bad));
    EXPECT_EQ(VFW_E_INVALID_FILE_FORMAT, round->Load(badStream));
}

TEST(DeInterlaceFilter, Identity) {
    auto filter = MakeFilter();
    CLSID clsid;
    filter->GetClassID(&clsid);
    EXPECT_EQ(CLSID_DeInterlace, clsid);
    PIN_INFO in, out;
    filter->GetPin(0)->QueryPinInfo(&in);
    filter->GetPin(1)->QueryPinInfo(&out);
    EXPECT_EQ("XForm In", in.achName);
    EXPECT_EQ("XForm Out", out.achName);
    EXPECT_EQ(PINDIR_INPUT, in.dir);
    EXPECT_EQ(PINDIR_OUTPUT, out.dir);
    in.pFilter->Release();
    out.pFilter->Release();
    CComPtr<IPin> found;
    EXPECT_EQ(S_OK, filter->FindPin("In", &found));
    EXPECT_EQ(static_cast<IPin*>(filter->GetPin(0)), found.Get());
    CComPtr<IDeInterlace> itf(static_cast<IBaseFilter*>(filter.Get()));
    CComPtr<IPersistStream> persist(static_cast<IBaseFilter*>(filter.Get()));
    EXPECT_TRUE(itf && persist);
}

// A graph of our own around the filter: test source -> caps -> filter -> sink.
class CFilterGraphFixture {
public:
    CFilterGraphFixture() {
        m_graph.CreateInstance(CLSID_FilterGraph);
        m_source = CreateElementFilter("videotestsrc");
        m_caps = CreateElementFilter("capsfilter");
        m_sink = CreateElementFilter("fakesink");
        g_object_set(Element(m_sink), "sync", FALSE, nullptr);
        SetCaps(64, 48);
        for (auto [f, name] : {std::pair{m_source.Get(), "Source"},
                               {m_caps.Get(), "Caps"},
                               {static_cast<IBaseFilter*>(m_filter.Get()), "DeInterlace"},
                               {m_sink.Get(), "Sink"}})
            EXPECT_EQ(S_OK, m_graph->AddFilter(f, name));
        Connect(m_source, m_caps);
        Connect(m_caps, m_filter);
        Connect(m_filter, m_sink);
        gst_pad_add_probe(m_filter->PadOf(1), GST_PAD_PROBE_TYPE_BUFFER, &Count, &m_out, nullptr);
        gst_pad_add_probe(m_filter->PadOf(0), GST_PAD_PROBE_TYPE_BUFFER, &Keep, &m_lastIn, nullptr);
        gst_pad_add_probe(m_filter->PadOf(1), GST_PAD_PROBE_TYPE_BUFFER, &Keep, &m_lastOut,
                          nullptr);
    }
    ~CFilterGraphFixture() {
        if (CComPtr<IMediaControl> control{m_graph.Get()})
            control->Stop();
        gst_buffer_replace(&m_lastIn, nullptr);
        gst_buffer_replace(&m_lastOut, nullptr);
    }
    static GstElement* Element(IBaseFilter* f) { return CComPtr<IGstElementAccess>(f)->Element(); }
    void SetCaps(int width, int height, const char* format = "BGRx") {
        GstCaps* caps =
            gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format, "width", G_TYPE_INT,
                                width, "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION,
                                25, 1, "interlace-mode", G_TYPE_STRING, "interleaved", nullptr);
        g_object_set(Element(m_caps), "caps", caps, nullptr);
        gst_caps_unref(caps);
    }
    void Connect(IBaseFilter* from, IBaseFilter* to) {
        CComPtr<IPin> out, in;
        ASSERT_EQ(S_OK, from->FindPin(from == m_filter.Get() ? "Out" : "src", &out));
        ASSERT_EQ(S_OK, to->FindPin(to == m_filter.Get() ? "In" : "sink", &in));
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(out, in, nullptr));
    }
    void Run() { CComPtr<IMediaControl>(m_graph.Get())->Run(); }
    int OutputWidth() {
        GstCaps* caps = gst_pad_get_current_caps(m_filter->PadOf(1));
        int width = 0;
        if (caps) {
            gst_structure_get_int(gst_caps_get_structure(caps, 0), "width", &width);
            gst_caps_unref(caps);
        }
        return width;
    }
    static bool WaitFor(const std::function<bool()>& done) {
        for (int i = 0; i < 2000 && !done(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return done();
    }
    static GstPadProbeReturn Count(GstPad*, GstPadProbeInfo*, gpointer data) {
        ++*static_cast<std::atomic<int>*>(data);
        return GST_PAD_PROBE_OK;
    }

    // Keeps the pad's last buffer (under the probe's pad lock, read once the stream ended).
    static GstPadProbeReturn Keep(GstPad*, GstPadProbeInfo* info, gpointer data) {
        gst_buffer_replace(static_cast<GstBuffer**>(data), GST_PAD_PROBE_INFO_BUFFER(info));
        return GST_PAD_PROBE_OK;
    }

    CComPtr<IGraphBuilder> m_graph;
    CComPtr<IBaseFilter> m_source, m_caps, m_sink;
    GstBuffer* m_lastIn = nullptr;
    GstBuffer* m_lastOut = nullptr;
    CComPtr<CDeInterlace> m_filter{new CDeInterlace()};
    std::atomic<int> m_out{0};
};

TEST(DeInterlaceFilterGraph, SizeChangeInTheStreamKeepsItFlowing) {
    CFilterGraphFixture g;
    g.m_filter->SetMethod(3);
    g.Run();
    ASSERT_TRUE(g.WaitFor([&] { return g.m_out >= 6; }));
    EXPECT_EQ(64, g.OutputWidth());
    g.SetCaps(80, 60);
    ASSERT_TRUE(g.WaitFor([&] { return g.OutputWidth() == 80; }));
    int seen = g.m_out;
    EXPECT_TRUE(g.WaitFor([&] { return g.m_out >= seen + 6; }));
    CMediaType out = g.m_filter->OutputPin()->CurrentMediaTypeCopy();
    ASSERT_TRUE(out.BitmapHeader());
    EXPECT_EQ(80, out.BitmapHeader()->biWidth);
    EXPECT_EQ(200000, reinterpret_cast<VIDEOINFOHEADER*>(out.Format())->AvgTimePerFrame);
}

// I420 at an odd size goes through unconverted, each plane at GStreamer's
// offsets and strides: output lines of the odd field are the even input
// lines and the averages between them.
TEST(DeInterlaceFilterGraph, PlanarFramesKeepTheirFormatAndLayout) {
    CFilterGraphFixture g;
    g_object_set(g.Element(g.m_source), "num-buffers", 1, "pattern", 1 /* random */, nullptr);
    g.SetCaps(63, 47, "I420");
    g.m_filter->SetMethod(1);
    g.m_filter->SetInterpolation(1, 0);
    g.Run();
    ASSERT_TRUE(g.WaitFor([&] { return g.m_out >= 1; }));
    CComPtr<IMediaControl>(g.m_graph.Get())->Stop();
    GstCaps* caps = gst_pad_get_current_caps(g.m_filter->PadOf(1));
    ASSERT_TRUE(caps && g.m_lastIn && g.m_lastOut);
    GstVideoInfo info;
    ASSERT_TRUE(gst_video_info_from_caps(&info, caps));
    gst_caps_unref(caps);
    EXPECT_EQ(GST_VIDEO_FORMAT_I420, GST_VIDEO_INFO_FORMAT(&info));
    GstVideoFrame in, out;
    ASSERT_TRUE(gst_video_frame_map(&in, &info, g.m_lastIn, GST_MAP_READ));
    ASSERT_TRUE(gst_video_frame_map(&out, &info, g.m_lastOut, GST_MAP_READ));
    for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(&in); ++p) {
        const int lines = GST_VIDEO_FRAME_COMP_HEIGHT(&in, p);
        const int bytes = GST_VIDEO_FRAME_COMP_WIDTH(&in, p);
        auto row = [p](GstVideoFrame& f, int y) {
            return static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&f, p)) +
                   y * GST_VIDEO_FRAME_PLANE_STRIDE(&f, p);
        };
        for (int y = 0; y < lines; ++y)
            for (int x = 0; x < bytes; ++x) {
                const int above = y % 2 ? y - 1 : y;
                const int below = y % 2 && y + 1 < lines ? y + 1 : above;
                ASSERT_EQ((row(in, above)[x] + row(in, below)[x]) >> 1, row(out, y)[x])
                    << "plane " << p << " line " << y << " byte " << x;
            }
    }
    gst_video_frame_unmap(&in);
    gst_video_frame_unmap(&out);
}

}  // namespace
