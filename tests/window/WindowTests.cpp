// The script modules as windows: the page address, placement, menu, close
// protocol, icon, caption and the library's exports.

#include <dlfcn.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include "ScriptPageTest.h"
#include "framework/PlugIn.h"
#include "modules/application/JavaScriptWindow.h"
#include "modules/application/WindowPlacement.h"
#include "platform/Application.h"
#include "platform/WebView.h"

using platform::ScriptValue;
using platform::Application;
using platform::MB_ICONERROR;

namespace {

platform::Settings& Profile() { return Application::Instance().Profile(); }

void StorePlacement(int left, int top, int right, int bottom) {
    Profile().WriteInt(L"Mainframe", L"MainLeft", left);
    Profile().WriteInt(L"Mainframe", L"MainTop", top);
    Profile().WriteInt(L"Mainframe", L"MainRight", right);
    Profile().WriteInt(L"Mainframe", L"MainBottom", bottom);
}

PlacementRectangle StoredPlacement() {
    return {Profile().GetInt(L"Mainframe", L"MainLeft", -1), Profile().GetInt(L"Mainframe", L"MainTop", -1),
            Profile().GetInt(L"Mainframe", L"MainRight", -1), Profile().GetInt(L"Mainframe", L"MainBottom", -1)};
}

// Bounds a wait for the window manager of the test display to map, move or
// resize a window, or for a key to reach the page; never a speed.
constexpr int WindowWaitMs = 5000;

PlacementRectangle Geometry(GtkWidget* window) {
    int x = 0, y = 0, width = 0, height = 0;
    gtk_window_get_position(GTK_WINDOW(window), &x, &y);
    gtk_window_get_size(GTK_WINDOW(window), &width, &height);
    return {x, y, x + width, y + height};
}

bool SettlesAt(GtkWidget* window, PlacementRectangle expected) {
    return korvotest::PumpUntil([&] { return Geometry(window) == expected; }, WindowWaitMs);
}

std::string Describe(const PlacementRectangle& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

std::wstring ScriptText(JavaScriptInterface& module, const wchar_t* function) {
    ScriptValue result;
    if (module.CallScript(function, &result) != platform::S_OK) return L"(call failed)";
    return result.text;
}

// Runs the program's loop; a loop that nothing ends stops after ms with -1.
int RunBriefly(guint ms = 400) {
    guint guard = g_timeout_add(
        ms, [](gpointer) -> gboolean {
            Application::Instance().Quit(-1);
            return G_SOURCE_REMOVE;
        },
        nullptr);
    int code = Application::Instance().Run();
    if (code != -1) g_source_remove(guard);
    return code;
}

// Clicks the close button of window as soon as the program's loop runs.
void CloseOnceRunning(GtkWidget* window) {
    g_idle_add(
        [](gpointer window) -> gboolean {
            gtk_window_close(GTK_WINDOW(window));
            return G_SOURCE_REMOVE;
        },
        window);
}

class ScriptWindowTest : public ScriptPageTest {};

// --- The page address -------------------------------------------------------

TEST_F(ScriptWindowTest, EmptyScriptSourceShowsTheErrorBox) {
    auto script = StartModule<JavaScriptInterface>("", false);
    auto window = StartModule<JavaScriptWindow>("", false);
    ASSERT_EQ(boxes.size(), 2u);
    for (const auto& box : boxes) {
        EXPECT_EQ(box.text, L"Invalid script source!");
        EXPECT_EQ(box.style, MB_ICONERROR);
    }
    EXPECT_EQ(script->View()->Uri(), "");
    EXPECT_EQ(window->CallScript(L"anything", nullptr), platform::E_FAIL);
}

TEST_F(ScriptWindowTest, ProgramFolderAndName) {
    JavaScriptInterface module;
    gchar* program = g_file_read_link("/proc/self/exe", nullptr);
    gchar* folder = g_path_get_dirname(program);
    EXPECT_EQ(module.ExeDirectory().ToUtf8(), std::string(folder) + "/");
    EXPECT_EQ(module.ExeName(), L"ScriptWindowTests");
    g_free(folder);
    g_free(program);
}

TEST_F(ScriptWindowTest, AddressesBecomeUris) {
    // A page beside the test program stands for one beside the host program.
    std::string name = "korvo-exedir-" + std::to_string(getpid()) + ".html";
    JavaScriptInterface probe;
    std::string besideProgram = probe.ExeDirectory().ToUtf8() + name;
    ASSERT_TRUE(g_file_set_contents(besideProgram.c_str(), Page("beside", "").c_str(), -1, nullptr));
    std::string inFolder = WritePage(name, Page("in folder", ""));

    gchar* previous = g_get_current_dir();
    ASSERT_EQ(g_chdir(folder.c_str()), 0);
    gchar* folderUri = g_filename_to_uri(inFolder.c_str(), nullptr, nullptr);
    gchar* programUri = g_filename_to_uri(besideProgram.c_str(), nullptr, nullptr);
    struct Row {
        std::string address;
        std::string uri;
    } rows[] = {
        {"#EXEDIR#" + name, programUri},
        {name, folderUri},       // relative to the current directory
        {inFolder, folderUri},   // absolute path
        {folderUri, folderUri},  // already a URI
    };
    for (const Row& row : rows) {
        auto module = StartModule<JavaScriptInterface>(row.address);
        EXPECT_EQ(module->View()->Uri(), row.uri) << row.address;
    }
    EXPECT_TRUE(boxes.empty());
    g_chdir(previous);
    g_free(previous);
    g_free(folderUri);
    g_free(programUri);
    g_remove(besideProgram.c_str());
}

TEST_F(ScriptWindowTest, NewAddressThroughTheConnectorReloadsThePage) {
    std::string first = WritePage("first.html", Page("first", ""));
    std::string second = WritePage("second.html", Page("second", ""));
    auto module = StartModule<JavaScriptWindow>(first);
    KorvoTextConnector peer(L"Peer", nullptr, 0, nullptr);
    peer.SetText(String::FromUtf8(first), false);
    peer.Connect(module->FindConnector(L"Script"));
    peer.SetText(String::FromUtf8(second), false);
    EXPECT_TRUE(korvotest::PumpUntil([&] {
        return module->View()->IsLoaded() && module->View()->Title() == L"second";
    }));
    EXPECT_TRUE(korvotest::PumpUntil([&] {
        return std::string(gtk_window_get_title(GTK_WINDOW(module->Toplevel()))) == "second";
    })) << "the caption follows the page title";
}

// --- Placement ---------------------------------------------------------------

TEST(BringOntoMonitors, ShiftsOnlyWhatLiesOffEveryMonitor) {
    const std::vector<GdkRectangle> one{{0, 0, 1280, 1024}};
    const std::vector<GdkRectangle> two{{0, 0, 1280, 1024}, {1280, 0, 1920, 1080}};
    struct Row {
        PlacementRectangle stored;
        std::vector<GdkRectangle> areas;
        PlacementRectangle expected;
    } rows[] = {
        {{100, 100, 700, 500}, one, {100, 100, 700, 500}},          // on screen: as stored
        {{-2000, 100, -1400, 500}, one, {0, 100, 600, 500}},        // left of all: x = 0, same width
        {{-100, 100, 500, 500}, one, {-100, 100, 500, 500}},        // partly on screen: kept
        {{100, -3000, 700, -2600}, one, {0, 0, 600, 400}},          // above: x goes to 0 first, then y
        {{5000, 5000, 5600, 5400}, one, {0, 0, 600, 400}},          // far off: both
        {{2000, 100, 2600, 500}, two, {2000, 100, 2600, 500}},      // on the second monitor
        {{3300, 100, 3900, 500}, two, {0, 100, 600, 500}},          // right of both
        {{-500, 100, -500, 500}, one, {0, 100, 0, 500}},            // no width: still placed by its corner
    };
    for (const Row& row : rows)
        EXPECT_EQ(Describe(BringOntoMonitors(row.stored, row.areas)), Describe(row.expected))
            << Describe(row.stored);
}

TEST_F(ScriptWindowTest, StoredPlacementOnAPlainWindow) {
    struct Row {
        PlacementRectangle stored;
        PlacementRectangle expected;  // the window starts at 100,120 sized 300x200
    } rows[] = {
        {{0, 0, 0, 0}, {100, 120, 400, 320}},          // all zero: left alone
        {{10, 20, 710, 520}, {10, 20, 710, 520}},
        {{-3000, 40, -2300, 540}, {0, 40, 700, 540}},  // wholly left of every monitor
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Describe(row.stored));
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_move(GTK_WINDOW(window), 100, 120);
        gtk_window_resize(GTK_WINDOW(window), 300, 200);
        gtk_widget_show(window);
        ASSERT_TRUE(SettlesAt(window, {100, 120, 400, 320})) << Describe(Geometry(window));
        {
            WindowPlacement placement(GTK_WINDOW(window));
            StorePlacement(row.stored.left, row.stored.top, row.stored.right, row.stored.bottom);
            placement.Restore(50, 50);
            EXPECT_TRUE(SettlesAt(window, row.expected)) << Describe(Geometry(window));
            placement.Save();
            EXPECT_EQ(Describe(StoredPlacement()), Describe(row.expected)) << "saved as shown";
        }
        gtk_widget_destroy(window);
    }
}

TEST_F(ScriptWindowTest, FirstStartPlacesTheWindowTopLeftAtItsMinimumSize) {
    std::string page = WritePage("size.html", Page("size", ""));
    struct Row {
        int32_t minWidth, minHeight;  // 0: the project gives no connector
        PlacementRectangle expected;
    } rows[] = {
        {0, 0, {0, 0, 654, 487}},
        {800, 600, {0, 0, 800, 600}},
    };
    for (const Row& row : rows) {
        auto module = std::make_unique<JavaScriptWindow>();
        if (row.minWidth) {
            // The host adds connectors that the project names to the module.
            auto* width = new KorvoLongConnector(L"MinWidth", nullptr, 0, module.get());
            auto* height = new KorvoLongConnector(L"MinHeight", nullptr, 0, module.get());
            width->SetLong(row.minWidth, false);
            height->SetLong(row.minHeight, false);
            module->connectors.Add(width);
            module->connectors.Add(height);
        }
        module->FindConnector(L"Script")->SetText(String::FromUtf8(page), false);
        module->Start();
        EXPECT_TRUE(SettlesAt(module->Toplevel(), row.expected)) << Describe(Geometry(module->Toplevel()));
        module.reset();
        g_remove(Profile().Path().c_str());  // the next row starts afresh
    }
}

// --- Menu --------------------------------------------------------------------

const char* const MenuScript = R"js(
var commands = [];
function korvoOnCommand(id) { commands.push(typeof id + ":" + id); }
function commandLog() { return commands.join(","); }
)js";

