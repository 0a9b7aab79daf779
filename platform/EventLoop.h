#pragma once
// EventLoop: what drives windows, timers and posted messages on the
// user-interface thread. The program runs on GLibEventLoop (the GTK main
// context); tests install a ManualEventLoop whose clock they advance by hand,
// so that timer-driven state machines run in microseconds and deterministically.
//
// Exactly one loop is current for the process. Timers and posts made through a
// Window go to the current loop.

#include <cstdint>
#include <functional>

#include "Export.h"

namespace platform {

using TimerToken = uint64_t;  // 0 is never a valid token

class PLATFORM_API EventLoop {
public:
    virtual ~EventLoop();

    // The loop in use: the one installed last, else the GLib loop.
    static EventLoop& Current();
    // Installs loop as the current loop (null restores the GLib loop).
    static void Install(EventLoop* loop);

    // Milliseconds since an arbitrary start; never goes back.
    virtual uint64_t NowMs() = 0;
    // Calls fire once, after ms milliseconds, on the user-interface thread.
    // AddTimer and CancelTimer are called on that thread only; cancelling a
    // token that fired already (or belongs to another loop) does nothing.
    virtual TimerToken AddTimer(uint32_t ms, std::function<void()> fire) = 0;
    virtual void CancelTimer(TimerToken token) = 0;
    // Makes the loop call deliver() soon on the user-interface thread. Safe from
    // any thread; used by Window to drain its queue of posted messages.
    virtual void Wake(std::function<void()> deliver) = 0;

protected:
    // A token unique across every loop of the process, so that a token kept
    // after the loop was switched can never cancel another loop's timer.
    static TimerToken NewToken();
};

// The GTK main context (the default GMainContext). Timers and Wake must be
// run by whoever iterates that context: Application::Run, a modal dialog, or a
// test that calls g_main_context_iteration.
class PLATFORM_API GLibEventLoop : public EventLoop {
public:
    uint64_t NowMs() override;
    TimerToken AddTimer(uint32_t ms, std::function<void()> fire) override;
    void CancelTimer(TimerToken token) override;
    void Wake(std::function<void()> deliver) override;
};

}  // namespace platform
