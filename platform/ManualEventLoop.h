#pragma once
// ManualEventLoop: an EventLoop whose time only moves when a test says so.
// Timers fire in due order during AdvanceBy; posted work (also from other
// threads) runs in RunPending and at every step of AdvanceBy.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "EventLoop.h"

namespace platform {

class PLATFORM_API ManualEventLoop : public EventLoop {
public:
    ManualEventLoop();   // installs itself as the current loop
    ~ManualEventLoop() override;  // restores the previous loop

    uint64_t NowMs() override;
    TimerToken AddTimer(uint32_t ms, std::function<void()> fire) override;
    void CancelTimer(TimerToken token) override;
    void Wake(std::function<void()> deliver) override;

    // Runs posted work until none is left; returns how many items ran.
    int RunPending();
    // Moves time forward by ms, firing every timer that falls due (in order of
    // due time, then of arming) and running posted work before and after each.
    void AdvanceBy(uint64_t ms);
    // Number of armed timers.
    int PendingTimers();

private:
    struct Timer {
        uint64_t due;
        std::function<void()> fire;
    };
    std::mutex mutex;  // guards posted
    std::vector<std::function<void()>> posted;
    std::map<TimerToken, Timer> timers;
    uint64_t now = 1000;
    EventLoop* previous;
};

}  // namespace platform
