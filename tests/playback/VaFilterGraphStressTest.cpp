// Opening, playing and resetting many graphs in a row must not leave
// objects behind nor grow memory, neither on the bare graph nor through
// the wrapper.
#include <gtest/gtest.h>
#include <malloc.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/sync/Sync.h"
#include "playback/VaFilterGraph.h"
#include "playback/VaGraphUtil.h"
#include "playback/VaWindowHook.h"
#include "support/RefTime.h"
#include "tests/media/TestMedia.h"
#include "tests/platform/dshow/GstLiveObjects.h"

namespace {

constexpr int kRounds = 200;       // through the wrapper
constexpr int kBareRounds = 50;    // on the bare graph
constexpr int kWarmUpRounds = 10;  // plugin loading, type registration, caches
// Heap that may come and go with the allocator's own bookkeeping (per-thread
// caches of the streaming threads). A graph that kept its pipeline cost
// about 180 KiB, one that kept a decoded frame 115 KiB and more, so either
// exceeds this after a few dozen rounds.
constexpr long kHeapSlackKiB = 4 * 1024;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kHeapMeasurable = false;  // the sanitizer brings its own allocator
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kHeapMeasurable = false;
#else
constexpr bool kHeapMeasurable = true;
#endif
#else
constexpr bool kHeapMeasurable = true;
#endif

// Bytes the C heap has handed out and not taken back (all arenas, with the
// large blocks it maps on its own), in KiB.
long HeapInUseKiB() {
    QCoreApplication::processEvents();
    struct mallinfo2 info = mallinfo2();
    return long((info.uordblks + info.hblkhd) / 1024);
}

// Resident set size in KiB after giving freed memory back to the system.
long ResidentKiB() {
    QCoreApplication::processEvents();
    malloc_trim(0);
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof(line), f)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            kib = std::atol(line + 6);
            break;
        }
    }
    std::fclose(f);
    return kib;
}

struct CCompletionSink : CVaCheckEvent {
    void OnEvent(long code, LONG_PTR, LONG_PTR) override {
        if (code == EC_COMPLETE || code == EC_ERRORABORT)
            last = code;
    }
    long last = 0;
};

// Objects of one round that must all be gone after the reset.
struct CLeftovers {
    int graphs = 0;
    int filters = 0;
};

// One round through the wrapper: open, play a few frames to their end, reset.
void PlayOnce(CVaFilterGraph& graph, const std::string& clip, CLeftovers& left) {
    graph->Reset(true);
    graph->RenderFile(clip);
    graph->SetStopPosition(3 * UNITS / 25);
    CEvent* handle = graph->GetEventHandle();
    graph->Run();
    CCompletionSink sink;
    for (int i = 0; i < 100 && sink.last == 0; ++i) {
        WaitForSingleObject(*handle, 100);
        graph->ProcessEvents(&sink);
    }
    ASSERT_EQ(sink.last, EC_COMPLETE);

    // Hold the graph and its filters across the reset: afterwards ours must
    // be the last references.
    IGraphBuilder* held = graph->GetGraph();
    held->AddRef();
    std::vector<IBaseFilter*> filters;
    for (CComPtr<IBaseFilter>& filter : va::ListFilters(held))
        filters.push_back(filter.Detach());
    graph->Reset(true);
    if (held->Release() != 0)
        ++left.graphs;
    for (IBaseFilter* filter : filters)
        if (filter->Release() != 0)
            ++left.filters;
}

// The same round on the bare graph, without the wrapper.
void PlayOnceBare(const std::string& clip) {
    CComPtr<IGraphBuilder> graph;
    ASSERT_EQ(graph.CreateInstance(CLSID_FilterGraph), S_OK);
    ASSERT_TRUE(SUCCEEDED(graph->RenderFile(clip.c_str(), nullptr)));
    CComPtr<IMediaControl> control(graph.Get());
    CComPtr<IMediaEventEx> events(graph.Get());
    CComPtr<IMediaSeeking> seeking(graph.Get());
    LONGLONG stop = 3 * UNITS / 25;
    seeking->SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_AbsolutePositioning);
    OAEVENT handle = nullptr;
    events->GetEventHandle(&handle);
    control->Run();
    LONG code = 0;
    for (int i = 0; i < 100 && code != EC_COMPLETE; ++i) {
        WaitForSingleObject(*handle, 100);
        LONG_PTR p1 = 0, p2 = 0;
        while (code != EC_COMPLETE && SUCCEEDED(events->GetEvent(&code, &p1, &p2, 0)))
            events->FreeEventParams(code, p1, p2);
    }
    ASSERT_EQ(code, EC_COMPLETE);
    control->Stop();
}

// Where memory stands between rounds.
struct CMark {
    gsttest::CCensus objects;
    long heapKiB = 0;
    long residentKiB = 0;
    void Take(gsttest::CCensus census) {
        objects = std::move(census);
        heapKiB = HeapInUseKiB();
        residentKiB = ResidentKiB();
    }
};

CMark MarkNow() {
    CMark mark;
    mark.Take(gsttest::CLiveObjects::Census());
    return mark;
}

// Nothing of the rounds since `before` may outlive them: the GStreamer
// objects alive afterwards are at most those alive before, and the heap
// stays within its slack.
void ExpectNothingLeft(const char* what, int rounds, const CMark& before) {
    CMark after;
    after.Take(gsttest::CLiveObjects::CensusNoLargerThan(before.objects));
    std::printf(
        "%s, %d graphs: live GStreamer objects %d -> %d, heap %+ld KiB, resident %+ld KiB\n", what,
        rounds, gsttest::Total(before.objects), gsttest::Total(after.objects),
        after.heapKiB - before.heapKiB, after.residentKiB - before.residentKiB);
    EXPECT_LE(gsttest::Total(after.objects), gsttest::Total(before.objects))
        << what << " left GStreamer objects behind: "
        << gsttest::CensusChange(before.objects, after.objects);
    if (kHeapMeasurable) {
        EXPECT_LT(after.heapKiB - before.heapKiB, kHeapSlackKiB) << what << " grew the heap";
    }
}

TEST(GraphStress, TwoHundredGraphsInARowLeaveNothingBehind) {
    static int argc = 1;
    static char name[] = "playback_stress_tests";
    static char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const std::string clip = testmedia::VideoAudio();
    gsttest::CLiveObjects::Census();  // counting starts before the first graph

    for (int i = 0; i < kWarmUpRounds; ++i) {
        PlayOnceBare(clip);
        if (HasFatalFailure())
            return;
    }
    CMark bareStart = MarkNow();
    for (int i = 0; i < kBareRounds; ++i) {
        PlayOnceBare(clip);
        if (HasFatalFailure())
            return;
    }
    ExpectNothingLeft("bare graph", kBareRounds, bareStart);

    CLeftovers left;
    CVaFilterGraph graph;
    for (int i = 0; i < kWarmUpRounds; ++i) {
        PlayOnce(graph, clip, left);
        if (HasFatalFailure())
            return;
    }
    CMark wrapperStart = MarkNow();
    for (int i = 0; i < kRounds; ++i) {
        PlayOnce(graph, clip, left);
        if (HasFatalFailure())
            return;
    }
    graph->Reset(true);
    ExpectNothingLeft("through the wrapper", kRounds, wrapperStart);

    EXPECT_EQ(left.graphs, 0);
    EXPECT_EQ(left.filters, 0);
    // Only the notification object stays hooked.
    EXPECT_EQ(CVaWindowHook::HookCount(), 1u);
}

}  // namespace
