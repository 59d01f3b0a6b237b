// A graph gives back every GStreamer object it made once it is released,
// whichever way it ended: played to its end, released while running, or
// failed to build.
#include <gtest/gtest.h>

#include "support/RefTime.h"
#include "tests/TestSupport.h"
#include "tests/platform/dshow/GraphTestSupport.h"
#include "tests/platform/dshow/GstLiveObjects.h"

using namespace graphtest;

namespace {

void PlayToTheEnd(const std::string& clip) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(clip.c_str(), nullptr));
    LONGLONG stop = 2 * UNITS / 25;
    ASSERT_EQ(S_OK, g.seeking->SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop,
                                            AM_SEEKING_AbsolutePositioning));
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    ASSERT_TRUE(g.WaitEvent(EC_COMPLETE));
    g.control->Stop();
}

void ReleaseWhileRunning(const std::string& clip) {
    CGraph g;
    ASSERT_EQ(S_OK, g.builder->RenderFile(clip.c_str(), nullptr));
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    ASSERT_TRUE(g.Settle());
}

void FailToBuild(const std::string& path) {
    CGraph g;
    EXPECT_TRUE(FAILED(g.builder->RenderFile(path.c_str(), nullptr)));
}

// Every kind of graph once: loads plugins and fills GStreamer's caches.
void EachKindOnce(const std::string& notMedia) {
    PlayToTheEnd(testmedia::VideoAudio());
    PlayToTheEnd(testmedia::Interlaced());
    ReleaseWhileRunning(testmedia::Video25());
    FailToBuild(notMedia);
}

TEST(GraphLifetime, ReleasedGraphsLeaveNoGStreamerObjectsBehind) {
    vtest::TempDir dir;
    std::string notMedia = dir.Path() + "/notes.webm";
    vtest::WriteFile(notMedia, std::string(2000, 'x') + "\nThis is not a video at all.\n");
    gsttest::CLiveObjects::Census();  // counting starts here

    EachKindOnce(notMedia);
    if (HasFatalFailure())
        return;
    gsttest::CCensus before = gsttest::CLiveObjects::Census();
    for (int i = 0; i < 3 && !HasFatalFailure(); ++i)
        EachKindOnce(notMedia);
    gsttest::CCensus after = gsttest::CLiveObjects::CensusNoLargerThan(before);
    // A graph that kept its pipeline would leave dozens of objects per round.
    EXPECT_LE(gsttest::Total(after), gsttest::Total(before))
        << gsttest::CensusChange(before, after);
}

}  // namespace
