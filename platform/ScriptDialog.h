#pragma once
// The page's alert, confirm and prompt, answered natively. The page's own
// dialogs would make its web process wait on the toolkit's IPC, which stalls
// while the user-interface thread waits on the page; these run on the
// user-interface thread instead. alert and confirm are message boxes (so the
// MessageBox test hook answers them); prompt is a small dialog with an entry
// and has a hook of its own.

#include <functional>
#include <optional>
#include <string>

#include "Export.h"

namespace platform {

class Window;

PLATFORM_API void ScriptAlert(Window* owner, const std::wstring& caption, const std::wstring& message);
// True when the user pressed OK.
PLATFORM_API bool ScriptConfirm(Window* owner, const std::wstring& caption,
                                const std::wstring& message);
// The entered text, or nothing when the user cancelled.
PLATFORM_API std::optional<std::wstring> PromptBox(Window* owner, const std::wstring& caption,
                                                   const std::wstring& message,
                                                   const std::wstring& defaultText);

// Test hook: while set, PromptBox shows nothing and returns what the hook gives
// for (message, defaultText).
using PromptBoxHook =
    std::function<std::optional<std::wstring>(const std::wstring&, const std::wstring&)>;
PLATFORM_API void SetPromptBoxHook(PromptBoxHook hook);

}  // namespace platform
