#include "ScriptDialog.h"

#include <gtk/gtk.h>

#include "MessageBox.h"
#include "framework/Utf8.h"
#include "Window.h"

namespace platform {

namespace {

PromptBoxHook& Hook() {
    static PromptBoxHook hook;
    return hook;
}

}  // namespace

void ScriptAlert(Window* owner, const std::wstring& caption, const std::wstring& message) {
    MessageBox(owner, message, caption, MB_OK | MB_ICONWARNING);
}

bool ScriptConfirm(Window* owner, const std::wstring& caption, const std::wstring& message) {
    return MessageBox(owner, message, caption, MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
}

void SetPromptBoxHook(PromptBoxHook hook) { Hook() = std::move(hook); }

std::optional<std::wstring> PromptBox(Window* owner, const std::wstring& caption,
                                      const std::wstring& message, const std::wstring& defaultText) {
    if (Hook()) return Hook()(message, defaultText);
    GtkWindow* parent = nullptr;
    if (owner && owner->Toplevel() && GTK_IS_WINDOW(owner->Toplevel()))
        parent = GTK_WINDOW(owner->Toplevel());
    GtkWidget* dialog = gtk_dialog_new_with_buttons(
        EncodeUtf8(caption).c_str(), parent,
        static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), "_Cancel",
        GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_container_set_border_width(GTK_CONTAINER(area), 12);
    gtk_box_set_spacing(GTK_BOX(area), 8);
    GtkWidget* label = gtk_label_new(EncodeUtf8(message).c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), EncodeUtf8(defaultText).c_str());
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_box_pack_start(GTK_BOX(area), label, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(area), entry, FALSE, FALSE, 0);
    gtk_widget_show_all(dialog);
    std::optional<std::wstring> result;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK) {
        const char* text = gtk_entry_get_text(GTK_ENTRY(entry));
        // GTK's text is UTF-8 already.
        std::wstring wide;
        DecodeUtf8(text, BadUtf8::Reject, wide);
        result = wide;
    }
    gtk_widget_destroy(dialog);
    return result;
}

}  // namespace platform
