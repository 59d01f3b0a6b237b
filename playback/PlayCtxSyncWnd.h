#pragma once
// CPlayCtxSyncWnd: the hidden object on the user-interface thread through
// which a play context's worker hands its findings back. The worker posts
// sync messages (event type 0x8064, code and parameter); the object runs
// the dispatch on its own thread and reports whatever the dispatch throws.
#include <QEvent>
#include <QObject>
#include <cstdint>
#include <functional>
#include <mutex>

// WM_APP + 100: the sync message.
constexpr int WM_PLAYCTX_SYNC = 0x8064;

// Sync message codes.
enum PlayCtxSyncCode : int32_t {
    SYNC_PLAY_END = 1,   // end of media (parameter 1: the graph completed)
    SYNC_CLIP_END = 2,   // the current clip ended and another follows
    SYNC_SEEK_DONE = 3,  // a pending seek was made
};

class CPlayCtxSyncEvent : public QEvent {
public:
    CPlayCtxSyncEvent(int32_t code, intptr_t param)
        : QEvent(static_cast<QEvent::Type>(WM_PLAYCTX_SYNC)), m_code(code), m_param(param) {}
    int32_t m_code;
    intptr_t m_param;
};

class CPlayCtxSyncWnd : public QObject {
public:
    using Dispatch = std::function<void(int32_t code, intptr_t param)>;
    static constexpr const char* kClassName = "PlayCtxThreadSyncWnd";

    // Lives on the thread that creates it.
    explicit CPlayCtxSyncWnd(Dispatch dispatch);
    ~CPlayCtxSyncWnd() override;

    // Any thread: queues a sync message for the dispatch.
    void PostSync(int32_t code, intptr_t param);

protected:
    bool event(QEvent* e) override;

private:
    Dispatch m_dispatch;
    std::mutex m_handoff;
};