GtkWidget* BarEntry(ScriptMenu& menu, int position) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(menu.Bar()));
    GtkWidget* entry = GTK_WIDGET(g_list_nth_data(children, position));
    g_list_free(children);
    return entry;
}

TEST_F(ScriptWindowTest, CommandEntriesReportTheirScriptIdentifier) {
    auto module = StartModule<JavaScriptWindow>(WritePage("menu.html", Page("menu", MenuScript)));
    ScriptMenu& menu = *module->Menu();
    EXPECT_EQ(menu.EntryCount(), 1) << "the menu starts with its one separator";
    EXPECT_EQ(Probe(*module, 102, "[]"), L"boolean:true");
    EXPECT_EQ(menu.EntryCount(), 0);

    EXPECT_EQ(Probe(*module, 103, "['&Go', 5, 0, undefined]"), L"boolean:true");
    GtkWidget* go = BarEntry(menu, 0);
    ASSERT_TRUE(GTK_IS_CHECK_MENU_ITEM(go));
    EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(go)), "_Go");

    EXPECT_EQ(Probe(*module, 104, "[5, 1]"), L"boolean:false") << "addressed by command identifier";
    EXPECT_EQ(Probe(*module, 104, "[1029, 1]"), L"boolean:true");
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(go)));

    gtk_menu_item_activate(GTK_MENU_ITEM(go));
    EXPECT_EQ(ScriptText(*module, L"commandLog"), L"string:5");
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(go))) << "choosing keeps the mark";

    EXPECT_EQ(Probe(*module, 104, "[1029, 0]"), L"boolean:true");
    EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(go)));
    EXPECT_EQ(Probe(*module, 104, "[1029, undefined]"), L"boolean:true");
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(go))) << "undefined sets the mark";
}

