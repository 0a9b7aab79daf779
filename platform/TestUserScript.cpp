#include "TestUserScript.h"

#include <glib.h>
#include <webkit2/webkit2.h>

namespace platform {

#ifdef KORVO_TEST_HOOKS

void AddTestUserScript(WebKitWebView* view) {
    const char* file = g_getenv("KORVO_TEST_USER_SCRIPT");
    if (file == nullptr || *file == '\0') return;
    gchar* source = nullptr;
    GError* error = nullptr;
    if (!g_file_get_contents(file, &source, nullptr, &error)) {
        g_warning("The test script %s cannot be read: %s", file, error->message);
        g_error_free(error);
        return;
    }
    g_message("Test script %s added to the page.", file);
    WebKitUserScript* script =
        webkit_user_script_new(source, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_END, nullptr, nullptr);
    webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(view), script);
    webkit_user_script_unref(script);
    g_free(source);
}

#else

void AddTestUserScript(WebKitWebView*) {
    static bool said = false;
    if (!said && g_getenv("KORVO_TEST_USER_SCRIPT") != nullptr)
        g_message("KORVO_TEST_USER_SCRIPT is ignored: this program was built without the tests.");
    said = true;
}

#endif

}  // namespace platform
