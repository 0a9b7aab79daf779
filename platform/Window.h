#pragma once
// Window: a message target on the user-interface thread with parent/child
// links, timers by id and a queue of posted messages, the way the modules were
// designed to be driven. A Window may be backed by a GTK top-level window
// (AttachToplevel) or be a plain hidden window (Create with a parent).
//
// Life cycle: Destroy() (or destroying the GTK window it is attached to)
// destroys the children first, cancels the window's timers and discards its
// queued messages, calling each message's discard function so that payloads
// are freed. A destroyed window receives nothing more. Every window gets a
// handle that is never reused, so other threads can post by handle and learn
// whether the window still exists.

#include <cstdint>
#include <map>
#include <vector>

#include "EventLoop.h"
#include "Export.h"

typedef struct _GtkWidget GtkWidget;

namespace platform {

using WindowHandle = uint64_t;  // 0: no window
// Frees the payload of a message that is discarded instead of delivered.
using DiscardFunction = void (*)(uintptr_t wparam, uintptr_t lparam);

class PLATFORM_API Window {
public:
    Window();
    virtual ~Window();  // destroys the window if it still exists
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Creates a hidden child window of parent. Fails (false) without a parent
    // or when the parent does not exist.
    bool Create(Window* parent);
    // Creates a hidden top-level window that no GTK window backs: a target for
    // timers and posts, and a parent for hidden children, where no display is
    // needed (tests, tools). Fails when the window exists already.
    bool CreateToplevel();
    // Makes this window stand for a GTK top-level window (a GtkWindow); it gets
    // focus tracking for Application::ActiveWindow. Destroying the GTK window
    // destroys this Window (and its children), and destroying this Window
    // destroys the GTK window too: the two are one. Whoever still touches the
    // widget after Destroy must hold a reference of its own.
    bool AttachToplevel(GtkWidget* toplevel);
    // Destroys the children (last created first), cancels the timers, discards
    // the queued messages through their DiscardFunction, clears the window from
    // Application, calls OnDestroy and ends the GTK window if one is attached.
    // A derived class whose OnDestroy matters calls Destroy in its own
    // destructor: by the time ~Window runs, only Window::OnDestroy is left.
    void Destroy();

    bool Exists() const { return handle != 0; }
    WindowHandle Handle() const { return handle; }
    Window* Parent() const { return parent; }
    GtkWidget* Toplevel() const { return toplevel; }

    // Arms timer id to fire OnTimer(id) once after ms; re-arming replaces it.
    bool SetTimer(unsigned id, uint32_t ms);
    void KillTimer(unsigned id);

    // Queues a message for OnMessage. Safe from any thread. Returns false when
    // the window does not exist (any more); the caller still owns the payload.
    static bool Post(WindowHandle window, unsigned message, uintptr_t wparam, uintptr_t lparam,
                     DiscardFunction discard = nullptr);
    bool Post(unsigned message, uintptr_t wparam, uintptr_t lparam,
              DiscardFunction discard = nullptr) {
        return Post(handle, message, wparam, lparam, discard);
    }

protected:
    virtual void OnTimer(unsigned id);
    virtual void OnMessage(unsigned message, uintptr_t wparam, uintptr_t lparam);
    // Called once when the window is destroyed, after its children.
    virtual void OnDestroy();

private:
    struct Impl;
    Impl* impl = nullptr;
    WindowHandle handle = 0;
    Window* parent = nullptr;
    GtkWidget* toplevel = nullptr;
    std::vector<Window*> children;
    std::map<unsigned, TimerToken> timers;
    friend struct WindowRegistry;
};

// Milliseconds since an arbitrary start, from the current EventLoop (so tests
// that advance a ManualEventLoop advance the clock too).
class PLATFORM_API Clock {
public:
    static uint64_t NowMs() { return EventLoop::Current().NowMs(); }
};

}  // namespace platform
