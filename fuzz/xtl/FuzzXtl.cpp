// Feeds arbitrary bytes as an XTL document to the XTL reader, then walks
// the timeline it made through the wrappers and checks its source names
// through the player's media locator. Every input must end in a timeline or
// in one of the system's exceptions: never a crash, a leak or an unbounded
// allocation.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/des/XtlReader.h"
#include "support/Exception.h"
#include "timeline/VaDES.h"

namespace {

class CCountingLog : public CUnknownImpl<CCountingLog, IAMErrorLog> {
public:
    HRESULT LogError(long, const std::string& text, long, HRESULT hr,
                     const DES_VARIANT* extra) override {
        m_chars += text.size() + (extra ? extra->str.size() : 0);
        return hr;
    }
    size_t m_chars = 0;
};

void Walk(const CVaAMTimelineObj& obj, int depth) {
    REFERENCE_TIME start = 0, stop = 0;
    obj.GetStartStop(start, stop);
    obj.GetUserName();
    CVaAMTimelineTrack track(obj);
    if (track.IsValid()) {
        for (CVaAMTimelineSrc src = track.GetNextSource(nullptr); src.IsValid();
             src = track.GetNextSource(&src)) {
            src.GetMediaName();
            src.GetMediaTimes(start, stop);
        }
        return;
    }
    CVaAMTimelineComp comp(obj);
    if (comp.IsValid() && depth < 64)
        for (int i = 0; i < comp.GetTrackCount(); ++i)
            Walk(comp.GetTrack(i), depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    try {
        CVaAMTimeline timeline;
        timeline.Create();
        CComPtr<IAMErrorLog> log(static_cast<IAMErrorLog*>(new CCountingLog()));
        timeline.SetErrorLog(log);
        CVaXml2Dex reader;
        reader.Create();
        reader.ReadXML(timeline, text);
        timeline.GetDuration();
        for (int g = 0; g < timeline.GetGroupCount(); ++g) {
            CVaAMTimelineGroup group = timeline.GetGroup(g);
            group.GetOutputFPS();
            Walk(group, 0);
        }
        CVaMediaLocator locator;
        locator.CreateOwn();
        locator.AddFoundLocation(size % 2 ? "C:\\media\\clips" : "/nonexistent/clips");
        timeline.ValidateSourceNames(SFN_VALIDATEF_CHECK | SFN_VALIDATEF_REPLACE, &locator);
    } catch (const CException&) {
    }
    // The time parser on its own.
    REFERENCE_TIME t = 0;
    va::des::ParseXtlTime(text.substr(0, 64), t);
    return 0;
}
