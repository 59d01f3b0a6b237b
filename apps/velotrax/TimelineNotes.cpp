#include "apps/velotrax/TimelineNotes.h"

#include <cstdio>

#include "support/Exception.h"
#include "timeline/VaDES.h"
#include "timeline/VaErrorLogErrorInfo.h"

HRESULT CNoteErrorLog::LogError(long severity, const std::string& text, long errorCode, HRESULT hr,
                                const DES_VARIANT* extra) {
    bool withExtra = extra && extra->kind == DES_VARIANT::String && !extra->str.empty();
    if (SUCCEEDED(hr))
        std::fprintf(stderr, "velotrax: note: %s%s%s%s\n", text.c_str(), withExtra ? " (" : "",
                     withExtra ? extra->str.c_str() : "", withExtra ? ")" : "");
    // Failures travel with the exception, as the player's own log has them.
    CComPtr<IAMErrorLog> own(static_cast<IAMErrorLog*>(new CVaErrorLogErrorInfo()));
    return own->LogError(severity, text, errorCode, hr, extra);
}

void PrintTimelineNotes(const std::string& path) {
    try {
        CVaAMTimeline timeline;
        timeline.Create();
        CComPtr<IAMErrorLog> log(static_cast<IAMErrorLog*>(new CNoteErrorLog()));
        timeline.SetErrorLog(log);
        timeline.LoadXtl(path);
    } catch (const CException&) {
        // Opening the file reports it.
    }
}