// The pixels of a command entry left of its label: what its mark area shows.
struct MarkArea {
    bool uniform = true;  // one colour along every row: nothing drawn there
    int width = 0;
};

MarkArea DrawnMarkArea(GtkWidget* item) {
    korvotest::PumpFor(100);  // the new state laid out and drawn
    GtkAllocation entry, label;
    gtk_widget_get_allocation(item, &entry);
    gtk_widget_get_allocation(gtk_bin_get_child(GTK_BIN(item)), &label);
    MarkArea area;
    area.width = label.x - entry.x;
    if (entry.width <= 0 || entry.height <= 0) return area;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, entry.width, entry.height);
    cairo_t* cr = cairo_create(surface);
    gtk_widget_draw(item, cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const unsigned char* pixels = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    // Row by row: a background may shade from top to bottom.
    for (int y = 0; y < entry.height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(pixels + y * stride);
        for (int x = 0; x < area.width && x < entry.width; ++x)
            if (row[x] != row[0]) area.uniform = false;
    }
    cairo_surface_destroy(surface);
    return area;
}

// A command entry in a pop-up shows a mark only while it is checked; unchecked
// it draws no empty box.
TEST_F(ScriptWindowTest, OnlyCheckedEntriesShowAMark) {
    ScriptMenu menu;
    menu.Clear();
    menu.Add(L"File", 0, 0);
    menu.Add(L"Go", 5, 1);
    GtkWidget* popup = gtk_menu_item_get_submenu(GTK_MENU_ITEM(BarEntry(menu, 0)));
    ASSERT_NE(popup, nullptr);
    GList* items = gtk_container_get_children(GTK_CONTAINER(popup));
    GtkWidget* go = GTK_WIDGET(items->data);
    g_list_free(items);
    // Popped up on the screen, where the entries are laid out and drawn.
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_show(window);
    ASSERT_TRUE(korvotest::PumpUntil([&] { return gtk_widget_get_mapped(window); }, WindowWaitMs));
    GdkRectangle at{0, 0, 1, 1};
    gtk_menu_popup_at_rect(GTK_MENU(popup), gtk_widget_get_window(window), &at, GDK_GRAVITY_SOUTH_WEST,
                           GDK_GRAVITY_NORTH_WEST, nullptr);
    ASSERT_TRUE(korvotest::PumpUntil([&] { return gtk_widget_get_mapped(go) && gtk_widget_get_allocated_width(go) > 1; }, WindowWaitMs));
    for (bool checked : {false, true, false}) {
        SCOPED_TRACE(checked ? "checked" : "unchecked");
        ASSERT_TRUE(menu.Check(1029, checked));
        MarkArea area = DrawnMarkArea(go);
        ASSERT_GT(area.width, 8) << "room for the mark";
        EXPECT_EQ(area.uniform, !checked);
    }
    gtk_menu_popdown(GTK_MENU(popup));
    gtk_widget_destroy(window);
}

