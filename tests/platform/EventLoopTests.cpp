// The two event loops: the hand-driven one of the tests and the GLib one.

#include <gtest/gtest.h>
#include <glib.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/ManualEventLoop.h"
#include "platform/Window.h"

using platform::EventLoop;
using platform::ManualEventLoop;
using Log = std::vector<std::string>;

namespace {

TEST(ManualEventLoopTest, FiresByDueTimeThenArmingOrderWithPostedWorkBetween) {
    ManualEventLoop loop;
    Log log;
    // Armed out of order on purpose; c and a fall due together.
    loop.AddTimer(300, [&] { log.push_back("c300"); });
    loop.AddTimer(100, [&] {
        log.push_back("b100");
        loop.Wake([&] { log.push_back("posted-by-b"); });
        loop.AddTimer(0, [&] { log.push_back("zero-from-b"); });
    });
    loop.AddTimer(300, [&] { log.push_back("a300"); });
    const auto cancelled = loop.AddTimer(200, [&] { log.push_back("never"); });
    loop.CancelTimer(cancelled);
    loop.Wake([&] { log.push_back("posted-first"); });

    loop.AdvanceBy(299);
    EXPECT_EQ(log, (Log{"posted-first", "b100", "posted-by-b", "zero-from-b"}));
    EXPECT_EQ(loop.PendingTimers(), 2);
    loop.AdvanceBy(1);
    EXPECT_EQ(log, (Log{"posted-first", "b100", "posted-by-b", "zero-from-b", "c300", "a300"}));
    EXPECT_EQ(loop.NowMs(), 1300u);
}

TEST(ManualEventLoopTest, TimeStandsStillBetweenAdvances) {
    ManualEventLoop loop;
    uint64_t seen = 0;
    loop.AddTimer(50, [&] { seen = platform::Clock::NowMs(); });
    const uint64_t start = loop.NowMs();
    EXPECT_EQ(loop.RunPending(), 0);
    EXPECT_EQ(loop.NowMs(), start);
    loop.AdvanceBy(80);
    EXPECT_EQ(seen, start + 50) << "a timer sees the time it fell due";
    EXPECT_EQ(loop.NowMs(), start + 80);
}

TEST(ManualEventLoopTest, RunPendingRunsWorkPostedByWorkAndFromThreads) {
    ManualEventLoop loop;
    int ran = 0;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) loop.Wake([&] { ++ran; });
    });
    poster.join();
    loop.Wake([&] { loop.Wake([&] { ++ran; }); });
    EXPECT_EQ(loop.RunPending(), 102);
    EXPECT_EQ(ran, 101);
}

TEST(ManualEventLoopTest, InstallsItselfAndRestoresThePreviousLoop) {
    EventLoop* before = &EventLoop::Current();
    {
        ManualEventLoop outer;
        EXPECT_EQ(&EventLoop::Current(), &outer);
        {
            ManualEventLoop inner;
            EXPECT_EQ(&EventLoop::Current(), &inner);
        }
        EXPECT_EQ(&EventLoop::Current(), &outer);
    }
    EXPECT_EQ(&EventLoop::Current(), before);
}

// Runs the default main context until done() or the time is up.
template <typename Done>
bool Iterate(Done done, gint64 ms = 2000) {
    const gint64 end = g_get_monotonic_time() + ms * 1000;
    while (!done() && g_get_monotonic_time() < end) {
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(200);
    }
    return done();
}

TEST(GLibEventLoopTest, TimersFireOnceAndCancelledOnesNever) {
    EventLoop& loop = EventLoop::Current();
    ASSERT_EQ(dynamic_cast<platform::GLibEventLoop*>(&loop), &loop);
    Log log;
    const uint64_t start = loop.NowMs();
    uint64_t firedAt = 0;
    const auto token = loop.AddTimer(30, [&] {
        log.push_back("fired");
        firedAt = loop.NowMs();
    });
    loop.CancelTimer(loop.AddTimer(10, [&] { log.push_back("cancelled"); }));
    ASSERT_TRUE(Iterate([&] { return !log.empty(); }));
    EXPECT_GE(firedAt, start + 30);
    loop.CancelTimer(token);  // after it fired: harmless
    Iterate([] { return false; }, 100);
    EXPECT_EQ(log, Log{"fired"});
}

TEST(GLibEventLoopTest, TokenOfAnotherLoopNeverCancelsAGLibTimer) {
    EventLoop& glib = EventLoop::Current();
    platform::TimerToken manualToken;
    {
        ManualEventLoop manual;
        manualToken = manual.AddTimer(1, [] {});
    }
    bool fired = false;
    glib.AddTimer(1, [&] { fired = true; });
    glib.CancelTimer(manualToken);  // a stale token from the manual loop
    EXPECT_TRUE(Iterate([&] { return fired; }));
}

TEST(GLibEventLoopTest, WakeFromAnotherThreadRunsOnTheLoop) {
    EventLoop& loop = EventLoop::Current();
    std::thread::id ranOn;
    bool ran = false;
    std::thread waker([&] {
        loop.Wake([&] {
            ranOn = std::this_thread::get_id();
            ran = true;
        });
    });
    waker.join();
    ASSERT_TRUE(Iterate([&] { return ran; }));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

}  // namespace
