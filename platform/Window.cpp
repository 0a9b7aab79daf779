// Windows, timers and posted messages.
//
// Every window that exists is listed in one registry: handle -> Window*, under
// a mutex, because Post may come from any thread (the MIDI input callback
// posts its buffers). Handles come from a 64-bit counter and are never reused,
// so a post to a window that is gone fails instead of reaching a newer window
// that happens to sit at the same address.
//
// Each window keeps its own queue of posted messages (guarded by the registry
// mutex). Every successful Post appends to the queue and asks the current
// EventLoop to Wake once; each wake delivers the front message of that
// window's queue on the user-interface thread. One wake per message keeps the
// order of posts across windows, and a wake that finds its window destroyed
// simply does nothing, so no state has to be kept about pending wakes.
//
// Timers are one-shot per arming: the loop calls back with the window handle,
// the timer id and the arming number; a callback whose window is gone, or
// whose id was re-armed or killed since, is ignored. Destroy takes a window
// out of the registry before it discards the queue, so every payload is
// either delivered or handed to its DiscardFunction, never both and never
// neither.

#include "Window.h"

#include <glib.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "Application.h"

namespace platform {

struct PostedMessage {
    unsigned message;
    uintptr_t wparam;
    uintptr_t lparam;
    DiscardFunction discard;
};

struct Window::Impl {
    std::deque<PostedMessage> queue;  // guarded by WindowRegistry::mutex
    std::map<unsigned, uint64_t> timerArming;  // id -> arming number of the live timer
    uint64_t lastArming = 0;
    bool destroying = false;
    bool toplevelDying = false;  // the GTK window is being destroyed by GTK
    gulong destroyHandler = 0;
    gulong focusHandler = 0;
};

struct WindowRegistry {
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    static std::unordered_map<WindowHandle, Window*>& Live() {
        static std::unordered_map<WindowHandle, Window*> live;
        return live;
    }
    static WindowHandle NewHandle() {
        static std::atomic<WindowHandle> last{0};
        return last.fetch_add(1) + 1;
    }

    // Lookup on the user-interface thread; only that thread destroys windows,
    // so the pointer stays valid after the lock is released.
    static Window* Find(WindowHandle handle) {
        std::lock_guard<std::mutex> lock(Mutex());
        auto found = Live().find(handle);
        return found == Live().end() ? nullptr : found->second;
    }

    static void Register(Window* window) {
        window->handle = NewHandle();
        std::lock_guard<std::mutex> lock(Mutex());
        Live().emplace(window->handle, window);
    }

    // Delivers the oldest message queued for handle.
    static void DeliverOne(WindowHandle handle) {
        Window* window;
        PostedMessage message;
        {
            std::lock_guard<std::mutex> lock(Mutex());
            auto found = Live().find(handle);
            if (found == Live().end()) return;
            window = found->second;
            if (window->impl->queue.empty()) return;
            message = window->impl->queue.front();
            window->impl->queue.pop_front();
        }
        window->OnMessage(message.message, message.wparam, message.lparam);
    }

    static void FireTimer(WindowHandle handle, unsigned id, uint64_t arming) {
        Window* window = Find(handle);
        if (!window) return;
        auto found = window->impl->timerArming.find(id);
        if (found == window->impl->timerArming.end() || found->second != arming) return;
        window->impl->timerArming.erase(found);
        window->timers.erase(id);
        window->OnTimer(id);
    }

    static void ToplevelDestroyed(GtkWidget*, gpointer data) {
        auto* window = static_cast<Window*>(data);
        window->impl->toplevelDying = true;
        window->Destroy();
    }