TEST_F(ScriptWindowTest, EntriesGoWhereTheirParentPositionSays) {
    auto module = StartModule<JavaScriptWindow>(WritePage("tree.html", Page("tree", MenuScript)));
    ScriptMenu& menu = *module->Menu();
    Probe(*module, 102, "[]");
    EXPECT_EQ(Probe(*module, 103, "['File', 0, 0, undefined]"), L"boolean:true");
    EXPECT_EQ(Probe(*module, 103, "['Edit', 0, 0, undefined]"), L"boolean:true");
    EXPECT_EQ(Probe(*module, 103, "['Lost', 7, 3, undefined]"), L"boolean:true");
    EXPECT_EQ(Probe(*module, 103, "['Lost', 8, -1, undefined]"), L"boolean:true");
    EXPECT_EQ(menu.EntryCount(), 2) << "no third entry to hold the item";
    EXPECT_EQ(Probe(*module, 104, "[1031, 1]"), L"boolean:false");
    EXPECT_EQ(Probe(*module, 104, "[1032, 1]"), L"boolean:false");

    EXPECT_EQ(Probe(*module, 103, "['Undo', 6, 2, undefined]"), L"boolean:true");
    EXPECT_EQ(Probe(*module, 103, "['-', 0, 2, undefined]"), L"boolean:true");
    EXPECT_EQ(Probe(*module, 103, "['More', 0, 2, undefined]"), L"boolean:true");
    GtkWidget* edit = gtk_menu_item_get_submenu(GTK_MENU_ITEM(BarEntry(menu, 1)));
    ASSERT_NE(edit, nullptr);
    GList* items = gtk_container_get_children(GTK_CONTAINER(edit));
    ASSERT_EQ(g_list_length(items), 3u);
    EXPECT_TRUE(GTK_IS_CHECK_MENU_ITEM(g_list_nth_data(items, 0)));
    EXPECT_TRUE(GTK_IS_SEPARATOR_MENU_ITEM(g_list_nth_data(items, 1)));
    EXPECT_NE(gtk_menu_item_get_submenu(GTK_MENU_ITEM(g_list_nth_data(items, 2))), nullptr);
    g_list_free(items);
    EXPECT_EQ(Probe(*module, 104, "[1030, 1]"), L"boolean:true") << "found inside a pop-up";

    // Position 3 now holds a command entry, not a pop-up: nothing goes there.
    EXPECT_EQ(Probe(*module, 103, "['Go', 9, 0, undefined]"), L"boolean:true");
    EXPECT_EQ(Probe(*module, 103, "['Lost', 10, 3, undefined]"), L"boolean:true");
    EXPECT_EQ(Probe(*module, 104, "[1034, 1]"), L"boolean:false");

    EXPECT_FALSE(gtk_widget_get_visible(menu.Bar()));
    EXPECT_EQ(Probe(*module, 105, "[]"), L"boolean:true");
    EXPECT_TRUE(gtk_widget_get_visible(menu.Bar()));
}

