#pragma once
// The process's one WebKit web context, shared by every WebView. Each web
// process it starts loads libKorvoWebExtension.so from the webext folder
// beside libKorvoPlatform.so and is handed the bridge socket's path with a
// token of its own (BridgeServer).

typedef struct _WebKitWebContext WebKitWebContext;

namespace platform {

WebKitWebContext* BridgedWebContext();

}  // namespace platform
