// Windows on a ManualEventLoop: timers, posting, destruction and handles.

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "RecordingWindow.h"
#include "platform/Application.h"
#include "platform/ManualEventLoop.h"

using platform::Application;
using platform::ManualEventLoop;
using platform::Window;
using platform::WindowHandle;
using Log = std::vector<std::string>;

namespace {

// A heap payload whose frees are counted, so a lost or doubly freed payload
// shows both here and under ASan.
std::atomic<int> payloadsFreed{0};
void FreePayload(uintptr_t, uintptr_t lparam) {
    delete reinterpret_cast<std::string*>(lparam);
    ++payloadsFreed;
}

class WindowTest : public ::testing::Test {
protected:
    ManualEventLoop loop;
    Log log;
    RecordingWindow root{&log, "root"};
    void SetUp() override { ASSERT_TRUE(root.CreateToplevel()); }
};

TEST_F(WindowTest, CreateNeedsAnExistingParent) {
    RecordingWindow child(&log, "child");
    EXPECT_FALSE(child.Create(nullptr));
    RecordingWindow never(&log, "never");
    EXPECT_FALSE(child.Create(&never));
    EXPECT_FALSE(child.Exists());

    ASSERT_TRUE(child.Create(&root));
    EXPECT_EQ(child.Parent(), &root);
    EXPECT_NE(child.Handle(), root.Handle());
    EXPECT_FALSE(child.Create(&root)) << "a window is created once";
}

TEST_F(WindowTest, TimerFiresOncePerArming) {
    ASSERT_TRUE(root.SetTimer(1, 1500));
    loop.AdvanceBy(1499);
    EXPECT_TRUE(log.empty());
    loop.AdvanceBy(1);
    EXPECT_EQ(log, Log{"root:timer1"});
    loop.AdvanceBy(10000);
    EXPECT_EQ(log, Log{"root:timer1"}) << "not re-armed: no second tick";
    EXPECT_EQ(loop.PendingTimers(), 0);
}

TEST_F(WindowTest, ReArmingReplacesAndKillCancels) {
    root.SetTimer(1, 100);
    root.SetTimer(1, 300);  // replaces the 100 ms arming
    root.SetTimer(2, 200);
    EXPECT_EQ(loop.PendingTimers(), 2);
    loop.AdvanceBy(250);
    EXPECT_EQ(log, Log{"root:timer2"});
    loop.AdvanceBy(100);
    EXPECT_EQ(log, (Log{"root:timer2", "root:timer1"}));

    root.SetTimer(3, 10);
    root.KillTimer(3);
    root.KillTimer(99);  // never armed: nothing happens
    loop.AdvanceBy(100);
    EXPECT_EQ(log.size(), 2u);
}

// A window that re-arms from its own tick, as a state machine does.
class Ticker : public RecordingWindow {
public:
    using RecordingWindow::RecordingWindow;
    std::vector<uint64_t> at;

protected:
    void OnTimer(unsigned id) override {
        at.push_back(platform::Clock::NowMs());
        if (at.size() < 3) SetTimer(id, 200);
    }
};

TEST_F(WindowTest, TimerReArmedFromItsTickRunsOnTheManualClock) {
    Ticker ticker(&log, "t");
    ASSERT_TRUE(ticker.Create(&root));
    const uint64_t start = platform::Clock::NowMs();
    ticker.SetTimer(1, 1500);
    loop.AdvanceBy(5000);
    EXPECT_EQ(ticker.at, (std::vector<uint64_t>{start + 1500, start + 1700, start + 1900}));
    EXPECT_EQ(platform::Clock::NowMs(), start + 5000);
}

TEST_F(WindowTest, PostedMessagesArriveInOrderOnlyWhenTheLoopRuns) {
    RecordingWindow child(&log, "child");
    ASSERT_TRUE(child.Create(&root));
    EXPECT_TRUE(child.Post(0x400, 1, 0));
    EXPECT_TRUE(root.Post(0x400, 2, 0));
    EXPECT_TRUE(Window::Post(child.Handle(), 0x401, 3, 0));
    EXPECT_TRUE(log.empty()) << "posting never delivers synchronously";
    EXPECT_EQ(loop.RunPending(), 3);
    EXPECT_EQ(log, (Log{"child:msg1024/1", "root:msg1024/2", "child:msg1025/3"}));
}

TEST_F(WindowTest, PostFromOtherThreadsKeepsEachThreadsOrder) {
    // A window that checks the order per sender (wparam = thread, lparam = seq).
    struct Counter : Window {
        std::vector<uintptr_t> next = std::vector<uintptr_t>(4, 0);
        int outOfOrder = 0, received = 0;
        void OnMessage(unsigned, uintptr_t thread, uintptr_t sequence) override {
            if (next[thread] != sequence) ++outOfOrder;
            next[thread] = sequence + 1;
            ++received;
        }
    } counter;
    ASSERT_TRUE(counter.Create(&root));
    const WindowHandle target = counter.Handle();
    constexpr int perThread = 2000;
    std::vector<std::thread> senders;
    for (uintptr_t t = 0; t < 4; ++t) {
        senders.emplace_back([=] {
            for (uintptr_t i = 0; i < perThread; ++i) Window::Post(target, 0x400, t, i);
        });
    }
    // Deliver while the senders are still posting.
    while (counter.received < 4 * perThread) {
        loop.RunPending();
        std::this_thread::yield();
    }
    for (auto& s : senders) s.join();
    EXPECT_EQ(loop.RunPending(), 0);
    EXPECT_EQ(counter.received, 4 * perThread);
    EXPECT_EQ(counter.outOfOrder, 0);
}

TEST_F(WindowTest, DestroyingTheParentTakesChildrenTimersAndQueuedPayloads) {
    payloadsFreed = 0;
    auto parent = std::make_unique<RecordingWindow>(&log, "parent");
    RecordingWindow child(&log, "child"), grandchild(&log, "grandchild");
    ASSERT_TRUE(parent->Create(&root));
    ASSERT_TRUE(child.Create(parent.get()));
    ASSERT_TRUE(grandchild.Create(&child));
    child.SetTimer(1, 100);
    grandchild.SetTimer(1, 100);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(child.Post(0x400, i, reinterpret_cast<uintptr_t>(new std::string(100, 'x')),
                               FreePayload));
    ASSERT_TRUE(grandchild.Post(0x400, 9, reinterpret_cast<uintptr_t>(new std::string("y")),
                                FreePayload));
    const WindowHandle childHandle = child.Handle();

    parent->Destroy();
    EXPECT_EQ(log, (Log{"grandchild:destroy", "child:destroy", "parent:destroy"}));
    EXPECT_EQ(payloadsFreed, 4);
    EXPECT_FALSE(child.Exists());
    EXPECT_EQ(child.Parent(), nullptr);
    EXPECT_EQ(loop.PendingTimers(), 0);

    loop.AdvanceBy(1000);
    EXPECT_EQ(log.size(), 3u) << "a destroyed window receives nothing more";
    auto* payload = new std::string("z");
    EXPECT_FALSE(Window::Post(childHandle, 0x400, 0, reinterpret_cast<uintptr_t>(payload), FreePayload));
    delete payload;  // a refused post leaves the payload with the caller
    EXPECT_EQ(payloadsFreed, 4);
    EXPECT_FALSE(child.SetTimer(1, 10));

    parent.reset();  // deleting a destroyed window does nothing more
    EXPECT_EQ(log.size(), 3u);
}

TEST_F(WindowTest, DestroyFromItsOwnMessageDiscardsTheRest) {
    payloadsFreed = 0;
    struct SelfDestroying : Window {
        int received = 0;
        void OnMessage(unsigned, uintptr_t, uintptr_t lparam) override {
            ++received;
            delete reinterpret_cast<std::string*>(lparam);  // a delivered payload is the receiver's
            Destroy();
        }
    } window;
    ASSERT_TRUE(window.Create(&root));
    for (int i = 0; i < 3; ++i)
        window.Post(0x400, 0, reinterpret_cast<uintptr_t>(new std::string("p")), FreePayload);
    loop.RunPending();
    EXPECT_EQ(window.received, 1);
    EXPECT_EQ(payloadsFreed, 2) << "the two messages still queued are discarded";
}

TEST_F(WindowTest, HandlesAreNeverReused) {
    std::set<WindowHandle> seen{root.Handle()};
    RecordingWindow window(&log, "w");
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(window.Create(&root));
        EXPECT_TRUE(seen.insert(window.Handle()).second) << "handle " << window.Handle() << " reused";
        const WindowHandle old = window.Handle();
        window.Destroy();
        EXPECT_EQ(window.Handle(), 0u);
        EXPECT_FALSE(Window::Post(old, 1, 0, 0, nullptr));
    }
    EXPECT_FALSE(Window::Post(WindowHandle{0}, 1, 0, 0, nullptr));
}