TEST_F(ScriptWindowTest, CommandOutsideTheReportedRangeIsNotReported) {
    auto module = StartModule<JavaScriptWindow>(WritePage("range.html", Page("range", MenuScript)));
    Probe(*module, 102, "[]");
    Probe(*module, 103, "['Low', -5, 0, undefined]");
    Probe(*module, 103, "['Top', 65536, 0, undefined]");
    Probe(*module, 103, "['High', 65537, 0, undefined]");
    Probe(*module, 103, "['Max', 2147483647, 0, undefined]");
    for (int i = 0; i < 4; ++i) gtk_menu_item_activate(GTK_MENU_ITEM(BarEntry(*module->Menu(), i)));
    EXPECT_EQ(ScriptText(*module, L"commandLog"), L"string:65536");
    EXPECT_EQ(Probe(*module, 104, "[-2147483648, 1]"), L"boolean:false");
}

// --- Closing -----------------------------------------------------------------

// korvoOnQueryClose runs answer (a function body) after counting the
// question; an empty answer removes the function from the page.
std::string ClosePage(const std::string& answer) {
    return Page("close", R"js(
var queried = 0, exited = 0;
function korvoOnExit() { exited++; }
function setAnswer(body) {
  if (body === "") { delete window.korvoOnQueryClose; return; }
  var answer = new Function(body);
  window.korvoOnQueryClose = function () { queried++; return answer(); };
}
function leave(uri) { location.href = uri; }
function closeState() {
  var state = "queried " + queried + ", exited " + exited;
  queried = exited = 0;
  return state;
}
function closeFromPage() { return describe(window.external.korvoApiCall(101, [])); }
setAnswer(")js" + answer + R"js(");
)js");
}

TEST_F(ScriptWindowTest, ClosingAsksThePageFirst) {
    struct Row {
        const char* answer;  // body of korvoOnQueryClose; "" none
        bool closes;
    } rows[] = {
        {"return true;", true},
        {"return 1;", true},
        {"return -3;", true},
        {"return false;", false},
        {"return 0;", false},
        {"return 'yes';", false},
        {"return;", false},
        {"throw new Error('no');", false},
        {"", false},  // the page has no korvoOnQueryClose
        // The page's own handlers asking to close again: still one question
        // and one korvoOnExit per close.
        {"window.external.korvoApiCall(101, []); return true;", true},
        {"window.external.korvoApiCall(101, []); return false;", false},
        {"window.korvoOnExit = function () { exited++; window.external.korvoApiCall(101, []); };"
         " return true;", true},
    };
    auto module = StartModule<JavaScriptWindow>(WritePage("close.html", ClosePage("")));
    ASSERT_EQ(Application::Instance().MainWindow(), module.get());
    GtkWidget* window = module->Toplevel();
    for (bool fromPage : {false, true}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.answer) + (fromPage ? " (korvoClose)" : " (close button)"));
            std::vector<String> answer{String::FromUtf8(row.answer)};
            ASSERT_EQ(module->CallScript(L"setAnswer", &answer, nullptr), platform::S_OK);
            if (fromPage) {
                EXPECT_EQ(ScriptText(*module, L"closeFromPage"), L"boolean:true");
            } else {
                gtk_window_close(GTK_WINDOW(window));
                korvotest::PumpFor(100);
            }
            int queried = *row.answer ? 1 : 0;
            int exited = row.closes ? 1 : 0;
            EXPECT_EQ(ScriptText(*module, L"closeState"),
                      L"queried " + std::to_wstring(queried) + L", exited " + std::to_wstring(exited));
            EXPECT_EQ(RunBriefly(), row.closes ? 0 : -1);
            EXPECT_TRUE(gtk_widget_get_visible(window)) << "the main window stays until the program ends";
        }
    }
    EXPECT_TRUE(boxes.empty());
}

