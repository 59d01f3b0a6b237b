#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/sync/Sync.h"

TEST(Event, AutoResetLetsOneWaiterThroughPerSet) {
    CEvent e(false, true);
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));  // consumed
    e.Set();
    EXPECT_TRUE(e.IsSet());
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.IsSet());
}

TEST(Event, ManualResetStaysSetUntilReset) {
    CEvent e(true, false);
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(0));
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
}

TEST(WaitAny, ReturnsTheLowestSignalledIndex) {
    CEvent a, b(true), c;
    CEvent* events[] = {&a, &b, &c};
    c.Set();
    b.Set();
    EXPECT_EQ(WaitForMultipleObjects(3, events, false, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, events, false, 0), WAIT_OBJECT_0 + 1);  // manual stays
    b.Reset();
    EXPECT_EQ(WaitForMultipleObjects(3, events, false, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, events, false, 0), WAIT_TIMEOUT);  // c was auto-reset
}

TEST(WaitAny, TimesOutAndRejectsBadArguments) {
    CEvent a;
    CEvent* events[] = {&a};
    EXPECT_EQ(WaitForMultipleObjects(1, events, false, 20), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForMultipleObjects(0, events, false, 0), WAIT_FAILED);
    CEvent* none[] = {nullptr};
    EXPECT_EQ(WaitForMultipleObjects(1, none, false, 0), WAIT_FAILED);
}

TEST(WaitAny, WakesWhenAnotherThreadSets) {
    CEvent quit, work;
    CEvent* events[] = {&quit, &work};
    std::thread t([&] { work.Set(); });
    EXPECT_EQ(WaitForMultipleObjects(2, events, false, INFINITE), WAIT_OBJECT_0 + 1);
    t.join();
}

TEST(WaitAll, NeedsEveryEvent) {
    CEvent a(true), b;
    CEvent* events[] = {&a, &b};
    a.Set();
    EXPECT_EQ(WaitForMultipleObjects(2, events, true, 0), WAIT_TIMEOUT);
    b.Set();
    EXPECT_EQ(WaitForMultipleObjects(2, events, true, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(a.IsSet());
    EXPECT_FALSE(b.IsSet());
}

TEST(Event, EachSetOfAnAutoEventReleasesExactlyOneOfManyWaiters) {
    CEvent e;
    std::atomic<int> woken{0};
    CEvent done(true);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            CEvent* events[] = {&done, &e};
            while (WaitForMultipleObjects(2, events, false, INFINITE) == WAIT_OBJECT_0 + 1)
                ++woken;
        });
    for (int i = 0; i < 100; ++i) {
        int before = woken.load();
        e.Set();
        while (woken.load() == before)
            std::this_thread::yield();
    }
    done.Set();
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(woken.load(), 100);
}

TEST(Mutex, IsRecursiveAndTimesOutForOthers) {
    CMutex m;
    ASSERT_TRUE(m.Lock());
    EXPECT_TRUE(m.Lock(0));  // the owner may take it again
    std::thread t([&] {
        EXPECT_FALSE(m.TryLock());
        EXPECT_FALSE(m.Lock(10));
    });
    t.join();
    m.Unlock();
    m.Unlock();
    std::thread u([&] {
        EXPECT_TRUE(m.Lock(INFINITE));
        m.Unlock();
    });
    u.join();
}

TEST(SingleLock, ReleasesAtScopeEnd) {
    CMutex m;
    {
        CSingleLock<CMutex> lock(m, true);
        EXPECT_TRUE(lock.IsLocked());
    }
    std::thread t([&] {
        EXPECT_TRUE(m.TryLock());
        m.Unlock();
    });
    t.join();
    CCriticalSection cs;
    {
        CSingleLock<CCriticalSection> lock(cs);
        EXPECT_TRUE(lock.Lock());
    }
    EXPECT_TRUE(cs.TryLock());
    cs.Unlock();
}
