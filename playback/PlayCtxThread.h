#pragma once
// CPlayCtxThread: the worker thread of a play context. It waits on its
// command events and, once attached, on the graph's event handle; the wait
// times out after the poll interval so that the position can be watched
// while the graph runs. Commands are handed over with an acknowledge
// handshake: a command that is not acknowledged within three seconds
// throws HRESULT_FROM_WIN32(ERROR_TIMEOUT).
#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/sync/Sync.h"

class CPlayCtxThread {
public:
    // What the worker does for its owner, called on the worker thread.
    class IClient {
    public:
        // Takes the graph's event handle (null: nothing to wait on).
        virtual CEvent* AttachGraphEvents() = 0;
        // The graph's event handle is set: pump the waiting events.
        virtual void PumpGraphEvents() = 0;
        // The wait timed out: watch the position.
        virtual void Poll() = 0;
        // The worker did not leave in time: cut it loose from whatever call
        // into the graph holds it (any thread).
        virtual void UnblockWorker() {}

    protected:
        virtual ~IClient() = default;
    };

    static constexpr DWORD kAcknowledgeTimeout = 3000;
    // How long Quit waits before it unblocks the worker.
    static constexpr DWORD kQuitTimeout = 3000;

    explicit CPlayCtxThread(IClient& client);
    // Ends the thread when it still runs.
    ~CPlayCtxThread();
    CPlayCtxThread(const CPlayCtxThread&) = delete;
    CPlayCtxThread& operator=(const CPlayCtxThread&) = delete;

    // Starts the worker (once).
    void Start();
    bool IsStarted() const { return m_thread.joinable(); }
    // Tells the worker to quit and waits for its thread-ended event; a
    // worker still busy after kQuitTimeout is unblocked through the client
    // first. Then joins it.
    void Quit();

    // The commands; each waits for the acknowledgement.
    void Detach() { SendCommand(m_detach); }
    void Attach() { SendCommand(m_attach); }
    void ReRead() { SendCommand(m_reRead); }

    // Time-out of the worker's wait in ms; -1 waits without time-out.
    int32_t GetPollInterval() const { return m_pollInterval.load(); }
    void SetPollInterval(int32_t ms) { m_pollInterval.store(ms); }

    // True while the worker waits on the graph's event handle (for tests).
    bool IsAttached() const { return m_attached.load(); }

private:
    void SendCommand(CEvent& command);
    void Loop();

    IClient& m_client;
    // The six auto-reset events of the handshake.
    CEvent m_quit;
    CEvent m_threadEnded;
    CEvent m_detach;
    CEvent m_attach;
    CEvent m_reRead;
    CEvent m_acknowledge;
    std::atomic<int32_t> m_pollInterval{-1};
    std::atomic<bool> m_attached{false};
    std::thread m_thread;
};