// With no page that could answer, nothing would ever let the window close:
// the close button ends the program without asking, and the placement is kept.
TEST_F(ScriptWindowTest, AWindowWithoutABridgedPageClosesWithoutAsking) {
    // No page to ask: the script source is not valid. (A page cannot leave its
    // folder for an unbridged one any more; the web view refuses the navigation.)
    std::unique_ptr<JavaScriptWindow> module = StartModule<JavaScriptWindow>("", false);
    EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{L"Invalid script source!"});
    EXPECT_FALSE(module->View()->IsBridged());
    GtkWidget* window = module->Toplevel();
    gtk_window_move(GTK_WINDOW(window), 70, 50);
    ASSERT_TRUE(SettlesAt(window, {70, 50, 70 + module->MinWidth(), 50 + module->MinHeight()}))
        << Describe(Geometry(window));
    CloseOnceRunning(window);
    EXPECT_EQ(RunBriefly(5000), 0);
    module.reset();
    EXPECT_EQ(Describe(StoredPlacement()),
              Describe({70, 50, 70 + JavaScriptWindow::DefaultMinWidth, 50 + JavaScriptWindow::DefaultMinHeight}));
}

TEST_F(ScriptWindowTest, AWindowThatIsNotTheMainWindowIsHiddenOnConsent) {
    std::string page = WritePage("close.html", ClosePage("return true;"));
    auto first = StartModule<JavaScriptWindow>(page);
    auto second = StartModule<JavaScriptWindow>(page);
    ASSERT_EQ(Application::Instance().MainWindow(), first.get());
    EXPECT_EQ(ScriptText(*second, L"closeFromPage"), L"boolean:true");
    EXPECT_EQ(ScriptText(*second, L"closeState"), L"queried 1, exited 0");
    EXPECT_FALSE(gtk_widget_get_visible(second->Toplevel()));
    EXPECT_EQ(RunBriefly(), -1) << "the program goes on";
}

TEST_F(ScriptWindowTest, ClosingWithConsentEndsTheProgramAndSavesThePlacement) {
    StorePlacement(40, 30, 740, 530);
    auto module = StartModule<JavaScriptWindow>(WritePage("end.html", ClosePage("return true;")));
    GtkWidget* window = module->Toplevel();
    ASSERT_TRUE(SettlesAt(window, {40, 30, 740, 530})) << Describe(Geometry(window));
    gtk_window_move(GTK_WINDOW(window), 100, 60);
    ASSERT_TRUE(SettlesAt(window, {100, 60, 800, 560}));

    CloseOnceRunning(window);
    EXPECT_EQ(RunBriefly(10000), 0);
    EXPECT_EQ(ScriptText(*module, L"closeState"), L"queried 1, exited 1");

    module.reset();  // the host deletes the modules after the loop
    EXPECT_EQ(Describe(StoredPlacement()), Describe({100, 60, 800, 560}));
    EXPECT_EQ(Profile().GetInt(L"Mainframe", L"MainMaximized", -1), 0);
    EXPECT_EQ(Application::Instance().MainWindow(), nullptr);
}

TEST_F(ScriptWindowTest, ScriptModuleClosingAsMainWindowEndsTheProgram) {
    auto module = StartModule<JavaScriptInterface>(WritePage("close.html", ClosePage("return false;")));
    EXPECT_EQ(ScriptText(*module, L"closeFromPage"), L"boolean:true");
    EXPECT_EQ(ScriptText(*module, L"closeState"), L"queried 0, exited 0") << "it does not ask";
    Application::Instance().SetMainWindow(module.get());
    EXPECT_EQ(ScriptText(*module, L"closeFromPage"), L"boolean:true");
    EXPECT_EQ(RunBriefly(), 0);
}

