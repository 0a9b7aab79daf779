// The reference of bench_startup: the least a GTK program needs to show a page
// in WebKitGTK. One window of the program's default size holding one web view
// with the web process sandbox on, loading the page given as the argument.
// When the load has finished it prints "loaded <monotonic clock in µs>" on
// standard output; it ends on SIGTERM or when the window is closed.

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>

namespace {

// The main window's size on a first start (its minimum).
constexpr int kWidth = 654;
constexpr int kHeight = 487;

void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer) {
    static bool reported = false;
    if (event != WEBKIT_LOAD_FINISHED || reported) return;
    reported = true;
    std::printf("loaded %" G_GINT64_FORMAT "\n", g_get_monotonic_time());
    std::fflush(stdout);
}

gboolean OnTerminate(gpointer) {
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PAGE-FILE\n", argv[0]);
        return 2;
    }
    gchar* uri = g_filename_to_uri(argv[1], nullptr, nullptr);
    if (!uri) {
        std::fprintf(stderr, "%s: not an absolute file name\n", argv[1]);
        return 2;
    }
    g_unix_signal_add(SIGTERM, OnTerminate, nullptr);

    WebKitWebContext* context = webkit_web_context_new();
    webkit_web_context_set_sandbox_enabled(context, TRUE);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), kWidth, kHeight);
    GtkWidget* view = webkit_web_view_new_with_context(context);
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), uri);
    g_free(uri);

    gtk_main();
    g_object_unref(context);
    return 0;
}
