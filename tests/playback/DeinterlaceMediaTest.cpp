// The deinterlace filter in the play context's graph, on a clip whose two
// fields show different moments: which field each method shows, double
// rate, method switches while playing, switching off and on, and caps
// changes in the middle of a stream.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "deinterlace/DeInterlaceFilter.h"
#include "playback/PlayCtx.h"
#include "tests/media/TestMedia.h"
#include "tests/playback/PlaybackTestUtil.h"

namespace {

class CQuietNotify : public IPlayNotify {
public:
    void OnPlayEnd(CPlayCtx*) override { ++m_ends; }
    void OnPlayListChanged(CPlayCtx*) override {}
    void OnPlayNotify(CPlayCtx*, int32_t, int32_t) override {}
    std::atomic<int> m_ends{0};
};

// Counts the buffers passing a pad.
struct CPadCounter {
    std::atomic<int> buffers{0};
    static GstPadProbeReturn Probe(GstPad*, GstPadProbeInfo*, gpointer data) {
        ++static_cast<CPadCounter*>(data)->buffers;
        return GST_PAD_PROBE_OK;
    }
};

class DeinterlaceMediaTest : public testing::Test {
protected:
    void SetUp() override {
        vtest::EnsureApplication();
        m_ctx.Create(&m_notify);
    }
    void TearDown() override {
        m_ctx.Close();
        m_ctx.Shutdown();
    }

    CComPtr<IBaseFilter> FilterByName() {
        CComPtr<IBaseFilter> filter;
        m_ctx.GetGraph()->GetGraph()->FindFilterByName("DeInterlace", &filter);
        return filter;
    }
    CDeInterlace* Filter() { return dynamic_cast<CDeInterlace*>(FilterByName().Get()); }

    // The bar frame shown in picture row 'row' of the current image (-1:
    // no bar, -2: no image).
    int BarFrameAtRow(int row) {
        std::vector<BYTE> dib;
        BYTE* bits = nullptr;
        if (!m_ctx.GetGraph()->GetCurrentImage(dib, &bits))
            return -2;
        BITMAPINFOHEADER bmi;
        std::memcpy(&bmi, dib.data(), sizeof bmi);
        const int bpp = bmi.biBitCount / 8, rows = bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight;
        const int stride = (bmi.biWidth * bpp + 3) & ~3;
        const int memoryRow = bmi.biHeight > 0 ? rows - 1 - row : row;
        return testmedia::FrameNumberFromRow(bits + size_t(memoryRow) * stride, bmi.biWidth, bpp);
    }

    CQuietNotify m_notify;
    CPlayCtx m_ctx;
};

TEST_F(DeinterlaceMediaTest, EachMethodShowsItsField) {
    m_ctx.Open(testmedia::InterlacedFields());
    // Without the filter the woven frame shows both moments.
    EXPECT_EQ(0, BarFrameAtRow(120));
    EXPECT_EQ(1, BarFrameAtRow(121));
    struct Case {
        int method;
        int shown;  // bar frame in every row of the first output frame
    };
    for (Case c : {Case{1, 0}, Case{2, 1}, Case{3, 0}, Case{4, 1}}) {
        SCOPED_TRACE(c.method);
        m_ctx.SetDeinterlaceSettings(c.method, 0, 0);
        ASSERT_TRUE(m_ctx.SetDeinterlace(true));
        EXPECT_TRUE(vtest::PumpUntil(
            [&] { return BarFrameAtRow(120) == c.shown && BarFrameAtRow(121) == c.shown; }, 20000));
        EXPECT_EQ(c.method > 2 ? 200000 : 400000, m_ctx.GetFrameDuration());
        ASSERT_TRUE(m_ctx.SetDeinterlace(false));
        EXPECT_FALSE(FilterByName());
    }
}

TEST_F(DeinterlaceMediaTest, DoubleRateDeliversTwoFramesPerFrame) {
    m_ctx.SetDeinterlaceSettings(3, 1, 0);
    ASSERT_TRUE(m_ctx.SetDeinterlace(true));
    m_ctx.Open(testmedia::InterlacedFields());  // spliced in after rendering
    CDeInterlace* filter = Filter();
    ASSERT_TRUE(filter);
    m_ctx.GetGraph()->WaitForState();  // the types are known once the first frame is there
    EXPECT_EQ(200000, m_ctx.GetFrameDuration());
    CPadCounter in, out;
    gst_pad_add_probe(filter->PadOf(0), GST_PAD_PROBE_TYPE_BUFFER, &CPadCounter::Probe, &in,
                      nullptr);
    gst_pad_add_probe(filter->PadOf(1), GST_PAD_PROBE_TYPE_BUFFER, &CPadCounter::Probe, &out,
                      nullptr);
    m_ctx.Run();
    ASSERT_TRUE(vtest::PumpUntil([&] { return m_notify.m_ends == 1; }, 30000));
    // The counting starts with the first frame's first field held by the
    // paused renderer: its second field is still to come.
    EXPECT_GT(in.buffers, 10);
    EXPECT_EQ(2 * in.buffers + 1, out.buffers);
}

TEST_F(DeinterlaceMediaTest, SwitchingToDoubleRateWhilePlayingHalvesTheFrameTime) {
    m_ctx.SetDeinterlaceSettings(1, 0, 0);
    m_ctx.SetDeinterlace(true);
    m_ctx.Open(testmedia::Video25());
    CDeInterlace* filter = Filter();
    ASSERT_TRUE(filter);
    auto outputFrameTime = [&] {
        CMediaType mt = filter->OutputPin()->CurrentMediaTypeCopy();
        return mt.BitmapHeader() ? reinterpret_cast<VIDEOINFOHEADER*>(mt.Format())->AvgTimePerFrame
                                 : -1;
    };
    m_ctx.GetGraph()->WaitForState();
    EXPECT_EQ(400000, outputFrameTime());
    m_ctx.Run();
    m_ctx.SetDeinterlaceSettings(3, 0, 0);
    EXPECT_TRUE(vtest::PumpUntil([&] { return outputFrameTime() == 200000; }, 20000));
    EXPECT_EQ(200000, m_ctx.GetFrameDuration());
}

TEST_F(DeinterlaceMediaTest, OffAndOnWhilePausedKeepsPositionAndVolume) {
    m_ctx.Open(testmedia::VideoAudio());
    m_ctx.Seek(800000, false);
    m_ctx.SetVolume(0);
    for (bool on : {true, false, true}) {
        SCOPED_TRACE(on);
        ASSERT_TRUE(m_ctx.SetDeinterlace(on));
        EXPECT_EQ(on, bool(FilterByName()));
        EXPECT_EQ(m_ctx.GetState(), CPlayCtx::PlayPaused);
        EXPECT_EQ(0, m_ctx.GetGraph()->GetVolume());
        EXPECT_TRUE(vtest::PumpUntil([&] { return BarFrameAtRow(120) == 2; }, 20000));
        EXPECT_NEAR(double(m_ctx.GetPosition()), 800000.0, 1.0);
    }
}

}  // namespace