// --- Input kept from the page -------------------------------------------------

const char* const InputScript = R"js(
var seen = [];
document.addEventListener("keydown", function (e) { seen.push("key " + e.key); });
document.addEventListener("mousedown", function (e) { seen.push("button " + e.button); });
document.addEventListener("contextmenu", function (e) { seen.push("menu"); });
function inputLog() { return seen.join(","); }
)js";

gboolean SendKey(GtkWidget* view, guint keyval) {
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(view)));
    event->key.keyval = keyval;
    event->key.time = GDK_CURRENT_TIME;
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(view));
    gdk_event_set_device(event, gdk_seat_get_keyboard(seat));
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gtk_widget_get_display(view)), keyval,
                                          &keys, &count) && count > 0)
        event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
    g_free(keys);
    gboolean handled = gtk_widget_event(view, event);
    gdk_event_free(event);
    return handled;
}

gboolean SendButton(GtkWidget* view, guint button) {
    GdkEvent* event = gdk_event_new(GDK_BUTTON_PRESS);
    event->button.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(view)));
    event->button.button = button;
    event->button.x = 20;
    event->button.y = 20;
    event->button.time = GDK_CURRENT_TIME;
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(view));
    gdk_event_set_device(event, gdk_seat_get_pointer(seat));
    gboolean handled = gtk_widget_event(view, event);
    gdk_event_free(event);
    return handled;
}

TEST_F(ScriptWindowTest, ReloadKeyAndRightButtonNeverReachThePage) {
    auto module = StartModule<JavaScriptWindow>(WritePage("input.html", Page("input", InputScript)));
    GtkWidget* view = module->View()->View();
    gtk_widget_grab_focus(view);
    EXPECT_TRUE(SendKey(view, GDK_KEY_F5));
    EXPECT_TRUE(SendButton(view, GDK_BUTTON_SECONDARY));
    // The same path carries other input to the page.
    SendKey(view, GDK_KEY_a);
    SendButton(view, GDK_BUTTON_PRIMARY);
    EXPECT_TRUE(korvotest::PumpUntil([&] { return ScriptText(*module, L"inputLog") == L"key a,button 0"; }, WindowWaitMs))
        << ScriptText(*module, L"inputLog");
}

// --- Icon and exports --------------------------------------------------------

TEST_F(ScriptWindowTest, IconComesFromTheCurrentDirectory) {
    gchar* previous = g_get_current_dir();
    ASSERT_EQ(g_chdir(folder.c_str()), 0);
    std::string page = WritePage("icon.html", Page("icon", ""));
    auto bare = StartModule<JavaScriptWindow>(page, false);
    EXPECT_EQ(gtk_window_get_icon(GTK_WINDOW(bare->Toplevel())), nullptr);

    GdkPixbuf* image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 16, 16);
    gdk_pixbuf_fill(image, 0x336699ff);
    ASSERT_TRUE(gdk_pixbuf_save(image, "App.ico", "ico", nullptr, nullptr));
    g_object_unref(image);
    auto withIcon = StartModule<JavaScriptWindow>(page, false);
    EXPECT_NE(gtk_window_get_icon(GTK_WINDOW(withIcon->Toplevel())), nullptr);
    g_chdir(previous);
    g_free(previous);
}

TEST(ApplicationLibrary, ExportsMakeAndDeleteBothModules) {
    void* library = dlopen(KORVO_APPLICATION_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto destroy = reinterpret_cast<DeleteKorvoModuleFunction>(dlsym(library, "DeleteKorvoModule"));
    ASSERT_NE(destroy, nullptr);
    for (const char* name : {"CreateKorvoModule_JavaScriptInterface", "CreateKorvoModule_JavaScriptWindow"}) {
        auto create = reinterpret_cast<CreateKorvoModuleFunction>(dlsym(library, name));
        ASSERT_NE(create, nullptr) << name;
        KorvoModule* module = create();
        ASSERT_NE(module, nullptr);
        EXPECT_EQ(module->connectors.Count(), 1);
        KorvoConnector* script = module->FindConnector(L"Script");
        ASSERT_NE(script, nullptr);
        EXPECT_EQ(script->GetFlags(), KorvoConnector::KindText | KorvoConnector::FlagPersistent);
        EXPECT_EQ(script->Owner(), module);
        destroy(module);
    }
    destroy(nullptr);
    dlclose(library);
}

}  // namespace
