#pragma once
// IPlayNotify: how a play context reports to its owner (the video panel).
// Every call arrives on the user-interface thread; the first argument is
// always the reporting play context.
#include <cstdint>

class CPlayCtx;

// Progress codes of OnPlayNotify.
enum PlayNotifyCode : int32_t {
    PN_OPEN_BEGIN = 1,       // before a source is rendered; parameter 1 for a URL
    PN_OPEN_DONE = 2,        // after a source was rendered
    PN_OPEN_FAILED = 3,      // rendering threw
    PN_STATE_BEGIN = 4,      // before the graph is told to run or pause
    PN_STATE_DONE = 5,       // after it was told
    PN_STATE_FAILED = 6,     // telling it threw
    PN_SEEK_WAIT_BEGIN = 7,  // a seek has to wait for the stream
    PN_SEEK_WAIT_DONE = 8,   // the waited-for seek was made and the graph paused again
};

class IPlayNotify {
public:
    // The media, the selection or the last clip of a playlist was played to its end.
    virtual void OnPlayEnd(CPlayCtx* ctx) = 0;
    // The playlist changed its current clip or its contents.
    virtual void OnPlayListChanged(CPlayCtx* ctx) = 0;
    // Progress codes PN_OPEN_BEGIN … PN_SEEK_WAIT_DONE; other codes are ignored.
    virtual void OnPlayNotify(CPlayCtx* ctx, int32_t code, int32_t param) = 0;

protected:
    virtual ~IPlayNotify() = default;
};
