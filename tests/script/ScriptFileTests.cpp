// The page's file functions: listing a folder, reading files whole and by
// line, and writing them without ever losing the old content.

#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "modules/application/JavaScriptInterface.h"
#include "script/ScriptRows.h"
#include "support/ForeignLink.h"
#include "support/LoopbackServer.h"
#include "window/ScriptPageTest.h"

using platform::ScriptValue;

namespace {

const char* const ListScript = R"js(
var listed = "none";
function korvoListDirCallBack(a) { listed = Array.prototype.join.call(a, "|"); }
function mine(a) { listed = "mine:" + Array.prototype.join.call(a, "|"); }
function takeListed() { var r = listed; listed = "none"; return r; }
)js";

class ScriptFileTest : public ScriptPageTest {
  protected:
    std::unique_ptr<JavaScriptInterface> StartPage() {
        return StartModule<JavaScriptInterface>(WritePage("files.html", Page("files", ListScript)));
    }
    std::string Path(const std::string& name) const { return folder + "/" + name; }
    void WriteBytes(const std::string& name, const std::string& bytes) {
        ASSERT_TRUE(g_file_set_contents(Path(name).c_str(), bytes.data(),
                                        static_cast<gssize>(bytes.size()), nullptr));
    }
    std::string ReadBytes(const std::string& name) {
        gchar* contents = nullptr;
        gsize length = 0;
        if (!g_file_get_contents(Path(name).c_str(), &contents, &length, nullptr))
            return "<missing>";
        std::string bytes(contents, length);
        g_free(contents);
        return bytes;
    }
    // Names in the test's folder that start with a dot: left-over temporary files.
    std::vector<std::string> DotFiles() {
        std::vector<std::string> names;
        GDir* dir = g_dir_open(folder.c_str(), 0, nullptr);
        while (const char* name = dir ? g_dir_read_name(dir) : nullptr)
            if (name[0] == '.') names.push_back(name);
        if (dir) g_dir_close(dir);
        return names;
    }
};

