#pragma once
// Modal message boxes with the Windows style bits and results as the interface,
// shown as GtkMessageDialog. A test hook records boxes and answers them.

#include <functional>
#include <string>

#include "Export.h"

namespace platform {

class Window;

// Style bits.
enum : unsigned {
    MB_OK = 0x0, MB_OKCANCEL = 0x1, MB_ABORTRETRYIGNORE = 0x2, MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4, MB_RETRYCANCEL = 0x5, MB_CANCELTRYCONTINUE = 0x6,
    MB_ICONHAND = 0x10, MB_ICONERROR = 0x10, MB_ICONSTOP = 0x10, MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30, MB_ICONWARNING = 0x30, MB_ICONASTERISK = 0x40,
    MB_ICONINFORMATION = 0x40,
    MB_DEFBUTTON1 = 0x0, MB_DEFBUTTON2 = 0x100, MB_DEFBUTTON3 = 0x200, MB_DEFBUTTON4 = 0x300,
    MB_SYSTEMMODAL = 0x1000, MB_HELP = 0x4000,
};
// Results.
enum : int {
    IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7,
    IDTRYAGAIN = 10, IDCONTINUE = 11,
};

struct MessageBoxRecord {
    std::wstring text;
    std::wstring caption;
    unsigned style;
};

// Shows a modal box owned by owner (may be null) and returns the button pressed.
PLATFORM_API int MessageBox(Window* owner, const std::wstring& text, const std::wstring& caption,
                            unsigned style);
// The same box with its OK button labelled okLabel ("_Open", say), for a box
// whose OK stands for one action. The test hook sees it as any other box.
PLATFORM_API int MessageBox(Window* owner, const std::wstring& text, const std::wstring& caption,
                            unsigned style, const std::wstring& okLabel);

// Ends every box on screen as if its window were closed (see MessageBox.cpp
// for the answer each style gives).
PLATFORM_API void CloseMessageBoxes();

// Test hook: while set, boxes are not shown; the hook gets each box and its
// result is the button "pressed".
using MessageBoxHook = std::function<int(const MessageBoxRecord&)>;
PLATFORM_API void SetMessageBoxHook(MessageBoxHook hook);

}  // namespace platform
