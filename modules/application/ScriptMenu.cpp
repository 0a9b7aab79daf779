#include "ScriptMenu.h"

#include <glib.h>

#include <algorithm>
#include <string>

namespace {

const char* const CommandKey = "korvo-command";

int64_t CommandOf(GtkWidget* item) {
    auto* id = static_cast<int64_t*>(g_object_get_data(G_OBJECT(item), CommandKey));
    return id ? *id : 0;
}

// The pop-up menu of the bar entry at position, or null.
GtkWidget* PopupAt(GtkWidget* bar, int64_t position) {
    if (position < 0) return nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(bar));
    GList* entry = g_list_nth(children, static_cast<guint>(std::min<int64_t>(position, G_MAXUINT)));
    GtkWidget* popup = entry ? gtk_menu_item_get_submenu(GTK_MENU_ITEM(entry->data)) : nullptr;
    g_list_free(children);
    return popup;
}

// Command entries are check menu items so that they can carry a mark, but a
// desktop menu shows a mark only where an entry is checked: the themes draw an
// empty box for an unchecked check item, which this rule takes away.
constexpr char CommandClass[] = "korvo-command";
constexpr char CommandStyle[] =
    "menuitem.korvo-command check:not(:checked) {"
    " border-color: transparent; background-color: transparent; background-image: none;"
    " box-shadow: none; -gtk-icon-source: none; }";

void InstallCommandStyle() {
    static GdkScreen* styled = nullptr;
    GdkScreen* screen = gdk_screen_get_default();
    if (screen == nullptr || screen == styled) return;
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, CommandStyle, -1, nullptr);
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
    styled = screen;
}

}  // namespace

std::string MenuLabel(const String& text) {
    std::string label;
    std::string utf8 = text.ToUtf8();
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        char c = utf8[i];
        if (c == '&') {
            if (i + 1 < utf8.size() && utf8[i + 1] == '&') {
                label += '&';
                ++i;
            } else if (i + 1 < utf8.size()) {
                label += '_';
            }
        } else if (c == '_') {
            label += "__";
        } else {
            label += c;
        }
    }
    return label;
}

ScriptMenu::ScriptMenu() : bar(gtk_menu_bar_new()) {
    InstallCommandStyle();
    g_object_ref_sink(bar);
    GtkWidget* separator = gtk_separator_menu_item_new();
    gtk_widget_show(separator);
    gtk_menu_shell_append(GTK_MENU_SHELL(bar), separator);
    gtk_widget_set_no_show_all(bar, TRUE);
}

ScriptMenu::~ScriptMenu() {
    gtk_widget_destroy(bar);
    g_object_unref(bar);
}

void ScriptMenu::Clear() {
    GList* children = gtk_container_get_children(GTK_CONTAINER(bar));
    for (GList* entry = children; entry; entry = entry->next) gtk_widget_destroy(GTK_WIDGET(entry->data));
    g_list_free(children);
}

void ScriptMenu::Add(const String& text, int32_t identifier, int32_t parent) {
    GtkWidget* target = parent == 0 ? bar : PopupAt(bar, static_cast<int64_t>(parent) - 1);
    if (target == nullptr) return;

    GtkWidget* item;
    if (identifier != 0) {
        item = gtk_check_menu_item_new_with_mnemonic(MenuLabel(text).c_str());
        gtk_style_context_add_class(gtk_widget_get_style_context(item), CommandClass);
        int64_t command = static_cast<int64_t>(identifier) + CommandOffset;
        g_object_set_data_full(G_OBJECT(item), CommandKey, g_memdup2(&command, sizeof command), g_free);
        g_signal_connect(item, "activate", G_CALLBACK(OnActivate), this);
    } else if (text == L"-") {
        item = gtk_separator_menu_item_new();
    } else {
        item = gtk_menu_item_new_with_mnemonic(MenuLabel(text).c_str());
        GtkWidget* popup = gtk_menu_new();
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), popup);
    }
    gtk_widget_show(item);
    gtk_menu_shell_append(GTK_MENU_SHELL(target), item);
}

GtkCheckMenuItem* ScriptMenu::FindCommand(GtkWidget* shell, int64_t commandId) {
    GtkCheckMenuItem* found = nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(shell));
    for (GList* entry = children; entry && !found; entry = entry->next) {
        auto* item = GTK_WIDGET(entry->data);
        if (GTK_IS_CHECK_MENU_ITEM(item) && CommandOf(item) == commandId)
            found = GTK_CHECK_MENU_ITEM(item);
        else if (GtkWidget* popup = gtk_menu_item_get_submenu(GTK_MENU_ITEM(item)))
            found = FindCommand(popup, commandId);
    }
    g_list_free(children);
    return found;
}

bool ScriptMenu::Check(int64_t commandId, bool checked) {
    GtkCheckMenuItem* item = FindCommand(bar, commandId);
    if (item == nullptr) return false;
    settingMark = true;
    gtk_check_menu_item_set_active(item, checked);
    settingMark = false;
    return true;
}

void ScriptMenu::Show() {
    gtk_widget_set_no_show_all(bar, FALSE);
    gtk_widget_show(bar);
}

int ScriptMenu::EntryCount() const {
    GList* children = gtk_container_get_children(GTK_CONTAINER(bar));
    int count = static_cast<int>(g_list_length(children));
    g_list_free(children);
    return count;
}

void ScriptMenu::OnActivate(GtkMenuItem* item, gpointer data) {
    auto* menu = static_cast<ScriptMenu*>(data);
    // gtk_check_menu_item_set_active activates the item too: that is the menu
    // changing a mark, not a command.
    if (menu->settingMark) return;
    auto* check = GTK_CHECK_MENU_ITEM(item);
    menu->settingMark = true;
    gtk_check_menu_item_set_active(check, !gtk_check_menu_item_get_active(check));
    menu->settingMark = false;

    int64_t command = CommandOf(GTK_WIDGET(item));
    if (command < FirstReportedCommand || command > LastReportedCommand || !menu->onCommand) return;
    // The page may rebuild the menu from inside the command.
    g_object_ref(item);
    menu->onCommand(command - CommandOffset);
    g_object_unref(item);
}
