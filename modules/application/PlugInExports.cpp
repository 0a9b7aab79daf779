// The library's exports: the host makes both script modules by name and
// hands every module back to DeleteKorvoModule.
#include "JavaScriptWindow.h"
#include "framework/PlugIn.h"

KORVO_DEFINE_CREATE_MODULE(JavaScriptInterface)
KORVO_DEFINE_CREATE_MODULE(JavaScriptWindow)
KORVO_DEFINE_DELETE_MODULE
