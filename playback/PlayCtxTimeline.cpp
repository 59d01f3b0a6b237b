// Opening an editing timeline: the XTL file is read into the timeline, the
// source names are checked and repaired against the media search folder,
// and a render engine puts the timeline's output into the graph, where it
// is rendered like any source. Switching deinterlacing may change the
// timeline's output rate, which rebuilds the render engine.
#include "playback/PlayCtx.h"
#include "support/Exception.h"

namespace {

// The folder part of a name, up to and including its last separator.
std::string FolderOf(const std::string& name) {
    size_t slash = name.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// Frame rates compare to a thousandth of a frame per second.
int64_t RateKey(double fps) {
    return int64_t(fps * 1000.0);
}

}  // namespace

void CPlayCtx::RenderTimeline(const std::string& name) {
    if (m_timeline.IsValid()) {
        m_timeline.ClearAllGroups();
    } else {
        m_timeline.Create();
        m_timeline.SetErrorLog();
    }
    m_timeline.LoadXtl(name);
    std::string folder = m_searchDirectory.empty() ? FolderOf(name) : m_searchDirectory;
    constexpr long kCheckAndReplace = SFN_VALIDATEF_CHECK | SFN_VALIDATEF_REPLACE;
    if (!folder.empty()) {
        CVaMediaLocator locator;
        locator.CreateOwn();
        locator.AddFoundLocation(folder);
        m_timeline.ValidateSourceNames(kCheckAndReplace, &locator);
    } else {
        m_timeline.ValidateSourceNames(kCheckAndReplace, nullptr);
    }
    m_timelineFrameRate =
        m_timeline.GetGroupCount() > 0 ? TimelineVideoGroup().GetOutputFPS() : 0.0;
    RebuildRenderEngine();
    m_graph->CheckAudioClock();
    m_stopUsable = false;
}

void CPlayCtx::RebuildRenderEngine() {
    CVaRenderEngine engine;
    engine.Create();
    engine.SetTimelineObject(m_timeline);
    m_graph->EnsureGraph();
    engine.SetFilterGraph(m_graph->GetGraph());
    engine.SetDynamicReconnectLevel(0);
    // The old engine takes its front end and renderers out of the graph first.
    m_renderEngine = CVaRenderEngine();
    m_renderer.Detach();
    engine.ConnectFrontEnd();
    engine.RenderOutputPins();
    m_renderEngine = engine;
}

CVaAMTimelineGroup CPlayCtx::TimelineVideoGroup() const {
    int count = m_timeline.GetGroupCount();
    for (int i = 0; i < count; ++i) {
        CVaAMTimelineGroup group = m_timeline.GetGroup(i);
        if (group.IsValid() && group.IsVideo())
            return group;
    }
    return m_timeline.GetGroup(0);
}

void CPlayCtx::AdjustTimelineFrameRate(bool deinterlaceOn) {
    if (!m_renderEngine.IsValid())
        return;
    double wanted = m_timelineFrameRate;
    if (deinterlaceOn && IsDoubleRateMethod())
        wanted *= 2;
    if (RateKey(wanted) == RateKey(TimelineVideoGroup().GetOutputFPS()))
        return;
    int32_t poll = m_thread.GetPollInterval();
    m_thread.SetPollInterval(-1);
    if (m_thread.IsStarted())
        m_thread.Detach();
    int count = m_timeline.GetGroupCount();
    for (int i = 0; i < count; ++i)
        m_timeline.GetGroup(i).SetOutputFPS(wanted);
    m_frameDuration = -1;
    RebuildRenderEngine();
    m_thread.SetPollInterval(poll);
    if (m_thread.IsStarted())
        m_thread.Attach();
    if (m_graph->FindVideoWindowFilter())
        m_graph->ConnectVideoWindow(true);
}
