// The poll cadence under a timer that fires a fraction of a millisecond late,
// as a real one does, against a clock that counts whole milliseconds.
//
// LateTimerLoop keeps time in microseconds and fires every timer `lateUs`
// after its nominal time; the module reads the clock in whole milliseconds.
// The unit is silent: it is registered by an identity message injected while
// its port is being probed, and never answers a poll, so nothing defers the
// polls unless a test injects a state report itself.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "MidiRig.h"
#include "modules/midi/services/UnitSimulator.h"
#include "platform/EventLoop.h"

namespace {

using midi::UnitSimulator;

class LateTimerLoop : public platform::EventLoop {
  public:
    LateTimerLoop() : previous(&EventLoop::Current()) { Install(this); }
    ~LateTimerLoop() override {
        if (&EventLoop::Current() == this) Install(previous);
    }

    uint64_t NowMs() override { return nowUs / 1000; }
    platform::TimerToken AddTimer(uint32_t ms, std::function<void()> fire) override {
        const platform::TimerToken token = NewToken();
        timers.emplace(token, Timer{nowUs + uint64_t{ms} * 1000 + lateUs, std::move(fire)});
        return token;
    }
    void CancelTimer(platform::TimerToken token) override { timers.erase(token); }
    void Wake(std::function<void()> deliver) override {
        std::lock_guard<std::mutex> guard(mutex);
        posted.push_back(std::move(deliver));
    }

    void RunPending() {
        for (;;) {
            std::vector<std::function<void()>> batch;
            {
                std::lock_guard<std::mutex> guard(mutex);
                batch.swap(posted);
            }
            if (batch.empty()) return;
            for (auto& work : batch) work();
        }
    }
    // Moves time to the next timer, fires it and runs what it posted; false
    // when no timer is armed.
    bool FireNext() {
        auto next = timers.end();
        for (auto it = timers.begin(); it != timers.end(); ++it)
            if (next == timers.end() || it->second.dueUs < next->second.dueUs) next = it;
        if (next == timers.end()) return false;
        nowUs = next->second.dueUs;
        std::function<void()> fire = std::move(next->second.fire);
        timers.erase(next);
        fire();
        RunPending();
        return true;
    }

    uint64_t nowUs = 1'000'000;
    uint64_t lateUs = 0;

  private:
    struct Timer {
        uint64_t dueUs;
        std::function<void()> fire;
    };
    std::mutex mutex;
    std::vector<std::function<void()>> posted;
    std::map<platform::TimerToken, Timer> timers;
    EventLoop* previous;
};

constexpr int32_t SilentId = 777;

class PollCadence : public ModuleOnSim<LateTimerLoop, midi::SimServices> {
  protected:
    // Brings the module to Running with the silent unit on port pair 0.
    void Boot(uint64_t lateUs) {
        loop.lateUs = lateUs;
        midi::SimLayout layout = Layout(1, 1);
        layout.synchronous = true;
        ASSERT_NO_FATAL_FAILURE(StartModule(std::make_unique<midi::SimServices>(std::move(layout))));
        ASSERT_TRUE(loop.FireNext());  // scan, and the probe of output 0
        ASSERT_EQ(module->State(), 1);
        sim->InjectInput(0, UnitSimulator::Message(0x11, SilentId, 0x03, 0));
        loop.RunPending();
        ASSERT_TRUE(loop.FireNext());  // discovery ends
        ASSERT_EQ(module->State(), TannevaleMidi::Running);
        ASSERT_EQ(module->Outputs().Count(), 1);
    }

    // Fires timers until `untilUs`; returns the times (µs) of the ticks that polled.
    std::vector<uint64_t> RunUntil(uint64_t untilUs) {
        std::vector<uint64_t> polls;
        while (loop.nowUs < untilUs) {
            const size_t before = sim->SentMessages().size();
            if (!loop.FireNext()) break;
            if (sim->SentMessages().size() > before) polls.push_back(loop.nowUs);
        }
        return polls;
    }
};

TEST_F(PollCadence, EveryTickPollsWhenNothingDefers) {
    // How late each timer fires: never, a little, nearly a whole millisecond.
    for (uint64_t lateUs : {0u, 1u, 300u, 999u}) {
        SCOPED_TRACE(testing::Message() << "timer late by " << lateUs << " us");
        Boot(lateUs);
        const uint64_t start = loop.nowUs;
        const std::vector<uint64_t> polls = RunUntil(start + 3'000'000);
        // One poll per tick: 3 s of ticks 100 ms and a fraction apart.
        ASSERT_GE(polls.size(), 29u);
        for (size_t i = 1; i < polls.size(); ++i) {
            EXPECT_GE(polls[i] - polls[i - 1], 100'000u);
            EXPECT_LE(polls[i] - polls[i - 1], 100'000u + lateUs);
        }
        for (const auto& sent : sim->SentMessages()) {
            if (sent.bytes.size() > 9 && sent.bytes[9] == 0x10) {
                EXPECT_EQ(sent.bytes, UnitSimulator::Message(0x11, SilentId, 0x10, 0x01));
            }
        }
        TearDown();
    }
}

TEST_F(PollCadence, AStateReportPutsTheNextPollMoreThan100MsAfterIt) {
    // Where the report arrives, in µs after the tick that polled last.
    for (uint64_t offsetUs : {0u, 400u, 999u, 1000u, 30'500u, 99'999u}) {
        SCOPED_TRACE(testing::Message() << "report " << offsetUs << " us after a poll");
        Boot(300);
        const std::vector<uint64_t> before = RunUntil(loop.nowUs + 500'000);
        ASSERT_FALSE(before.empty());
        loop.nowUs = before.back() + offsetUs;
        const uint64_t reportUs = loop.nowUs;
        sim->InjectInput(0, UnitSimulator::Message(0x11, SilentId, 0x37, 5));
        loop.RunPending();
        ASSERT_EQ(module->LastPollTime(), reportUs / 1000);

        const std::vector<uint64_t> after = RunUntil(reportUs + 1'000'000);
        ASSERT_FALSE(after.empty());
        // Deferred past the report, by the clock and in fact, but only to the
        // first tick that is due; from there on every tick polls again.
        EXPECT_GT(after[0] / 1000, reportUs / 1000 + TannevaleMidi::PollIntervalMs);
        EXPECT_GT(after[0] - reportUs, 100'000u);
        EXPECT_LT(after[0] - reportUs, 100'000u + TannevaleMidi::RunningDelayMs * 1000 + 2'000);
        for (size_t i = 1; i < after.size(); ++i) EXPECT_LE(after[i] - after[i - 1], 100'300u);
        TearDown();
    }
}

}  // namespace
