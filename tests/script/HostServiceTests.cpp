// The page's desktop services: trace, settings, message box, program folder
// and the shell's "open".

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include "modules/application/JavaScriptInterface.h"
#include "platform/Application.h"
#include "platform/ProgramFile.h"
#include "script/ScriptRows.h"
#include "window/ScriptPageTest.h"

using platform::MB_ICONERROR;

namespace {

class HostServiceTest : public ScriptPageTest {
  protected:
    std::unique_ptr<JavaScriptInterface> StartPage(const std::string& script = "") {
        return StartModule<JavaScriptInterface>(
            WritePage("services.html", Page("Service page", script)));
    }
};

GLogWriterOutput KeepDebugLines(GLogLevelFlags level, const GLogField* fields, gsize count,
                                gpointer lines) {
    if (level & G_LOG_LEVEL_DEBUG) {
        std::string domain, message;
        for (gsize i = 0; i < count; ++i) {
            if (g_strcmp0(fields[i].key, "GLIB_DOMAIN") == 0)
                domain = static_cast<const char*>(fields[i].value);
            if (g_strcmp0(fields[i].key, "MESSAGE") == 0)
                message = static_cast<const char*>(fields[i].value);
        }
        static_cast<std::vector<std::string>*>(lines)->push_back(domain + ": " + message);
        return G_LOG_WRITER_HANDLED;
    }
    return g_log_writer_default(level, fields, count, nullptr);
}

TEST_F(HostServiceTest, TraceWritesItsLineToTheDebugLog) {
    auto module = StartPage();
    std::vector<std::string> lines;
    g_log_set_writer_func(KeepDebugLines, &lines, nullptr);
    const std::wstring invalidValue = L"Invalid value in function korvoTrace()!";
    RunRows(boxes, *module,
            {
                {0, "['a%20b%20c']", L"boolean:true", L""},
                {0, "[42]", L"boolean:true", L""},
                {0, "[1.5]", L"boolean:true", L""},
                {0, "[true]", L"boolean:false", invalidValue},
                {0, "[null]", L"boolean:false", invalidValue},
                {0, "[undefined]", L"boolean:false", invalidValue},
                {0, "'text'", L"undefined",
                 L"Invalid parameter in function 'JavaScriptInterface::korvoTrace'!"},
            });
    std::string domain = String(platform::ProgramFile::ExeName().c_str()).ToUtf8();
    std::vector<std::string> traces;
    for (const std::string& line : lines)
        if (line.find("SCRIPT TRACE") != std::string::npos) traces.push_back(line);
    EXPECT_EQ(traces, (std::vector<std::string>{domain + ": *** SCRIPT TRACE *** a b c\n",
                                                domain + ": *** SCRIPT TRACE *** 42\n",
                                                domain + ": *** SCRIPT TRACE *** 1.500000\n"}));
}

TEST_F(HostServiceTest, ProfileValuesAreConvertedAsTheyAreWritten) {
    auto module = StartPage();
    const std::wstring getIntError =
        L"Invalid parameter in function 'JavaScriptInterface::korvoGetProfileInt'!";
    RunRows(boxes, *module,
            {
                {11, "['Page', 'n', 2.9]", L"boolean:true", L""},
                {13, "['Page', 'n', 99]", L"number:2", L""},
                {11, "['Page', 'n', -2.9]", L"boolean:true", L""},
                {13, "['Page', 'n']", L"undefined", getIntError},
                {13, "['Page', 'n', undefined]", L"number:-2", L""},
                {11, "['Page', 'n', '12abc']", L"boolean:true", L""},
                {13, "['Page', 'n', 0]", L"number:12", L""},
                {11, "['Page', 'n', 'abc']", L"boolean:true", L""},
                {13, "['Page', 'n', 5]", L"number:0", L""},
                {11, "['Page', 'n', 1e12]", L"boolean:true", L""},
                {13, "['Page', 'n', 5]", L"number:2147483647", L""},
                {11, "['Page', 'n', true]", L"boolean:false", L"Invalid profile value: n"},
                {13, "['Page', 'missing', undefined]", L"number:0", L""},
                {13, "['Page', 'missing', 'x']", L"undefined", getIntError},
                {10, "['Page', 's', 1.5]", L"boolean:true", L""},
                {12, "['Page', 's', undefined]", L"string:1.500000", L""},
                {10, "['Page', 's', 7]", L"boolean:true", L""},
                {12, "['Page', 's', '']", L"string:7", L""},
                {10, "['Page', 's', 'a b']", L"boolean:true", L""},
                {12, "['Page', 's']", L"undefined",
                 L"Invalid parameter in function 'JavaScriptInterface::korvoGetProfileString'!"},
                {12, "['Page', 's', 'default']", L"string:a b", L""},
                {10, "['Page', 's', null]", L"boolean:false", L"Invalid profile value: s"},
                {12, "['Page', 'missing', undefined]", L"string:", L""},
                {12, "['Page', 'missing', 'default']", L"string:default", L""},
            });
    // The values are in the host's settings store.
    platform::Settings& profile = platform::Application::Instance().Profile();
    EXPECT_EQ(profile.GetInt(L"Page", L"n", 0), 2147483647);
    EXPECT_EQ(profile.GetText(L"Page", L"s", L""), L"a b");
}

TEST_F(HostServiceTest, MessageBoxKeepsOnlyThePageStyleAndReturnsTheButton) {
    auto module = StartPage();
    // The caption follows the page title, which may come after the load.
    ASSERT_TRUE(korvotest::PumpUntil([&] { return module->View()->Title() == L"Service page"; }));
    struct BoxRow {
        const char* argument;
        unsigned style;  // what the box is shown with
        int answer;      // the button "pressed"
        std::wstring result;
    } rows[] = {
        {"['Go on?', 0x40 | 4 | 0x1000]", 0x44, platform::IDYES, L"number:6"},
        {"['Plain', undefined]", 0, platform::IDOK, L"number:1"},
        {"['All', 0x30 | 3 | 0x200 | 0x4000 | 0x40000 | 0x80000]", 0x4233, platform::IDCANCEL,
         L"number:2"},
        {"['Odd fields', 0x70 | 7 | 0x400 | 0x5000]", 0, platform::IDOK, L"number:1"},
        {"['Strange answer', 2]", 2, 99, L"number:0"},
    };
    for (const BoxRow& row : rows) {
        SCOPED_TRACE(row.argument);
        boxes.clear();
        platform::SetMessageBoxHook([&](const platform::MessageBoxRecord& box) {
            boxes.push_back(box);
            return row.answer;
        });
        EXPECT_EQ(Probe(*module, 100, row.argument), row.result);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].style, row.style);
        EXPECT_EQ(boxes[0].caption, L"Service page");
    }
    platform::SetMessageBoxHook(nullptr);
}

