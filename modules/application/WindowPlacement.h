#pragma once
// WindowPlacement: the main window's rectangle and maximised state, kept in
// section "Mainframe" of the per-user settings.
//
// The rectangle is stored as MainLeft/MainTop/MainRight/MainBottom: the window
// position that gtk_window_move takes and the content size that
// gtk_window_resize takes, so that what is saved comes back unchanged.
// Restoring moves a rectangle that lies on no monitor back into view (left to
// 0 first, then, if that is not enough, top to 0), measured against the work
// areas of the monitors. Stored zeros everywhere mean "leave the window where
// it is". Wayland does not let a client place or even locate its windows:
// there only the size and the maximised state come back, and saving keeps the
// stored position (from an X11 session) as it was.
//
// Saving needs the normal (not maximised) rectangle even while the window is
// maximised and while it is being destroyed, when GTK no longer answers
// geometry questions; the placement therefore follows the window's configure
// and state events and remembers the last normal rectangle it saw.

#include <gtk/gtk.h>

#include <vector>

struct PlacementRectangle {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const PlacementRectangle&) const = default;
};

// A rectangle that overlaps none of workAreas comes back with left at 0 (same
// width); if that still overlaps none, with top at 0 too (same height).
PlacementRectangle BringOntoMonitors(PlacementRectangle rectangle,
                                     const std::vector<GdkRectangle>& workAreas);

class WindowPlacement {
public:
    explicit WindowPlacement(GtkWindow* window);
    ~WindowPlacement();
    WindowPlacement(const WindowPlacement&) = delete;
    WindowPlacement& operator=(const WindowPlacement&) = delete;

    // Applies the stored placement; a missing right/bottom defaults to
    // left + minWidth / top + minHeight.
    void Restore(int minWidth, int minHeight);
    // Writes the normal rectangle and whether the window is maximised now.
    void Save();

private:
    static gboolean OnConfigure(GtkWidget* widget, GdkEvent* event, gpointer placement);
    static gboolean OnWindowState(GtkWidget* widget, GdkEventWindowState* event, gpointer placement);
    // True while the window is realized and neither maximised, full-screen nor tiled.
    bool IsNormal() const;
    void TakeNormalRectangle();

    GtkWindow* window;
    PlacementRectangle normal;
    bool maximized = false;
};
