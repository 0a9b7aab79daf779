// What needs a display: top-level windows, the application's main loop and
// real message boxes. `bash .ci/test` provides an X server; without one these
// tests are skipped with the reason.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "RecordingWindow.h"
#include "platform/Application.h"
#include "platform/MessageBox.h"
#include "platform/SingleInstance.h"
#include "framework/Utf8.h"
#include "support/TemporaryFolder.h"

using namespace platform;
using Log = std::vector<std::string>;

namespace {

class ToolkitTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!g_getenv("DISPLAY") && !g_getenv("WAYLAND_DISPLAY"))
            GTEST_SKIP() << "no display (DISPLAY is not set); bash .ci/test starts Xvfb";
        // No accessibility bus in tests: its bridge only adds start-up time
        // and allocations it never frees.
        g_setenv("NO_AT_BRIDGE", "1", TRUE);
        ASSERT_TRUE(Application::Instance().InitToolkit()) << "the display cannot be opened";
    }
    void TearDown() override { SetMessageBoxHook(nullptr); }

    // Calls action from the main context after ms milliseconds.
    static void Later(guint ms, std::function<void()> action) {
        g_timeout_add_full(
            G_PRIORITY_DEFAULT, ms,
            [](gpointer data) -> gboolean {
                (*static_cast<std::function<void()>*>(data))();
                return G_SOURCE_REMOVE;
            },
            new std::function<void()>(std::move(action)),
            [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    }
};

TEST_F(ToolkitTest, RunEndsWhenTheMainWindowsGtkWindowGoesAway) {
    Log log;
    GtkWidget* gtkWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    RecordingWindow main(&log, "main"), child(&log, "child");
    ASSERT_TRUE(main.AttachToplevel(gtkWindow));
    ASSERT_TRUE(child.Create(&main));
    child.SetTimer(1, 60000);
    Application::Instance().SetMainWindow(&main);
    gtk_widget_show(gtkWindow);
    Later(50, [&] { gtk_widget_destroy(gtkWindow); });  // as closing it does

    EXPECT_EQ(Application::Instance().Run(), 0);
    EXPECT_EQ(log, (Log{"child:destroy", "main:destroy"}));
    EXPECT_FALSE(main.Exists());
    EXPECT_EQ(main.Toplevel(), nullptr);
    EXPECT_EQ(Application::Instance().MainWindow(), nullptr);
}

TEST_F(ToolkitTest, QuitEndsRunWithItsExitCode) {
    RecordingWindow main;
    GtkWidget* gtkWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    ASSERT_TRUE(main.AttachToplevel(gtkWindow));
    Application::Instance().SetMainWindow(&main);
    main.Post(0x400, 0, 0);
    Later(20, [] { Application::Instance().Quit(3); });
    EXPECT_EQ(Application::Instance().Run(), 3);
    EXPECT_EQ(main.ownLog, Log{"w:msg1024/0"}) << "posted messages run in the GTK loop";
    EXPECT_TRUE(main.Exists()) << "quitting leaves the main window alone";

    Application::Instance().Quit(4);  // before Run: the next Run ends at once
    EXPECT_EQ(Application::Instance().Run(), 4);
    Application::Instance().Quit(0);
    Application::Instance().Run();
    main.Destroy();
}

TEST_F(ToolkitTest, DestroyingTheWindowEndsItsGtkWindowAndFocusMakesItActive) {
    GtkWidget* gtkWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref(gtkWindow);  // to look at it after Destroy
    RecordingWindow window;
    EXPECT_FALSE(window.AttachToplevel(gtk_label_new("not a window")));
    ASSERT_TRUE(window.AttachToplevel(gtkWindow));
    EXPECT_FALSE(window.AttachToplevel(gtkWindow)) << "attached once";

    GdkEvent* focus = gdk_event_new(GDK_FOCUS_CHANGE);
    focus->focus_change.in = TRUE;
    gboolean handled;
    g_signal_emit_by_name(gtkWindow, "focus-in-event", focus, &handled);
    gdk_event_free(focus);
    EXPECT_EQ(Application::Instance().ActiveWindow(), &window);

    window.Destroy();
    EXPECT_TRUE(gtk_widget_in_destruction(gtkWindow) || !gtk_widget_get_realized(gtkWindow));
    EXPECT_EQ(gtk_window_list_toplevels(), nullptr) << "the GTK window is gone";
    EXPECT_EQ(Application::Instance().ActiveWindow(), nullptr);
    g_object_unref(gtkWindow);
}

// Needs no display: the hook answers before any toolkit is touched.
TEST(MessageBoxHookTest, HookAnswersInsteadOfADialog) {
    std::vector<MessageBoxRecord> shown;
    SetMessageBoxHook([&](const MessageBoxRecord& record) {
        shown.push_back(record);
        return IDRETRY;
    });
    EXPECT_EQ(MessageBox(nullptr, L"Invalid script source!", L"Caption", MB_ICONERROR | MB_RETRYCANCEL),
              IDRETRY);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"Invalid script source!");
    EXPECT_EQ(shown[0].caption, L"Caption");
    EXPECT_EQ(shown[0].style, unsigned(MB_ICONERROR | MB_RETRYCANCEL));
    SetMessageBoxHook(nullptr);
}