    static gboolean ToplevelFocused(GtkWidget*, GdkEvent*, gpointer data) {
        Application::Instance().SetActiveWindow(static_cast<Window*>(data));
        return FALSE;
    }
};

Window::Window() : impl(new Impl) {}

Window::~Window() {
    Destroy();
    delete impl;
}

bool Window::Create(Window* parentWindow) {
    if (Exists() || !parentWindow || !parentWindow->Exists() || parentWindow->impl->destroying)
        return false;
    WindowRegistry::Register(this);
    parent = parentWindow;
    parent->children.push_back(this);
    return true;
}

bool Window::CreateToplevel() {
    if (Exists()) return false;
    WindowRegistry::Register(this);
    return true;
}

bool Window::AttachToplevel(GtkWidget* widget) {
    if (Exists() || !widget || !GTK_IS_WINDOW(widget)) return false;
    WindowRegistry::Register(this);
    toplevel = widget;
    g_object_ref(toplevel);
    impl->toplevelDying = false;
    impl->destroyHandler =
        g_signal_connect(toplevel, "destroy", G_CALLBACK(WindowRegistry::ToplevelDestroyed), this);
    impl->focusHandler = g_signal_connect(toplevel, "focus-in-event",
                                          G_CALLBACK(WindowRegistry::ToplevelFocused), this);
    return true;
}

void Window::Destroy() {
    if (!Exists() || impl->destroying) return;
    impl->destroying = true;

    // Children first, the last created first.
    std::vector<Window*> doomed(children.rbegin(), children.rend());
    for (Window* child : doomed) child->Destroy();
    children.clear();

    for (auto& [id, token] : timers) EventLoop::Current().CancelTimer(token);
    timers.clear();
    impl->timerArming.clear();

    // Out of the registry first: from here on Post fails, and no wake can
    // deliver what is about to be discarded.
    std::deque<PostedMessage> dropped;
    {
        std::lock_guard<std::mutex> lock(WindowRegistry::Mutex());
        WindowRegistry::Live().erase(handle);
        dropped.swap(impl->queue);
    }
    for (const PostedMessage& message : dropped) {
        if (message.discard) message.discard(message.wparam, message.lparam);
    }

    Application::Instance().WindowDestroyed(this);
    OnDestroy();

    if (toplevel) {
        g_signal_handler_disconnect(toplevel, impl->destroyHandler);
        g_signal_handler_disconnect(toplevel, impl->focusHandler);
        impl->destroyHandler = impl->focusHandler = 0;
        // The Window and its GTK window are one: destroying either ends both.
        if (!impl->toplevelDying) gtk_widget_destroy(toplevel);
        g_object_unref(toplevel);
        toplevel = nullptr;
    }
    if (parent) {
        auto& siblings = parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
        parent = nullptr;
    }
    // Timers armed by OnDestroy never reach a destroyed window; drop them too.
    for (auto& [id, token] : timers) EventLoop::Current().CancelTimer(token);
    timers.clear();
    impl->timerArming.clear();
    handle = 0;
    impl->destroying = false;
}

bool Window::SetTimer(unsigned id, uint32_t ms) {
    if (!Exists() || impl->destroying) return false;
    KillTimer(id);
    const uint64_t arming = ++impl->lastArming;
    const WindowHandle self = handle;
    timers[id] = EventLoop::Current().AddTimer(
        ms, [self, id, arming] { WindowRegistry::FireTimer(self, id, arming); });
    impl->timerArming[id] = arming;
    return true;
}

void Window::KillTimer(unsigned id) {
    auto found = timers.find(id);
    if (found == timers.end()) return;
    EventLoop::Current().CancelTimer(found->second);
    timers.erase(found);
    impl->timerArming.erase(id);
}

bool Window::Post(WindowHandle window, unsigned message, uintptr_t wparam, uintptr_t lparam,
                  DiscardFunction discard) {
    if (window == 0) return false;
    {
        std::lock_guard<std::mutex> lock(WindowRegistry::Mutex());
        auto found = WindowRegistry::Live().find(window);
        if (found == WindowRegistry::Live().end()) return false;
        found->second->impl->queue.push_back(PostedMessage{message, wparam, lparam, discard});
    }
    EventLoop::Current().Wake([window] { WindowRegistry::DeliverOne(window); });
    return true;
}

void Window::OnTimer(unsigned) {}
void Window::OnMessage(unsigned, uintptr_t, uintptr_t) {}
void Window::OnDestroy() {}

}  // namespace platform