void SetModified(const std::string& path, time_t when) {
    struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

TEST_F(ScriptFileTest, ListDirFiltersSortsAndCounts) {
    std::string list = Path("list");
    ASSERT_EQ(g_mkdir(list.c_str(), 0700), 0);
    const time_t year2000 = 946684800, yearSeconds = 31536000;
    struct Entry {
        const char* name;
        bool directory;
        int age;  // years after 2000
    } entries[] = {{"b", true, 0},
                   {"z.txt", false, 1},
                   {"c.log", false, 2},
                   {"B.txt", false, 3},
                   {"a", true, 4}};
    for (const Entry& entry : entries) {
        std::string path = list + "/" + entry.name;
        if (entry.directory)
            ASSERT_EQ(g_mkdir(path.c_str(), 0700), 0);
        else
            ASSERT_TRUE(g_file_set_contents(path.c_str(), "x", 1, nullptr));
    }
    for (const Entry& entry : entries)
        SetModified(list + "/" + entry.name, year2000 + entry.age * yearSeconds);

    auto module = StartPage();
    const std::string dir = "'" + list + "'";
    struct ListRow {
        std::string argument;
        std::wstring result;
        std::wstring listed;  // what the callback got
    } rows[] = {
        {"[" + dir + ", undefined, 0x01 | 0x04, undefined]", L"boolean:true", L"a|b"},
        {"[" + dir + ", undefined, 0x01 | 0x04 | 0x20, undefined]", L"number:2", L"none"},
        {"[" + dir + ", undefined, 0x20, undefined]", L"number:7", L"none"},
        {"[" + dir + ", undefined, undefined, undefined]", L"boolean:true",
         L".|..|B.txt|a|b|c.log|z.txt"},
        {"[" + dir + ", '*.txt', 0, undefined]", L"boolean:true", L"B.txt|z.txt"},
        {"[" + dir + ", '', 0x01 | 0x02, undefined]", L"boolean:true", L"B.txt|c.log|z.txt"},
        {"[" + dir + ", '*.*', 0x01 | 0x02 | 0x10, undefined]", L"boolean:true",
         L"z.txt|c.log|B.txt"},
        {"[" + dir + ", undefined, 0x01 | 0x08, undefined]", L"boolean:true",
         L"b|z.txt|c.log|B.txt|a"},
        {"[" + dir + ", undefined, 0x01 | 0x08 | 0x10, undefined]", L"boolean:true",
         L"a|B.txt|c.log|z.txt|b"},
        {"[" + dir + ", undefined, 0x01 | 0x02, 'mine']", L"boolean:true",
         L"mine:B.txt|c.log|z.txt"},
        {"[" + dir + ", undefined, 0x01 | 0x02, '']", L"boolean:true", L"B.txt|c.log|z.txt"},
        {"['" + list + "/missing', undefined, 0, undefined]", L"boolean:true", L""},
        {"['" + list + "/missing', undefined, 0x20, undefined]", L"number:0", L"none"},
        {"[" + dir + ", undefined, 1.5, undefined]", L"undefined", L"none"},
    };
    for (const ListRow& row : rows) {
        SCOPED_TRACE(row.argument);
        boxes.clear();
        EXPECT_EQ(Probe(*module, 151, row.argument), row.result);
        ScriptValue listed;
        ASSERT_EQ(module->CallScript(L"takeListed", &listed), platform::S_OK);
        EXPECT_EQ(listed, ScriptValue::Text(row.listed));
        EXPECT_EQ(boxes.size(), row.result == L"undefined" ? 1u : 0u);
    }
}

TEST_F(ScriptFileTest, ReadFileAndReadLine) {
    WriteBytes("crlf.txt", "one\r\ntwo\r\nlone\rcr\n");
    WriteBytes("bom.txt", "\xEF\xBB\xBFh\xC3\xA9\r\n");
    WriteBytes("lines.txt", "first\n\n\r\nthird\r\nfourth");
    WriteBytes("empty.txt", "");
    auto p = [&](const char* name) { return "'" + Path(name) + "'"; };
    const std::wstring lineError =
        L"Invalid parameter in function 'JavaScriptInterface::korvoReadFileLine'!";
    std::vector<CallRow> rows = {
        {152, "[" + p("crlf.txt") + ", undefined]", L"string:one\ntwo\nlone\rcr\n", L""},
        {152, "[" + p("crlf.txt") + ", 1]", L"string:one\ntwo\nlone\rcr\n", L""},
        {152, "[" + p("crlf.txt") + ", 2]", L"string:", L""},
        {152, "[" + p("bom.txt") + ", 1]", L"string:h\u00e9\n", L""},
        {152, "[" + p("bom.txt") + ", -1]", L"string:h\u00e9\n", L""},
        {152, "[" + p("empty.txt") + ", 1]", L"string:", L""},
        {152, "[" + p("missing.txt") + ", undefined]", L"string:", L""},
        {152, "[" + p("crlf.txt") + ", null]", L"undefined",
         L"Invalid parameter in function 'JavaScriptInterface::korvoReadFile'!"},
        // Empty lines do not count.
        {153, "[" + p("lines.txt") + ", 0, undefined]", L"string:first", L""},
        {153, "[" + p("lines.txt") + ", 1, 1]", L"string:third", L""},
        {153, "[" + p("lines.txt") + ", 2, undefined]", L"string:fourth", L""},
        {153, "[" + p("lines.txt") + ", -4, undefined]", L"string:first", L""},
        {153, "[" + p("lines.txt") + ", 3, undefined]", L"string:", L""},
        {153, "[" + p("lines.txt") + ", 0, 2]", L"string:", L""},
        {153, "[" + p("missing.txt") + ", 0, undefined]", L"string:", L""},
        {153, "[" + p("lines.txt") + ", undefined, undefined]", L"undefined", lineError},
    };
    auto module = StartPage();
    RunRows(boxes, *module, rows);
}

TEST_F(ScriptFileTest, WriteFileModes) {
    auto module = StartPage();
    struct WriteRow {
        const char* content;  // script source of the content element
        const char* mode;     // script source of the mode element
        std::string bytes;    // what the file holds afterwards
    } rows[] = {
        {"'a\\nb'", "undefined", "a\r\nb"},
        {"'a\\nb'", "0", "a\r\nb"},
        {"'a\\nb\\u00e9'", "1",
         "\xEF\xBB\xBF"
         "a\r\nb\xC3\xA9"},
        {"'x'", "-3", "\xEF\xBB\xBFx"},
        {"'QUJD'", "2", "ABC"},
        {"'QUI'", "2", "AB"},
        {"'QQ=='", "5", "A"},
        {"'QUJD!QUJD'", "2", "ABC"},
        {"'QUJD\\u00e9QUJD'", "2", "ABC"},
        {"'AAEC/w'", "2", std::string("\x00\x01\x02\xFF", 4)},
        {"''", "2", ""},
    };
    for (const WriteRow& row : rows) {
        SCOPED_TRACE(std::string(row.content) + " mode " + row.mode);
        WriteBytes("out.txt", "old content that is longer than the new one");
        std::string argument = "['" + Path("out.txt") + "', " + row.content + ", " + row.mode + "]";
        EXPECT_EQ(Probe(*module, 154, argument), L"boolean:true");
        EXPECT_EQ(ReadBytes("out.txt"), row.bytes);
    }
    // What mode 1 writes, mode 1 reads back.
    EXPECT_EQ(Probe(*module, 154, "['" + Path("round.txt") + "', 'one\\ntwo\\u00e9', 1]"),
              L"boolean:true");
    EXPECT_EQ(Probe(*module, 152, "['" + Path("round.txt") + "', 1]"), L"string:one\ntwo\u00e9");
    // A new file is made; a folder that is not there is a failure.
    EXPECT_EQ(Probe(*module, 154, "['" + Path("new.txt") + "', 'n', 0]"), L"boolean:true");
    EXPECT_EQ(ReadBytes("new.txt"), "n");
    EXPECT_EQ(Probe(*module, 154, "['" + Path("no/such/folder.txt") + "', 'n', 0]"),
              L"boolean:false");
    EXPECT_EQ(Probe(*module, 154, "['" + Path("x.txt") + "', 5, 0]"), L"undefined");
    EXPECT_EQ(BoxTexts(),
              std::vector<std::wstring>{
                  L"Invalid parameter in function 'JavaScriptInterface::korvoWriteFile'!"});
    EXPECT_EQ(DotFiles(), std::vector<std::string>{});
}

TEST_F(ScriptFileTest, FailedWriteKeepsTheOldContent) {
    auto module = StartPage();
    EXPECT_EQ(Probe(*module, 154, "['/dev/full', 'abc', 1]"), L"boolean:false");

    // A file size limit stands in for a full disk: the write breaks off midway.
    WriteBytes("keep.txt", "the old content");
    std::string big(20000, 'x');
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit tight = old;
    tight.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    std::wstring result = Probe(*module, 154, "['" + Path("keep.txt") + "', '" + big + "', 0]");
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, L"boolean:false");
    EXPECT_EQ(ReadBytes("keep.txt"), "the old content");
    EXPECT_EQ(DotFiles(), std::vector<std::string>{});
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ScriptFileTest, WriteKeepsTheFileModeAndWritesThroughALink) {
    auto module = StartPage();
    WriteBytes("target.txt", "old");
    ASSERT_EQ(g_chmod(Path("target.txt").c_str(), 0640), 0);
    ASSERT_EQ(symlink("target.txt", Path("link.txt").c_str()), 0);

    EXPECT_EQ(Probe(*module, 154, "['" + Path("link.txt") + "', 'QUJD', 2]"), L"boolean:true");
    GStatBuf link, target;
    ASSERT_EQ(g_lstat(Path("link.txt").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(ReadBytes("target.txt"), "ABC");
    ASSERT_EQ(g_stat(Path("target.txt").c_str(), &target), 0);
    EXPECT_EQ(target.st_mode & 07777, 0640u);

    // A link to a file not yet there makes that file.
    ASSERT_EQ(symlink("later.txt", Path("dangling.txt").c_str()), 0);
    EXPECT_EQ(Probe(*module, 154, "['" + Path("dangling.txt") + "', 'QUJD', 2]"), L"boolean:true");
    EXPECT_EQ(ReadBytes("later.txt"), "ABC");
    ASSERT_EQ(g_lstat(Path("dangling.txt").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
}

// In a folder that everybody may write to, sticky as /tmp is, a link that
// another user planted is followed neither to write nor to read, also when
// it stands for a folder on the way; the user's own links are followed.
TEST_F(ScriptFileTest, OnlyTheUsersOwnLinksAreFollowed) {
    if (!korvotest::CanPlantForeignLinks())
        GTEST_SKIP() << "needs root to plant a link owned by another user (nobody)";
    korvotest::TemporaryFolder sharedFolder("korvo-shared");
    const std::string shared = sharedFolder.path.string();
    ASSERT_EQ(g_chmod(shared.c_str(), 01777), 0);
    WriteBytes("victim.txt", "precious");
    ASSERT_TRUE(korvotest::PlantForeignLink(Path("victim.txt"), shared + "/planted.txt"));
    ASSERT_TRUE(korvotest::PlantForeignLink(folder, shared + "/planted-folder"));
    ASSERT_EQ(symlink(Path("mine.txt").c_str(), (shared + "/own.txt").c_str()), 0);
    WriteBytes("mine.txt", "mine");

    auto module = StartPage();
    auto q = [](const std::string& path) { return "'" + path + "'"; };
    std::vector<CallRow> rows = {
        {154, "[" + q(shared + "/planted.txt") + ", 'QUJD', 2]", L"boolean:false", L""},
        {154, "[" + q(shared + "/planted-folder/victim.txt") + ", 'QUJD', 2]", L"boolean:false",
         L""},
        {152, "[" + q(shared + "/planted.txt") + ", 1]", L"string:", L""},
        {153, "[" + q(shared + "/planted-folder/victim.txt") + ", 0, 1]", L"string:", L""},
        {152, "[" + q(shared + "/own.txt") + ", 1]", L"string:mine", L""},
        {154, "[" + q(shared + "/own.txt") + ", 'QUJD', 2]", L"boolean:true", L""},
    };
    RunRows(boxes, *module, rows);
    EXPECT_EQ(ReadBytes("victim.txt"), "precious");
    EXPECT_EQ(ReadBytes("mine.txt"), "ABC");
    GStatBuf info;
    ASSERT_EQ(g_lstat((shared + "/planted.txt").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the planted link was replaced";
}

// A pipe that nobody reads or writes at the other end blocks neither a write
// nor a read: both give up at once. Should one wait after all, a watchdog
// opens the other end after a while, so that the test fails instead of hanging.
TEST_F(ScriptFileTest, APipeNeverBlocksTheWindow) {
    const std::string pipe = Path("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    auto module = StartPage();
    constexpr auto WatchdogDelay = std::chrono::seconds(5);
    std::atomic<bool> done{false}, rescued{false};
    std::thread watchdog([&] {
        auto end = std::chrono::steady_clock::now() + WatchdogDelay;
        while (!done && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done) return;
        rescued = true;
        int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
        int writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (writer >= 0) close(writer);
        if (reader >= 0) close(reader);
    });
    std::wstring written = Probe(*module, 154, "['" + pipe + "', 'abc', 0]");
    std::wstring read = Probe(*module, 152, "['" + pipe + "', 0]");
    done = true;
    watchdog.join();
    EXPECT_FALSE(rescued) << "a call waited on the pipe";
    EXPECT_EQ(written, L"boolean:false");
    EXPECT_EQ(read, L"string:");
}

// A new file gets the mode that the umask leaves, as open gives it.
TEST_F(ScriptFileTest, ANewFileGetsTheModeTheUmaskLeaves) {
    auto module = StartPage();
    mode_t previous = umask(027);
    std::wstring result = Probe(*module, 154, "['" + Path("fresh.txt") + "', 'n', 0]");
    umask(previous);
    EXPECT_EQ(result, L"boolean:true");
    GStatBuf info;
    ASSERT_EQ(g_stat(Path("fresh.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(DotFiles(), std::vector<std::string>{});
}

// A project whose page is a web page: the page loads, but without
// window.external, so it reaches no file, and native calls into it fail.
TEST_F(ScriptFileTest, AWebPageNamedByTheProjectWritesNoFile) {
    std::string target = Path("from-the-web.txt");
    korvotest::LoopbackServer server(
        "<!doctype html><script>var r;"
        "try { window.external.korvoApiCall(154, ['" +
        target +
        "', 'x', 0]); r = 'wrote'; }"
        "catch (e) { r = e.name; }"
        "document.title = typeof window.external + ':' + r;</script>");
    auto module = StartModule<JavaScriptInterface>(server.Base() + "/page.html", false);
    EXPECT_TRUE(korvotest::PumpUntil([&] {
        return module->View()->Title() == L"undefined:TypeError";
    })) << String(module->View()->Title().c_str()).ToUtf8();
    EXPECT_GT(server.Requests(), 0);
    EXPECT_FALSE(g_file_test(target.c_str(), G_FILE_TEST_EXISTS));
    EXPECT_FALSE(module->View()->IsBridged());
    EXPECT_EQ(Probe(*module, 154, "['" + target + "', 'x', 0]"),
              L"status " + std::to_wstring(platform::E_FAIL));
    EXPECT_TRUE(boxes.empty());
}

}  // namespace