// What a real dialog showed, seen from inside its modal loop.
struct Seen {
    std::vector<int> buttons;  // response ids in the order shown
    int defaultResponse = 0;
    GtkMessageType type = GTK_MESSAGE_OTHER;
    std::string title, text;
    std::string icon;  // themed icon shown beside the text, "" for none
    bool deletable = true;
    GtkWindow* transientFor = nullptr;
};

GtkWidget* FindDialog() {
    GList* all = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* at = all; at; at = at->next) {
        if (GTK_IS_MESSAGE_DIALOG(at->data) && gtk_widget_get_visible(GTK_WIDGET(at->data)))
            found = GTK_WIDGET(at->data);
    }
    g_list_free(all);
    return found;
}

Seen Inspect(GtkWidget* dialog) {
    Seen seen;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkWidget* area = gtk_dialog_get_action_area(GTK_DIALOG(dialog));
    GList* buttons = gtk_container_get_children(GTK_CONTAINER(area));
    G_GNUC_END_IGNORE_DEPRECATIONS
    for (GList* at = buttons; at; at = at->next)
        seen.buttons.push_back(gtk_dialog_get_response_for_widget(GTK_DIALOG(dialog), GTK_WIDGET(at->data)));
    g_list_free(buttons);
    GtkWidget* byDefault = gtk_window_get_default_widget(GTK_WINDOW(dialog));
    seen.defaultResponse = byDefault ? gtk_dialog_get_response_for_widget(GTK_DIALOG(dialog), byDefault) : 0;
    g_object_get(dialog, "message-type", &seen.type, nullptr);
    seen.title = gtk_window_get_title(GTK_WINDOW(dialog));
    gchar* text = nullptr;
    g_object_get(dialog, "text", &text, nullptr);
    seen.text = text ? text : "";
    g_free(text);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkWidget* image = gtk_message_dialog_get_image(GTK_MESSAGE_DIALOG(dialog));
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (image && GTK_IS_IMAGE(image) && gtk_widget_get_visible(image) &&
        gtk_image_get_storage_type(GTK_IMAGE(image)) == GTK_IMAGE_ICON_NAME) {
        const gchar* name = nullptr;
        gtk_image_get_icon_name(GTK_IMAGE(image), &name, nullptr);
        seen.icon = name ? name : "";
    }
    seen.deletable = gtk_window_get_deletable(GTK_WINDOW(dialog));
    seen.transientFor = gtk_window_get_transient_for(GTK_WINDOW(dialog));
    return seen;
}

// Shows a real box, answers it with the given responses in turn, and returns
// the result and what the dialog looked like.
int ShowAndAnswer(Window* owner, unsigned style, std::vector<int> answers, Seen& seen,
                  const std::wstring& text = L"Text") {
    struct Answering {
        std::vector<int> answers;
        Seen* seen;
        size_t next = 0;
    } answering{std::move(answers), &seen};
    guint source = g_timeout_add(
        20,
        [](gpointer data) -> gboolean {
            auto* a = static_cast<Answering*>(data);
            GtkWidget* dialog = FindDialog();
            if (!dialog) return G_SOURCE_CONTINUE;
            if (a->next == 0) *a->seen = Inspect(dialog);
            if (a->next < a->answers.size()) gtk_dialog_response(GTK_DIALOG(dialog), a->answers[a->next++]);
            return G_SOURCE_CONTINUE;
        },
        &answering);
    int result = MessageBox(owner, text, L"Title", style);
    g_source_remove(source);
    return result;
}

