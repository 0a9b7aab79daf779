// Message boxes: the style bits choose the buttons, the icon, the default
// button and a help button; each button answers with its result code as the
// dialog's response id, so the response is the result. Closing the dialog
// (Escape, the title bar, the owner going away) answers like Cancel where the
// box has one, and otherwise with the answer that commits to nothing: OK for
// a lone OK, No for Yes/No, Abort for Abort/Retry/Ignore. Yes/No and
// Abort/Retry/Ignore boxes also lose the title bar's close button, as they
// demand a choice. The help button does not close the box. A style whose
// button field names no set shows a lone OK.
//
// GTK 3's message dialog draws no icon of its own, so the themed icon of the
// style (dialog-error, -warning, -question, -information) is put in; a style
// without an icon shows none. Texts come from pages and may be of any length,
// while laying out a label costs far more than linear time in its length (a
// 100 KB text froze the interface for 25 s): a box shows at most
// MaxShownLines lines and MaxShownCharacters characters, ends a shortened text
// with an ellipsis and puts the whole text in the log.

#include "MessageBox.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "Application.h"
#include "framework/Utf8.h"
#include "Window.h"

namespace platform {

namespace {

constexpr int HelpResponse = 9;  // IDHELP
// What a box lays out at most; a screen shows no more than this anyway.
constexpr std::size_t MaxShownCharacters = 2000;
constexpr int MaxShownLines = 40;

std::mutex hookMutex;
// The boxes on screen, innermost last (user-interface thread only).
std::vector<GtkWidget*> openBoxes;
MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

std::vector<std::pair<const char*, int>> MessageBoxButtons(unsigned style) {
    switch (style & 0xF) {
        case MB_OKCANCEL: return {{"_OK", IDOK}, {"_Cancel", IDCANCEL}};
        case MB_ABORTRETRYIGNORE: return {{"_Abort", IDABORT}, {"_Retry", IDRETRY}, {"_Ignore", IDIGNORE}};
        case MB_YESNOCANCEL: return {{"_Yes", IDYES}, {"_No", IDNO}, {"_Cancel", IDCANCEL}};
        case MB_YESNO: return {{"_Yes", IDYES}, {"_No", IDNO}};
        case MB_RETRYCANCEL: return {{"_Retry", IDRETRY}, {"_Cancel", IDCANCEL}};
        case MB_CANCELTRYCONTINUE:
            return {{"_Cancel", IDCANCEL}, {"_Try Again", IDTRYAGAIN}, {"_Continue", IDCONTINUE}};
        default: return {{"_OK", IDOK}};  // MB_OK, and button fields that name no set
    }
}

int MessageBoxClosedResult(unsigned style) {
    for (auto& [label, result] : MessageBoxButtons(style)) {
        if (result == IDCANCEL) return IDCANCEL;
    }
    switch (style & 0xF) {
        case MB_YESNO: return IDNO;
        case MB_ABORTRETRYIGNORE: return IDABORT;
        default: return IDOK;
    }
}

int MessageBoxDefaultResult(unsigned style) {
    auto buttons = MessageBoxButtons(style);
    size_t index = (style >> 8) & 0xF;
    // A default past the last button falls back to the first.
    return index < buttons.size() ? buttons[index].second : buttons.front().second;
}

// Shows the box of MessageBox; an empty okLabel keeps "_OK".
int ShowBox(Window* owner, const std::wstring& text, const std::wstring& caption, unsigned style,
            const std::string& okLabel);

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard<std::mutex> lock(hookMutex);
    Hook() = std::move(hook);
}

namespace {

// The part of text a box shows: whole when short, else cut after the line or
// character bound with an ellipsis added.
std::wstring ShownText(const std::wstring& text) {
    std::size_t end = 0;
    int lines = 1;
    for (; end < text.size() && end < MaxShownCharacters; ++end) {
        if (text[end] == L'\n' && ++lines > MaxShownLines) break;
    }
    if (end == text.size()) return text;
    return text.substr(0, end) + L"\u2026";
}

const char* IconName(GtkMessageType type) {
    switch (type) {
        case GTK_MESSAGE_ERROR: return "dialog-error";
        case GTK_MESSAGE_WARNING: return "dialog-warning";
        case GTK_MESSAGE_QUESTION: return "dialog-question";
        case GTK_MESSAGE_INFO: return "dialog-information";
        default: return nullptr;
    }
}

GtkWindow* OwnerToplevel(Window* owner) {
    if (!owner) owner = Application::Instance().MainOrActiveWindow();
    for (Window* window = owner; window; window = window->Parent()) {
        if (window->Toplevel()) {
            GtkWidget* top = gtk_widget_get_toplevel(window->Toplevel());
            return GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr;
        }
    }
    return nullptr;
}

}  // namespace

int MessageBox(Window* owner, const std::wstring& text, const std::wstring& caption, unsigned style) {
    return ShowBox(owner, text, caption, style, std::string());
}

int MessageBox(Window* owner, const std::wstring& text, const std::wstring& caption, unsigned style,
               const std::wstring& okLabel) {
    return ShowBox(owner, text, caption, style, EncodeUtf8(okLabel));
}

namespace {

int ShowBox(Window* owner, const std::wstring& text, const std::wstring& caption, unsigned style,
            const std::string& okLabel) {
    MessageBoxHook hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        hook = Hook();
    }
    if (hook) return hook(MessageBoxRecord{text, caption, style});

