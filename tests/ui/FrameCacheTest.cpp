// The decoded-frame cache: budget and eviction order, and stepping through
// generated long-GOP clips whose frames show their number.
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <memory>

#include "platform/dshow/GstSupport.h"
#include "tests/media/TestMedia.h"
#include "ui/FrameCache.h"

namespace {

constexpr REFERENCE_TIME kFrame = 400'000;  // 25 fps

// The frame number shown by an I420 sample of a bar clip moving 'speed'
// pixels per frame.
// Takes over the reference to 'sample'.
int FrameOf(GstSample* sample, int speed) {
    std::unique_ptr<GstSample, decltype(&gst_sample_unref)> owner(sample, gst_sample_unref);
    GstVideoInfo info;
    if (!sample || !gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) ||
        GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_I420)
        return -2;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ))
        return -3;
    const uint8_t* row =
        static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) +
        size_t(GST_VIDEO_INFO_HEIGHT(&info) / 2) * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    int n = testmedia::FrameNumberFromRow(row, GST_VIDEO_INFO_WIDTH(&info), 1, 0, speed);
    gst_video_frame_unmap(&frame);
    return n;
}

GstSample* FakeSample() {
    GstBuffer* buffer = gst_buffer_new();
    GstSample* sample = gst_sample_new(buffer, nullptr, nullptr, nullptr);
    gst_buffer_unref(buffer);
    return sample;
}

TEST(FrameCache, BudgetDropsTheLeastRecentlyUsedStretchFirst) {
    vagst::EnsureInit();
    CFrameCache cache(10);
    // Each step: a stretch of frames (3 bytes each) and what is held after it.
    struct Step {
        std::vector<REFERENCE_TIME> add;
        REFERENCE_TIME touch;  // found before the next step, -1 none
        std::vector<REFERENCE_TIME> held;
    } steps[] = {
        {{0, 1, 2}, 0, {0, 1, 2}},
        {{10, 11}, 10, {10, 11}},                  // 15 bytes: stretch 0..2 goes
        {{10, 20}, 11, {10, 11, 20}},              // 10 already held: kept once
        {{30, 31, 32, 33, 34}, -1, {32, 33, 34}},  // alone over budget: its latest frames stay
    };
    for (const Step& step : steps) {
        cache.BeginStretch();
        for (REFERENCE_TIME t : step.add)
            cache.Add(t, FakeSample(), 3);
        EXPECT_LE(cache.Bytes(), cache.Budget());
        EXPECT_EQ(cache.Frames(), step.held.size());
        for (REFERENCE_TIME t : step.held)
            EXPECT_TRUE(cache.Contains(t, 0)) << t;
        if (step.touch >= 0) {
            EXPECT_NE(cache.Find(step.touch, 0), nullptr);
        }
    }
    // The nearest frame within the tolerance.
    EXPECT_EQ(cache.Find(35, 1), cache.Find(34, 0));
    EXPECT_EQ(cache.Find(36, 1), nullptr);
    cache.SetBudget(3);
    EXPECT_EQ(cache.Frames(), 1u);
}

TEST(FrameStepper, StepsBackAndForthThroughALongGop) {
    vagst::EnsureInit();
    const int speed = testmedia::kLongGopBarSpeed;
    CFrameStepper stepper;
    stepper.SetMedia(testmedia::LongGop(), kFrame);
    // 100 steps back from frame 240: 239 ... 140, each once and in order.
    // Room for 40 frames: the stretch before the cached frames comes from
    // the background while the passed frames make room.
    const size_t budget = 40 * size_t(testmedia::kWidth * testmedia::kHeight * 3 / 2);
    stepper.SetBudget(budget);
    for (int n = 239; n >= 140; --n) {
        ASSERT_EQ(FrameOf(stepper.GetFrame(n * kFrame), speed), n);
        stepper.PrefetchBefore(n * kFrame);
        ASSERT_LE(stepper.CachedBytes(), budget);
    }
    stepper.SetBudget(CFrameCache::kDefaultBudget);
    // Steps both ways across the key frame at 250 never skip or repeat.
    int n = 256;
    const int moves[] = {-1, -1, +1, -1, -1, -1, -1, -1, +1, +1, -1, -1, -1, -1, -1, +1, -1, -1};
    for (int move : moves) {
        n += move;
        ASSERT_EQ(FrameOf(stepper.GetFrame(n * kFrame), speed), n) << "move to " << n;
    }
    EXPECT_LE(stepper.CachedBytes(), stepper.Budget());
}

TEST(FrameStepper, StaysUnderItsBudgetOn4K) {
    vagst::EnsureInit();
    CFrameStepper stepper;
    stepper.SetMedia(testmedia::Uhd(), kFrame);
    stepper.SetBudget(size_t(64) << 20);  // five 4K frames
    for (int n = 9; n >= 0; --n) {
        ASSERT_EQ(FrameOf(stepper.GetFrame(n * kFrame), 8), n);
        EXPECT_LE(stepper.CachedBytes(), size_t(64) << 20);
        EXPECT_GE(stepper.CachedFrames(), 1u);
    }
}

}  // namespace