TEST_F(ToolkitTest, StylesMapToButtonsIconsAndDefaults) {
    const int Closed = GTK_RESPONSE_DELETE_EVENT;
    struct Case {
        unsigned style;
        std::vector<int> buttons;
        int defaultButton;
        GtkMessageType type;
        int answer, result;
    } cases[] = {
        {MB_OK, {IDOK}, IDOK, GTK_MESSAGE_OTHER, IDOK, IDOK},
        {MB_OK | MB_ICONERROR, {IDOK}, IDOK, GTK_MESSAGE_ERROR, Closed, IDOK},
        {MB_OKCANCEL | MB_ICONQUESTION, {IDOK, IDCANCEL}, IDOK, GTK_MESSAGE_QUESTION, Closed, IDCANCEL},
        {MB_ABORTRETRYIGNORE | MB_ICONWARNING | MB_DEFBUTTON3, {IDABORT, IDRETRY, IDIGNORE}, IDIGNORE,
         GTK_MESSAGE_WARNING, IDRETRY, IDRETRY},
        {MB_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}, IDABORT, GTK_MESSAGE_OTHER, Closed, IDABORT},
        {MB_YESNOCANCEL | MB_ICONINFORMATION | MB_DEFBUTTON2, {IDYES, IDNO, IDCANCEL}, IDNO,
         GTK_MESSAGE_INFO, Closed, IDCANCEL},
        {MB_YESNO | MB_ICONINFORMATION | MB_SYSTEMMODAL, {IDYES, IDNO}, IDYES, GTK_MESSAGE_INFO, IDYES, IDYES},
        {MB_YESNO | MB_DEFBUTTON2, {IDYES, IDNO}, IDNO, GTK_MESSAGE_OTHER, Closed, IDNO},
        {MB_RETRYCANCEL | MB_DEFBUTTON4, {IDRETRY, IDCANCEL}, IDRETRY, GTK_MESSAGE_OTHER, IDCANCEL, IDCANCEL},
        {MB_CANCELTRYCONTINUE | MB_DEFBUTTON2, {IDCANCEL, IDTRYAGAIN, IDCONTINUE}, IDTRYAGAIN,
         GTK_MESSAGE_OTHER, IDCONTINUE, IDCONTINUE},
        {0x9, {IDOK}, IDOK, GTK_MESSAGE_OTHER, IDOK, IDOK},  // no such button set
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "style 0x" << std::hex << c.style);
        Seen seen;
        EXPECT_EQ(ShowAndAnswer(nullptr, c.style, {c.answer}, seen), c.result);
        EXPECT_EQ(seen.buttons, c.buttons);
        EXPECT_EQ(seen.defaultResponse, c.defaultButton);
        EXPECT_EQ(seen.type, c.type);
        const std::map<GtkMessageType, std::string> icons = {{GTK_MESSAGE_ERROR, "dialog-error"},
                                                             {GTK_MESSAGE_WARNING, "dialog-warning"},
                                                             {GTK_MESSAGE_QUESTION, "dialog-question"},
                                                             {GTK_MESSAGE_INFO, "dialog-information"},
                                                             {GTK_MESSAGE_OTHER, ""}};
        EXPECT_EQ(seen.icon, icons.at(c.type));
        bool hasCancel = std::find(c.buttons.begin(), c.buttons.end(), IDCANCEL) != c.buttons.end();
        EXPECT_EQ(seen.deletable, hasCancel || c.buttons.size() == 1);
    }
}