TEST_F(WindowTest, TimerFromAnEarlierArmingNeverReachesARecreatedWindow) {
    RecordingWindow window(&log, "w");
    ASSERT_TRUE(window.Create(&root));
    window.SetTimer(1, 100);
    window.Post(0x400, 1, 0);
    window.Destroy();
    ASSERT_TRUE(window.Create(&root));
    loop.AdvanceBy(200);
    EXPECT_EQ(log, Log{"w:destroy"});
}

TEST_F(WindowTest, ApplicationForgetsDestroyedWindows) {
    auto& app = Application::Instance();
    {
        RecordingWindow main(&log, "main"), active(&log, "active");
        ASSERT_TRUE(main.CreateToplevel());
        ASSERT_TRUE(active.CreateToplevel());
        app.SetMainWindow(&main);
        app.SetActiveWindow(&active);
        EXPECT_EQ(app.MainOrActiveWindow(), &main);
        main.Destroy();
        EXPECT_EQ(app.MainWindow(), nullptr);
        EXPECT_EQ(app.MainOrActiveWindow(), &active);
    }  // the destructor destroys active
    EXPECT_EQ(app.ActiveWindow(), nullptr);
    EXPECT_EQ(app.Run(), 0) << "without a main window Run returns at once";
}

}  // namespace
