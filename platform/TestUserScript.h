#pragma once
// A script that the end-to-end tests put into every page, so that they can
// drive the page where no input can be synthesised from outside (a Wayland
// compositor without a seat). Only when the environment names the script
// file in KORVO_TEST_USER_SCRIPT, and only in a program built with the tests
// (the CMake option KORVO_TESTS): such a script runs in every page, also in
// one without the bridge, and is exempt from the page's content policy, so
// the program that is packaged never takes one.

typedef struct _WebKitWebView WebKitWebView;

namespace platform {

// Adds the script named by KORVO_TEST_USER_SCRIPT (if any, and if this build
// takes one) to the view's pages: top frame only, run when the document has
// been parsed.
void AddTestUserScript(WebKitWebView* view);

}  // namespace platform
