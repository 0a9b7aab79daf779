#include "EventLoop.h"

#include <glib.h>

#include <atomic>
#include <unordered_map>

namespace platform {

namespace {

GLibEventLoop glibLoop;
// Read from any thread (Window::Post asks for the current loop's Wake).
std::atomic<EventLoop*> installed{nullptr};
std::atomic<TimerToken> lastToken{0};

// A GLib timeout that fires once. The record lives until the source is
// destroyed, whether it fired or was cancelled.
struct GLibTimer {
    TimerToken token;
    std::function<void()> fire;
};

// Live timers of the GLib loop by token. Only touched on the user-interface
// thread, like every timer operation.
std::unordered_map<TimerToken, GSource*>& GLibTimers() {
    static std::unordered_map<TimerToken, GSource*> timers;
    return timers;
}

gboolean FireGLibTimer(gpointer data) {
    auto* timer = static_cast<GLibTimer*>(data);
    auto& timers = GLibTimers();
    auto found = timers.find(timer->token);
    if (found != timers.end()) {
        GSource* source = found->second;
        timers.erase(found);
        // Keep the record alive while it runs: the source holds it until it
        // is finalised after this callback returns G_SOURCE_REMOVE.
        std::function<void()> fire = std::move(timer->fire);
        g_source_unref(source);
        fire();
    }
    return G_SOURCE_REMOVE;
}

void FreeGLibTimer(gpointer data) { delete static_cast<GLibTimer*>(data); }

gboolean RunWake(gpointer data) {
    (*static_cast<std::function<void()>*>(data))();
    return G_SOURCE_REMOVE;
}

void FreeWake(gpointer data) { delete static_cast<std::function<void()>*>(data); }

}  // namespace

EventLoop::~EventLoop() = default;

EventLoop& EventLoop::Current() {
    EventLoop* loop = installed.load(std::memory_order_acquire);
    return loop ? *loop : glibLoop;
}

void EventLoop::Install(EventLoop* loop) {
    installed.store(loop == &glibLoop ? nullptr : loop, std::memory_order_release);
}

TimerToken EventLoop::NewToken() { return lastToken.fetch_add(1) + 1; }

uint64_t GLibEventLoop::NowMs() { return static_cast<uint64_t>(g_get_monotonic_time()) / 1000; }

TimerToken GLibEventLoop::AddTimer(uint32_t ms, std::function<void()> fire) {
    auto* timer = new GLibTimer{NewToken(), std::move(fire)};
    GSource* source = g_timeout_source_new(ms);
    g_source_set_callback(source, FireGLibTimer, timer, FreeGLibTimer);
    g_source_attach(source, nullptr);
    GLibTimers().emplace(timer->token, source);  // keeps the reference from _new
    return timer->token;
}

void GLibEventLoop::CancelTimer(TimerToken token) {
    auto& timers = GLibTimers();
    auto found = timers.find(token);
    if (found == timers.end()) return;  // fired already, or never ours
    GSource* source = found->second;
    timers.erase(found);
    g_source_destroy(source);
    g_source_unref(source);
}

void GLibEventLoop::Wake(std::function<void()> deliver) {
    // g_idle_add_full is safe from any thread and wakes the context's poll.
    // Default priority, so posted messages are not starved by redraws.
    g_idle_add_full(G_PRIORITY_DEFAULT, RunWake, new std::function<void()>(std::move(deliver)),
                    FreeWake);
}

}  // namespace platform