    if (!Application::Instance().InitToolkit()) {
        g_warning("A message box cannot be shown without a display: %s",
                  EncodeUtf8(text).c_str());
        return MessageBoxClosedResult(style);
    }

    GtkMessageType type;
    switch (style & 0xF0) {
        case MB_ICONERROR: type = GTK_MESSAGE_ERROR; break;
        case MB_ICONQUESTION: type = GTK_MESSAGE_QUESTION; break;
        case MB_ICONWARNING: type = GTK_MESSAGE_WARNING; break;
        case MB_ICONINFORMATION: type = GTK_MESSAGE_INFO; break;
        default: type = GTK_MESSAGE_OTHER; break;
    }

    GtkWindow* parent = OwnerToplevel(owner);
    std::wstring shown = ShownText(text);
    if (shown.size() != text.size())
        g_message("A message box shows the first %zu of %zu characters; the whole text: %s", shown.size() - 1,
                  text.size(), EncodeUtf8(text).c_str());
    // The text goes in as an argument of "%s", never as a format or markup.
    GtkWidget* dialog = gtk_message_dialog_new(
        parent, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), type,
        GTK_BUTTONS_NONE, "%s", EncodeUtf8(shown).c_str());
    if (const char* icon = IconName(type)) {
        GtkWidget* image = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_DIALOG);
        gtk_widget_set_valign(image, GTK_ALIGN_START);
        // The one way into the dialog's own icon place; GTK 3 keeps it working.
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(dialog), image);
        G_GNUC_END_IGNORE_DEPRECATIONS
        gtk_widget_show(image);
        // Setting an image makes the dialog forget its type; the type is what
        // accessibility tools announce, so it is given back.
        g_object_set(dialog, "message-type", type, nullptr);
    }
    gtk_window_set_title(GTK_WINDOW(dialog), EncodeUtf8(caption).c_str());
    const auto buttons = MessageBoxButtons(style);
    for (auto& [label, result] : buttons)
        gtk_dialog_add_button(GTK_DIALOG(dialog),
                              result == IDOK && !okLabel.empty() ? okLabel.c_str() : label, result);
    if (style & MB_HELP) gtk_dialog_add_button(GTK_DIALOG(dialog), "_Help", HelpResponse);
    // Yes/No and Abort/Retry/Ignore demand a choice: no close button.
    if (buttons.size() > 1 && MessageBoxClosedResult(style) != IDCANCEL)
        gtk_window_set_deletable(GTK_WINDOW(dialog), FALSE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), MessageBoxDefaultResult(style));
    if (style & MB_SYSTEMMODAL) gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);

    // Keep the dialog alive across the run even if the owner destroys it.
    g_object_ref_sink(dialog);
    openBoxes.push_back(dialog);
    int response;
    do {
        response = gtk_dialog_run(GTK_DIALOG(dialog));
    } while (response == HelpResponse);
    openBoxes.erase(std::find(openBoxes.begin(), openBoxes.end(), dialog));
    gtk_widget_destroy(dialog);
    g_object_unref(dialog);

    return response > 0 ? response : MessageBoxClosedResult(style);
}

}  // namespace

void CloseMessageBoxes() {
    for (GtkWidget* box : std::vector<GtkWidget*>(openBoxes))
        gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_DELETE_EVENT);
}

}  // namespace platform
