#include "ManualEventLoop.h"

#include <utility>

namespace platform {

ManualEventLoop::ManualEventLoop() : previous(&EventLoop::Current()) { Install(this); }

ManualEventLoop::~ManualEventLoop() {
    // Only step back when this loop is still the current one; a loop installed
    // after it stays in place.
    if (&EventLoop::Current() == this) Install(previous);
}

uint64_t ManualEventLoop::NowMs() { return now; }

TimerToken ManualEventLoop::AddTimer(uint32_t ms, std::function<void()> fire) {
    TimerToken token = NewToken();
    timers.emplace(token, Timer{now + ms, std::move(fire)});
    return token;
}

void ManualEventLoop::CancelTimer(TimerToken token) { timers.erase(token); }

void ManualEventLoop::Wake(std::function<void()> deliver) {
    std::lock_guard<std::mutex> lock(mutex);
    posted.push_back(std::move(deliver));
}

int ManualEventLoop::RunPending() {
    int ran = 0;
    for (;;) {
        std::vector<std::function<void()>> batch;
        {
            std::lock_guard<std::mutex> lock(mutex);
            batch.swap(posted);
        }
        if (batch.empty()) return ran;
        // Work posted while the batch runs goes into the next batch, in order.
        for (auto& work : batch) {
            work();
            ++ran;
        }
    }
}

void ManualEventLoop::AdvanceBy(uint64_t ms) {
    const uint64_t target = now + ms;
    RunPending();
    for (;;) {
        // Tokens grow with every arming, so the first timer with the smallest
        // due time is also the one armed first.
        auto next = timers.end();
        for (auto it = timers.begin(); it != timers.end(); ++it) {
            if (it->second.due <= target && (next == timers.end() || it->second.due < next->second.due))
                next = it;
        }
        if (next == timers.end()) break;
        now = next->second.due;
        std::function<void()> fire = std::move(next->second.fire);
        timers.erase(next);
        fire();
        RunPending();
    }
    now = target;
    RunPending();
}

int ManualEventLoop::PendingTimers() { return static_cast<int>(timers.size()); }

}  // namespace platform
