#include "playback/PlayCtxThread.h"

#include "support/Exception.h"

CPlayCtxThread::CPlayCtxThread(IClient& client) : m_client(client) {}

CPlayCtxThread::~CPlayCtxThread() {
    Quit();
}

void CPlayCtxThread::Start() {
    if (m_thread.joinable())
        return;
    m_threadEnded.Reset();
    m_thread = std::thread([this] { Loop(); });
}

void CPlayCtxThread::Quit() {
    if (!m_thread.joinable())
        return;
    m_quit.Set();
    // The worker reads the owner's members until it leaves: the owner must
    // not go before it did. A worker stuck in a graph call is freed first.
    if (!m_threadEnded.Wait(kQuitTimeout)) {
        try {
            m_client.UnblockWorker();
        } catch (...) {
        }
        m_threadEnded.Wait(INFINITE);
    }
    m_thread.join();
    m_attached.store(false);
}

void CPlayCtxThread::SendCommand(CEvent& command) {
    m_acknowledge.Reset();
    command.Set();
    if (!m_acknowledge.Wait(kAcknowledgeTimeout))
        ThrowHResult(HRESULT_TIMEOUT);
}

void CPlayCtxThread::Loop() {
    CEvent* handles[5] = {&m_quit, &m_detach, &m_attach, &m_reRead, nullptr};
    DWORD count = 4;
    for (;;) {
        try {
            int32_t poll = m_pollInterval.load();
            DWORD result =
                WaitForMultipleObjects(count, handles, false, poll < 0 ? INFINITE : DWORD(poll));
            switch (result) {
                case WAIT_OBJECT_0:
                    m_threadEnded.Set();
                    return;
                case WAIT_OBJECT_0 + 1:
                    count = 4;
                    handles[4] = nullptr;
                    m_attached.store(false);
                    m_acknowledge.Set();
                    break;
                case WAIT_OBJECT_0 + 2:
                    count = 4;
                    handles[4] = m_client.AttachGraphEvents();
                    if (handles[4])
                        count = 5;
                    m_attached.store(count == 5);
                    m_acknowledge.Set();
                    break;
                case WAIT_OBJECT_0 + 3:
                    m_acknowledge.Set();
                    break;
                case WAIT_OBJECT_0 + 4:
                    m_client.PumpGraphEvents();
                    break;
                case WAIT_TIMEOUT:
                    m_client.Poll();
                    break;
                default:
                    break;
            }
        } catch (...) {
            // One failed pass does not end the worker.
        }
    }
}