TEST_F(ToolkitTest, HelpButtonKeepsTheBoxOpenAndTextStaysText) {
    Seen seen;
    // %s and markup in the text are shown as they stand.
    EXPECT_EQ(ShowAndAnswer(nullptr, MB_OKCANCEL | MB_HELP, {9, IDOK}, seen, L"50% <b>%s</b> ünï"), IDOK);
    EXPECT_EQ(seen.buttons, (std::vector<int>{IDOK, IDCANCEL, 9}));
    EXPECT_EQ(seen.text, "50% <b>%s</b> ünï");
    EXPECT_EQ(seen.title, "Title");
}

// A page may show any amount of text: the box lays out a bounded part of it,
// cut with an ellipsis, and stays responsive.
TEST_F(ToolkitTest, LongTextsAreShortenedToWhatABoxCanShow) {
    std::wstring many;
    for (int i = 0; i < 100; ++i) many += L"line " + std::to_wstring(i) + L"\n";
    struct Case {
        const char* what;
        std::wstring text;
        std::size_t shown;  // characters shown before the ellipsis; 0: all, no ellipsis
    } cases[] = {
        {"short text", L"Invalid script source!", 0},
        {"100 KB on one line", std::wstring(100000, L'x'), 2000},
        {"100 KB of words", [] {
             std::wstring words;
             while (words.size() < 100000) words += L"word ";
             return words;
         }(), 2000},
        {"100 short lines", many, many.find(L"\nline 40\n")},  // 40 lines, the last without its line end
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Seen seen;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ShowAndAnswer(nullptr, MB_OK | MB_ICONINFORMATION, {IDOK}, seen, c.text), IDOK);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        std::cout << "[ figure ] " << c.what << ": box shown and answered in " << ms.count() << " ms\n";
        std::string expected = EncodeUtf8(c.shown ? c.text.substr(0, c.shown) + L"\u2026" : c.text);
        EXPECT_EQ(seen.text, expected);
    }
}

TEST_F(ToolkitTest, OwnersTopLevelWindowIsTheTransientParent) {
    GtkWidget* gtkWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    RecordingWindow top, hidden, other;
    ASSERT_TRUE(top.AttachToplevel(gtkWindow));
    ASSERT_TRUE(hidden.Create(&top));
    Seen seen;
    ShowAndAnswer(&hidden, MB_OK, {IDOK}, seen);
    EXPECT_EQ(seen.transientFor, GTK_WINDOW(gtkWindow));

    ASSERT_TRUE(other.CreateToplevel());  // no GTK window anywhere up the chain
    Application::Instance().SetMainWindow(nullptr);
    Application::Instance().SetActiveWindow(nullptr);
    ShowAndAnswer(&other, MB_OK, {IDOK}, seen);
    EXPECT_EQ(seen.transientFor, nullptr);
}

TEST_F(ToolkitTest, OwnerGoingAwayClosesTheBoxLikeCancel) {
    GtkWidget* gtkWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    RecordingWindow top;
    ASSERT_TRUE(top.AttachToplevel(gtkWindow));
    Later(60, [&] { top.Destroy(); });
    Seen seen;
    EXPECT_EQ(ShowAndAnswer(&top, MB_YESNOCANCEL, {}, seen), IDCANCEL);
}

TEST_F(ToolkitTest, ActivateRequestPresentsTheMainWindow) {
    const korvotest::TemporaryFolder runtime{"instance"};
    g_setenv("XDG_RUNTIME_DIR", runtime.path.c_str(), TRUE);
    GtkWidget* gtkWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    RecordingWindow main;
    ASSERT_TRUE(main.AttachToplevel(gtkWindow));
    Application::Instance().SetMainWindow(&main);
    ASSERT_EQ(SingleInstance::Acquire(L"presenttest"), InstanceResult::First);
    bool activated = false;
    SingleInstance::SetActivateObserver([&] { activated = true; });
    EXPECT_FALSE(gtk_widget_get_visible(gtkWindow));

    // This process plays the second copy too: the request goes through the socket.
    ASSERT_TRUE(SingleInstance::NotifyFirstInstance());
    for (int i = 0; i < 500 && !activated; ++i) {
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
    }
    EXPECT_TRUE(activated);
    EXPECT_TRUE(gtk_widget_get_visible(gtkWindow)) << "the main window is presented";
    main.Destroy();
    g_unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