TEST_F(HostServiceTest, ExeDirectoryIsTheProgramFolder) {
    auto module = StartPage();
    std::wstring folder = platform::ProgramFile::Directory();
    RunRows(boxes, *module,
            {
                {150, "[0]", L"string:" + folder, L""},
                {150, "[undefined]", L"string:" + folder, L""},
                {150, "[]", L"undefined",
                 L"Invalid parameter in function 'JavaScriptInterface::korvoGetExeDir'!"},
            });
    EXPECT_EQ(folder.back(), L'/');
}

// The page's "open" opens documents, folders and web addresses and never runs
// anything. The private desktop here runs whatever it gets for scripts,
// programs and desktop entries, as some desktops do; those are refused and
// nothing runs, while a PDF, a text, a folder and web and mail addresses reach
// a handler that only writes them down.
TEST_F(HostServiceTest, ShellOpensDocumentsAndNeverRunsAProgram) {
    std::string applications = folder + "/data/applications";
    ASSERT_EQ(g_mkdir_with_parents(applications.c_str(), 0700), 0);
    std::string log = folder + "/opened.log";
    auto write = [](const std::string& path, const std::string& text, int mode) {
        ASSERT_TRUE(g_file_set_contents(path.c_str(), text.c_str(), -1, nullptr)) << path;
        ASSERT_EQ(g_chmod(path.c_str(), mode), 0);
    };
    write(folder + "/run.sh",
          "case \"$1\" in *.desktop) eval \"$(sed -n 's/^Exec=//p' \"$1\")\" ;;"
          " *) chmod +x \"$1\"; \"$1\" \"$1.ran\" ;; esac\n",
          0700);
    write(folder + "/record.sh", "echo \"$1\" >>'" + log + "'\n", 0700);
    const char* runs =
        "application/x-shellscript;application/x-desktop;application/x-executable;"
        "application/x-pie-executable;application/x-sharedlib";
    const char* records =
        "application/pdf;text/plain;inode/directory;x-scheme-handler/http;"
        "x-scheme-handler/https;x-scheme-handler/mailto";
    auto entry = [&](const char* name, const std::string& script, const char* types,
                     const char* code) {
        write(applications + "/" + name,
              std::string("[Desktop Entry]\nType=Application\nName=") + name + "\nExec=/bin/sh " +
                  script + " " + code + "\nMimeType=" + types + ";\n",
              0600);
    };
    entry("korvo-runner.desktop", folder + "/run.sh", runs, "%f");
    entry("korvo-recorder.desktop", folder + "/record.sh", records, "%u");
    std::string defaults = "[Default Applications]\n";
    for (auto [types, handler] :
         {std::pair{runs, "korvo-runner.desktop"}, std::pair{records, "korvo-recorder.desktop"}}) {
        g_auto(GStrv) list = g_strsplit(types, ";", -1);
        for (gchar** type = list; *type; ++type)
            defaults += std::string(*type) + "=" + handler + "\n";
    }
    write(applications + "/mimeapps.list", defaults, 0600);
    g_setenv("XDG_DATA_HOME", (folder + "/data").c_str(), TRUE);

    // What a page could have written with korvoWriteFile.
    write(folder + "/evil.sh", "#!/bin/sh\ntouch \"$0.ran\"\n", 0755);
    write(folder + "/evil.desktop",
          "[Desktop Entry]\nType=Application\nName=Evil\nExec=touch " + folder +
              "/evil.desktop.ran\n",
          0755);
    gchar* program = nullptr;
    gsize size = 0;
    ASSERT_TRUE(g_file_get_contents("/usr/bin/touch", &program, &size, nullptr));
    ASSERT_TRUE(g_file_set_contents((folder + "/tool").c_str(), program, static_cast<gssize>(size),
                                    nullptr));
    g_free(program);
    ASSERT_EQ(g_chmod((folder + "/tool").c_str(), 0755), 0);
    write(folder + "/manual.pdf", "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n", 0600);
    write(folder + "/notes.txt", "notes\n", 0600);
    ASSERT_EQ(g_mkdir((folder + "/docs").c_str(), 0700), 0);

    auto module = StartPage();
    const std::wstring denied = L"number:5";
    const std::wstring parameterBox =
        L"Invalid parameter in function 'JavaScriptInterface::korvoShellExecute'!";
    struct Row {
        std::string file;
        std::wstring result;  // "opened" for any result above 32
        std::wstring box;
    } rows[] = {
        {folder + "/evil.sh", denied, L""},
        {"file://" + folder + "/evil.sh", denied, L""},
        {folder + "/evil.desktop", denied, L""},
        {folder + "/tool", denied, L""},
        {"korvo-unknown-scheme:x", denied, L""},
        {"ftp://example.org/file", denied, L""},
        {folder + "/missing.txt", L"number:2", L""},
        {folder + "/manual.pdf", L"opened", L""},
        {folder + "/notes.txt", L"opened", L""},
        {folder + "/docs", L"opened", L""},
        {"https://example.org/manual", L"opened", L""},
        {"mailto:units@example.org", L"opened", L""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        boxes.clear();
        std::wstring result = Probe(*module, 170, "['" + row.file + "', undefined]");
        if (row.result == L"opened") {
            ASSERT_EQ(result.rfind(L"number:", 0), 0u) << String(result.c_str()).ToUtf8();
            EXPECT_GT(std::stoi(result.substr(7)), 32);
        } else {
            EXPECT_EQ(result, row.result);
        }
        EXPECT_TRUE(boxes.empty());
    }
    EXPECT_EQ(Probe(*module, 170, "['" + folder + "/notes.txt']"), L"undefined");
    EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{parameterBox});

    // Every opened one arrived; by then the refused ones, had they been
    // handed on, would have run too.
    std::vector<std::string> opened = {"manual.pdf", "notes.txt", "docs",
                                       "https://example.org/manual", "mailto:units@example.org"};
    auto recorded = [&] {
        gchar* text = nullptr;
        if (!g_file_get_contents(log.c_str(), &text, nullptr, nullptr)) return false;
        std::string lines = text;
        g_free(text);
        for (const std::string& item : opened)
            if (lines.find(item) == std::string::npos) return false;
        return true;
    };
    EXPECT_TRUE(korvotest::PumpUntil(recorded, 10000)) << "not every document reached its handler";
    korvotest::PumpFor(300);
    for (const char* ran : {"evil.sh.ran", "evil.desktop.ran", "tool.ran"})
        EXPECT_FALSE(g_file_test((folder + "/" + ran).c_str(), G_FILE_TEST_EXISTS))
            << ran << " ran";
}

}  // namespace
