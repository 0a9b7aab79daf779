#pragma once
// JavaScriptWindow: the visible main window of the system. Its whole content
// is the page (below a menu bar that the page builds); it adds an icon, a
// minimum size, a remembered placement, menu commands and a close protocol
// that asks the page first.
//
// Closing (the window's close button, or korvoClose from the page) calls the
// page's korvoOnQueryClose. Only an answer of a non-zero integer or true lets
// the window close: the main window then calls korvoOnExit and ends the
// program's loop; any other window is hidden. A page that lacks the function
// or answers anything else keeps the window open. A window with no page that
// can answer (no valid address, or a document outside the page's folder)
// closes without asking. The protocol runs once per close, even when the
// page's own handlers call korvoClose.

#include <memory>

#include "JavaScriptInterface.h"
#include "ScriptMenu.h"
#include "WindowPlacement.h"

class JavaScriptWindow : public JavaScriptInterface {
public:
    // The minimum size when the project gives none through "MinWidth"/"MinHeight".
    static constexpr int DefaultMinWidth = 654;
    static constexpr int DefaultMinHeight = 487;

    JavaScriptWindow();
    ~JavaScriptWindow() override;

    // Creates and shows the window; it becomes the main window when there is none.
    void Start() override;

    platform::ScriptValue korvoApiCall(int32_t number,
                                       const platform::ScriptValue& argument) override;
    void CloseRequest() override;

    ScriptMenu* Menu() const { return menu.get(); }
    int MinWidth() const { return minWidth; }
    int MinHeight() const { return minHeight; }

protected:
    void OnDestroy() override;

private:
    void korvoClearMenu(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoAddMenuItem(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoCheckMenuItem(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoShowMenu(const platform::ScriptValue& argument, platform::ScriptValue& result);

    // A project value for the minimum size, or fallback when absent or zero.
    int MinimumFromConnector(const wchar_t* name, int fallback);
    void LoadIcon(GtkWindow* window);

    static gboolean OnDeleteEvent(GtkWidget* widget, GdkEvent* event, gpointer module);
    static gboolean OnKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer module);
    static gboolean OnButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer module);
    static gboolean OnContextMenu(GtkWidget* widget, gpointer menu, GdkEvent* event, gpointer hit,
                                  gpointer module);

    std::unique_ptr<ScriptMenu> menu;
    std::unique_ptr<WindowPlacement> placement;
    int minWidth = 0;
    int minHeight = 0;
    bool closing = false;  // the close protocol is running
};
