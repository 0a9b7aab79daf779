#include "WindowPlacement.h"

#include <algorithm>
#include <cstring>

#include "platform/Application.h"

namespace {

const wchar_t* const Section = L"Mainframe";

bool Overlaps(const PlacementRectangle& rectangle, const GdkRectangle& area) {
    // An empty or inverted rectangle still has a place: it counts as one pixel wide/high.
    int width = std::max(rectangle.Width(), 1);
    int height = std::max(rectangle.Height(), 1);
    return rectangle.left < area.x + area.width && area.x < rectangle.left + width &&
           rectangle.top < area.y + area.height && area.y < rectangle.top + height;
}

bool OnAnyMonitor(const PlacementRectangle& rectangle, const std::vector<GdkRectangle>& workAreas) {
    return std::any_of(workAreas.begin(), workAreas.end(),
                       [&](const GdkRectangle& area) { return Overlaps(rectangle, area); });
}

std::vector<GdkRectangle> WorkAreas(GtkWindow* window) {
    std::vector<GdkRectangle> areas;
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
    for (int i = 0, count = gdk_display_get_n_monitors(display); i < count; ++i) {
        GdkRectangle area;
        gdk_monitor_get_workarea(gdk_display_get_monitor(display, i), &area);
        areas.push_back(area);
    }
    return areas;
}

bool IsWayland(GtkWindow* window) {
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window));
    return std::strcmp(G_OBJECT_TYPE_NAME(display), "GdkWaylandDisplay") == 0;
}

}  // namespace

PlacementRectangle BringOntoMonitors(PlacementRectangle rectangle,
                                     const std::vector<GdkRectangle>& workAreas) {
    if (OnAnyMonitor(rectangle, workAreas)) return rectangle;
    rectangle.right -= rectangle.left;
    rectangle.left = 0;
    if (OnAnyMonitor(rectangle, workAreas)) return rectangle;
    rectangle.bottom -= rectangle.top;
    rectangle.top = 0;
    return rectangle;
}

WindowPlacement::WindowPlacement(GtkWindow* window) : window(window) {
    // Kept alive past its destruction so that the handlers can be disconnected.
    g_object_ref(window);
    g_signal_connect(window, "configure-event", G_CALLBACK(OnConfigure), this);
    g_signal_connect(window, "window-state-event", G_CALLBACK(OnWindowState), this);
    TakeNormalRectangle();
}

WindowPlacement::~WindowPlacement() {
    // A destroyed window has dropped its handlers already.
    g_signal_handlers_disconnect_by_data(window, this);
    g_object_unref(window);
}

void WindowPlacement::Restore(int minWidth, int minHeight) {
    platform::Settings& settings = platform::Application::Instance().Profile();
    PlacementRectangle stored;
    stored.left = settings.GetInt(Section, L"MainLeft", 0);
    stored.top = settings.GetInt(Section, L"MainTop", 0);
    stored.right = settings.GetInt(Section, L"MainRight", stored.left + minWidth);
    stored.bottom = settings.GetInt(Section, L"MainBottom", stored.top + minHeight);

    if (stored != PlacementRectangle{}) {
        PlacementRectangle target = BringOntoMonitors(stored, WorkAreas(window));
        // GTK refuses sizes below one pixel; the minimum-size hints raise
        // whatever comes back from a damaged store to the window's minimum.
        int width = std::max(target.Width(), 1);
        int height = std::max(target.Height(), 1);
        if (!IsWayland(window)) gtk_window_move(window, target.left, target.top);
        gtk_window_resize(window, width, height);
        normal = {target.left, target.top, target.left + width, target.top + height};
    }
    if (settings.GetInt(Section, L"MainMaximized", 0) != 0) gtk_window_maximize(window);
}

void WindowPlacement::Save() {
    if (IsNormal()) TakeNormalRectangle();
    platform::Settings& settings = platform::Application::Instance().Profile();
    PlacementRectangle saved = normal;
    if (IsWayland(window)) {
        // A Wayland client never learns where its window is (GTK answers
        // with its own offsets): keep the position stored by an X11 session
        // and store the size against it.
        saved.left = settings.GetInt(Section, L"MainLeft", 0);
        saved.top = settings.GetInt(Section, L"MainTop", 0);
        saved.right = saved.left + normal.Width();
        saved.bottom = saved.top + normal.Height();
    }
    settings.WriteInt(Section, L"MainLeft", saved.left);
    settings.WriteInt(Section, L"MainTop", saved.top);
    settings.WriteInt(Section, L"MainRight", saved.right);
    settings.WriteInt(Section, L"MainBottom", saved.bottom);
    settings.WriteInt(Section, L"MainMaximized", maximized ? 1 : 0);
}

void WindowPlacement::TakeNormalRectangle() {
    if (!gtk_widget_get_realized(GTK_WIDGET(window))) return;
    int x = 0, y = 0, width = 0, height = 0;
    gtk_window_get_position(window, &x, &y);
    gtk_window_get_size(window, &width, &height);
    normal = {x, y, x + width, y + height};
}

bool WindowPlacement::IsNormal() const {
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window));
    if (gdkWindow == nullptr) return false;
    const unsigned notNormal =
        GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN | GDK_WINDOW_STATE_TILED;
    return (gdk_window_get_state(gdkWindow) & notNormal) == 0;
}

gboolean WindowPlacement::OnConfigure(GtkWidget*, GdkEvent*, gpointer data) {
    auto* placement = static_cast<WindowPlacement*>(data);
    if (placement->IsNormal()) placement->TakeNormalRectangle();
    return FALSE;
}

gboolean WindowPlacement::OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer data) {
    auto* placement = static_cast<WindowPlacement*>(data);
    placement->maximized = (event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
    if (placement->IsNormal()) placement->TakeNormalRectangle();
    return FALSE;
}
