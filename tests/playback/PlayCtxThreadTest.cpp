// The play context's worker thread and its sync object: the command
// handshake, polling, graph events, quitting, and the hand-over of sync
// messages to the user-interface thread.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "playback/PlayCtxSyncWnd.h"
#include "playback/PlayCtxThread.h"
#include "support/Exception.h"
#include "tests/TestSupport.h"
#include "tests/playback/PlaybackTestUtil.h"

namespace {

class CFakeClient : public CPlayCtxThread::IClient {
public:
    CEvent* AttachGraphEvents() override {
        ++m_attaches;
        if (m_blockAttach) {
            m_blocked.Set();
            m_release.Wait(INFINITE);
            m_attachLeft = true;
        }
        return &m_graphEvent;
    }
    void PumpGraphEvents() override {
        m_graphEvent.Reset();
        ++m_pumps;
        m_pumped.Set();
    }
    void UnblockWorker() override {
        ++m_unblocks;
        m_release.Set();
    }
    void Poll() override {
        ++m_polls;
        m_polled.Set();
        if (m_throwInPoll)
            ThrowHResult(E_FAIL);
    }

    CEvent m_graphEvent{true, false};
    CEvent m_pumped;
    CEvent m_polled;
    CEvent m_blocked{true, false};
    CEvent m_release{true, false};
    std::atomic<bool> m_blockAttach{false};
    std::atomic<bool> m_throwInPoll{false};
    std::atomic<bool> m_attachLeft{false};
    std::atomic<int> m_attaches{0};
    std::atomic<int> m_pumps{0};
    std::atomic<int> m_polls{0};
    std::atomic<int> m_unblocks{0};
};

TEST(PlayCtxThreadTest, CommandsAreAcknowledgedAndGraphEventsPumpedOnlyWhileAttached) {
    CFakeClient client;
    CPlayCtxThread worker(client);
    worker.Start();
    EXPECT_FALSE(worker.IsAttached());

    // Before attaching, a set graph event is not watched.
    client.m_graphEvent.Set();
    worker.ReRead();
    EXPECT_EQ(client.m_pumps.load(), 0);

    worker.Attach();
    EXPECT_TRUE(worker.IsAttached());
    EXPECT_TRUE(client.m_pumped.Wait(5000));
    EXPECT_EQ(client.m_attaches.load(), 1);

    // A detach wins over a signalled graph event: nothing is pumped after it.
    worker.Detach();
    int pumpsAtDetach = client.m_pumps.load();
    client.m_graphEvent.Set();
    worker.ReRead();
    EXPECT_EQ(client.m_pumps.load(), pumpsAtDetach);
    EXPECT_FALSE(worker.IsAttached());
    worker.Quit();
    EXPECT_FALSE(worker.IsStarted());
}

TEST(PlayCtxThreadTest, PollsOnTimeOutOnlyWithAPollInterval) {
    CFakeClient client;
    CPlayCtxThread worker(client);
    worker.Start();
    worker.ReRead();
    EXPECT_EQ(client.m_polls.load(), 0);

    worker.SetPollInterval(1);
    worker.ReRead();
    EXPECT_TRUE(client.m_polled.Wait(5000));

    // An exception in a pass is swallowed and the worker goes on.
    client.m_throwInPoll = true;
    client.m_polled.Wait(5000);
    EXPECT_TRUE(client.m_polled.Wait(5000));
    client.m_throwInPoll = false;

    worker.SetPollInterval(-1);
    worker.ReRead();
    int polls = client.m_polls.load();
    worker.ReRead();
    worker.ReRead();
    EXPECT_EQ(client.m_polls.load(), polls);
}

TEST(PlayCtxThreadTest, CommandTimesOutWhileTheWorkerIsBlocked) {
    CFakeClient client;
    client.m_blockAttach = true;
    CPlayCtxThread worker(client);
    worker.Start();
    // The attach blocks the worker inside a graph call; the caller of the
    // attach gives up after three seconds.
    try {
        worker.Attach();
        FAIL() << "no time-out";
    } catch (const CComException& e) {
        EXPECT_EQ(e.Error(), HR(0x800705B4));
    }
    EXPECT_TRUE(client.m_blocked.IsSet());
    try {
        worker.ReRead();
        FAIL() << "no time-out";
    } catch (const CComException& e) {
        EXPECT_EQ(e.Error(), HRESULT_TIMEOUT);
    }
    // Once the worker is free again it takes commands and quits.
    client.m_release.Set();
    worker.ReRead();
    worker.Quit();
}

TEST(PlayCtxThreadTest, QuitWaitsForTheWorkerToLeave) {
    CFakeClient client;
    client.m_blockAttach = true;
    auto worker = std::make_unique<CPlayCtxThread>(client);
    worker->Start();
    EXPECT_THROW(worker->Attach(), CComException);
    // The worker is still busy in a graph call when its owner goes: the
    // destruction waits until it has left.
    CEvent mayRelease(true, false);
    std::thread releaser([&] {
        mayRelease.Wait(INFINITE);
        client.m_release.Set();
    });
    mayRelease.Set();
    worker.reset();
    EXPECT_TRUE(client.m_attachLeft.load());
    releaser.join();
}

TEST(PlayCtxThreadTest, QuitUnblocksAWorkerThatDoesNotLeaveInTime) {
    CFakeClient client;
    client.m_blockAttach = true;
    CPlayCtxThread worker(client);
    worker.Start();
    EXPECT_THROW(worker.Attach(), CComException);
    CEvent quitDone(true, false);
    std::thread watchdog([&] {
        if (!quitDone.Wait(60000))
            client.m_release.Set();  // the fault: Quit waits for ever
    });
    worker.Quit();
    quitDone.Set();
    watchdog.join();
    EXPECT_EQ(client.m_unblocks.load(), 1);
    EXPECT_TRUE(client.m_attachLeft.load());
}

TEST(PlayCtxSyncWndTest, DispatchesPostedMessagesOnItsThreadAndReportsFailures) {
    vtest::EnsureApplication();
    std::vector<std::pair<int32_t, intptr_t>> received;
    std::thread::id dispatchThread;
    CPlayCtxSyncWnd wnd([&](int32_t code, intptr_t param) {
        dispatchThread = std::this_thread::get_id();
        received.emplace_back(code, param);
        if (code == 3)
            ThrowHResult(E_FAIL);
    });
    EXPECT_EQ(wnd.objectName().toStdString(), "PlayCtxThreadSyncWnd");

    vtest::CapturedMessages messages;
    std::thread poster([&] {
        wnd.PostSync(1, 0);
        wnd.PostSync(3, 0);
        wnd.PostSync(2, 7);
    });
    poster.join();
    ASSERT_TRUE(vtest::PumpUntil([&] { return received.size() == 3; }));
    EXPECT_EQ(received[0], (std::pair<int32_t, intptr_t>(1, 0)));
    EXPECT_EQ(received[2], (std::pair<int32_t, intptr_t>(2, 7)));
    EXPECT_EQ(dispatchThread, std::this_thread::get_id());
    // The failure of the second dispatch reached the user, the third still ran.
    ASSERT_EQ(messages.Messages().size(), 1u);
}

TEST(PlayCtxSyncWndTest, MessagesPendingAtDestructionAreDropped) {
    vtest::EnsureApplication();
    int calls = 0;
    auto wnd = std::make_unique<CPlayCtxSyncWnd>([&](int32_t, intptr_t) { ++calls; });
    wnd->PostSync(1, 1);
    wnd.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

}  // namespace
