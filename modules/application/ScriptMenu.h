#pragma once
// ScriptMenu: the main window's menu bar, built entry by entry by the page's
// script.
//
// Positions and identifiers are the page's interface: a parent position
// counts the entries of the menu bar from 1, and a command entry carries the
// script's identifier plus 1024 as its command identifier, which is what
// check marks are addressed by and what comes back, minus 1024, when the entry
// is chosen. The bar starts with one separator entry, the way the window's
// menu has always begun, so that pages which add to it without clearing it
// first keep their positions. Every command entry is a check menu item, styled
// so that it shows a mark only while checked (no empty box otherwise); GTK
// flips a check item's mark when it is chosen, which a command must not do,
// so activation puts the mark back before it reports the command. Identifiers
// are held in 64 bits: identifier + 1024 cannot overflow whatever the page sends.

#include <gtk/gtk.h>

#include <cstdint>
#include <functional>

#include "framework/String.h"

class ScriptMenu {
public:
    static constexpr int64_t CommandOffset = 1024;
    // Command identifiers that are reported when chosen (a 16-bit range above the offset).
    static constexpr int64_t FirstReportedCommand = 1024;
    static constexpr int64_t LastReportedCommand = 66560;

    ScriptMenu();
    ~ScriptMenu();
    ScriptMenu(const ScriptMenu&) = delete;
    ScriptMenu& operator=(const ScriptMenu&) = delete;

    // The menu bar widget; hidden until Show.
    GtkWidget* Bar() const { return bar; }

    // Removes every entry of the bar.
    void Clear();
    // Adds to the bar (parent 0) or to the pop-up at bar position parent - 1:
    // identifier non-zero gives a command entry, identifier 0 with "-" a
    // separator, identifier 0 with other text a new empty pop-up. Nothing is
    // added when that position holds no pop-up.
    void Add(const String& text, int32_t identifier, int32_t parent);
    // Sets or clears the mark of the command entry with commandId anywhere in
    // the menu; false when there is none.
    bool Check(int64_t commandId, bool checked);
    void Show();

    // Number of entries directly on the bar.
    int EntryCount() const;

    // Called with the script identifier (command identifier - 1024) when a
    // command entry in the reported range is chosen.
    std::function<void(int64_t identifier)> onCommand;

private:
    static void OnActivate(GtkMenuItem* item, gpointer menu);
    GtkCheckMenuItem* FindCommand(GtkWidget* shell, int64_t commandId);

    GtkWidget* bar;
    bool settingMark = false;  // true while the menu itself changes a check mark
};

// Turns a menu text with "&" mnemonics into a GTK mnemonic label: "&File" ->
// "_File", "&&" -> "&", "_" -> "__".
std::string MenuLabel(const String& text);
