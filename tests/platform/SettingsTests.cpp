// The settings file, read back through the real file in a private
// XDG_CONFIG_HOME; and the program file names.

#include <gtest/gtest.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>

#include <climits>
#include <string>

#include "platform/ProgramFile.h"
#include "platform/Settings.h"
#include "framework/Utf8.h"
#include "support/TemporaryFolder.h"

using platform::Settings;

namespace {

std::string ReadFile(const std::string& path) {
    gchar* contents = nullptr;
    if (!g_file_get_contents(path.c_str(), &contents, nullptr, nullptr)) return "<missing>";
    std::string text = contents;
    g_free(contents);
    return text;
}

// A store on the file every test here uses, opened as the program opens its own.
struct OpenSettings : Settings {
    OpenSettings() { Open(L"Company", L"Yonderpad"); }
};

class SettingsTest : public ::testing::Test {
protected:
    korvotest::TemporaryFolder folder{"settings"};
    const std::string home = folder.path.string();
    void SetUp() override { g_setenv("XDG_CONFIG_HOME", home.c_str(), TRUE); }
    void TearDown() override { g_unsetenv("XDG_CONFIG_HOME"); }
};

TEST_F(SettingsTest, NothingBeforeOpenAndNoFileBeforeTheFirstWrite) {
    Settings closed;
    EXPECT_EQ(closed.GetInt(L"Mainframe", L"MainLeft", 7), 7);
    EXPECT_EQ(closed.GetText(L"A", L"b", L"default"), L"default");
    EXPECT_FALSE(closed.WriteInt(L"Mainframe", L"MainLeft", 1));

    OpenSettings settings;
    EXPECT_EQ(settings.Path(), home + "/Company/Yonderpad.conf");
    EXPECT_EQ(settings.GetInt(L"Mainframe", L"MainLeft", -3), -3);
    EXPECT_FALSE(g_file_test(settings.Path().c_str(), G_FILE_TEST_EXISTS)) << "reading creates nothing";
    EXPECT_TRUE(settings.WriteInt(L"Mainframe", L"MainLeft", 10));
    EXPECT_EQ(ReadFile(settings.Path()), "[Mainframe]\nMainLeft=10\n");
}

TEST_F(SettingsTest, ValuesComeBackThroughTheFile) {
    struct Case {
        std::wstring section, entry, text;
    } cases[] = {
        {L"Mainframe", L"MainTop", L"plain"},
        {L"Page", L"greeting", L"Grüße – 日本 \U0001F3B9"},  // beyond the BMP too
        {L"Page", L"lines", L"one\ntwo\tthree\\four"},
        {L"Page", L"blanks", L"  padded  "},
        {L"Page", L"empty", L""},
        // Names a key file cannot hold as they are.
        {L"[odd]=section", L"key=with[brackets]", L"x"},
        {L" lead", L"trail ", L"y"},
        {L"", L"", L"empty names"},
        {L"100%", L"#hash", L"z"},
        {L"back\\slash", L"ctl\x01", L"w"},
    };
    {
        OpenSettings writer;
        for (const Case& c : cases) ASSERT_TRUE(writer.WriteText(c.section, c.entry, c.text));
        ASSERT_TRUE(writer.WriteInt(L"Numbers", L"min", INT_MIN));
        ASSERT_TRUE(writer.WriteInt(L"Numbers", L"max", INT_MAX));
    }
    OpenSettings reader;
    for (const Case& c : cases) {
        EXPECT_EQ(reader.GetText(c.section, c.entry, L"missing"), c.text)
            << EncodeUtf8(c.section) << " / " << EncodeUtf8(c.entry);
    }
    EXPECT_EQ(reader.GetInt(L"Numbers", L"min", 0), INT_MIN);
    EXPECT_EQ(reader.GetInt(L"Numbers", L"max", 0), INT_MAX);
    // Distinct names stay distinct after escaping.
    EXPECT_EQ(reader.GetText(L"100%25", L"#hash", L"missing"), L"missing");
    EXPECT_EQ(reader.GetText(L"PAGE", L"Greeting", L"missing"), cases[1].text) << "names ignore case";
}

TEST_F(SettingsTest, CodePointsUtf8CannotCarryBecomeReplacementCharacters) {
    OpenSettings settings;
    std::wstring bad = L"a";
    bad.push_back(static_cast<wchar_t>(0xD800));  // a lone surrogate
    bad.push_back(static_cast<wchar_t>(0x110000));
    bad += L"b";
    ASSERT_TRUE(settings.WriteText(L"S", L"bad", bad));
    EXPECT_EQ(settings.GetText(L"S", L"bad", L""), L"a\uFFFD\uFFFDb");
    EXPECT_TRUE(g_utf8_validate(ReadFile(settings.Path()).c_str(), -1, nullptr));
}

// Names ignore case, accented letters included; the file keeps the spelling of
// the first write and one line per value.
TEST_F(SettingsTest, NamesIgnoreCaseAndKeepTheFirstSpelling) {
    OpenSettings settings;
    ASSERT_TRUE(settings.WriteInt(L"Mainframe", L"Left", 42));
    ASSERT_TRUE(settings.WriteText(L"\u00C9tat", L"\u00C9cran", L"un"));
    struct Case {
        const wchar_t* section;
        const wchar_t* entry;
    };
    const Case spellings[] = {{L"mainframe", L"left"}, {L"MAINFRAME", L"LEFT"}, {L"mAINfRAME", L"Left"}};
    for (const Case& c : spellings) EXPECT_EQ(settings.GetInt(c.section, c.entry, -1), 42) << c.section;
    EXPECT_EQ(settings.GetText(L"\u00E9TAT", L"\u00E9CRAN", L""), L"un");
    EXPECT_EQ(settings.GetInt(L"mainframe", L"Right", -1), -1);

    // A write under another spelling changes the same value; a new entry in an
    // existing section joins that section.
    ASSERT_TRUE(settings.WriteInt(L"MAINFRAME", L"LEFT", 7));
    ASSERT_TRUE(settings.WriteInt(L"mainframe", L"Top", 3));
    ASSERT_TRUE(settings.WriteText(L"\u00E9tat", L"\u00E9cran", L"deux"));
    EXPECT_EQ(ReadFile(settings.Path()), "[Mainframe]\nLeft=7\nTop=3\n\n[\xC3\x89tat]\n\xC3\x89" "cran=deux\n");

    // Another store on the same file sees the same values by any spelling.
    OpenSettings other;
    EXPECT_EQ(other.GetInt(L"mainframe", L"left", -1), 7);
    EXPECT_EQ(other.GetInt(L"MainFrame", L"TOP", -1), 3);
}

TEST_F(SettingsTest, IntegersOnlyFromWholeNumbers) {
    OpenSettings settings;
    struct Case {
        std::wstring stored;
        int expected;
    } cases[] = {
        {L"12", 12}, {L"-40", -40}, {L"+5", 5}, {L"12abc", 99}, {L"abc", 99},
        {L"", 99},   {L"2147483648", 99}, {L"-2147483649", 99}, {L"1.5", 99},
    };
    for (const Case& c : cases) {
        settings.WriteText(L"S", L"n", c.stored);
        EXPECT_EQ(settings.GetInt(L"S", L"n", 99), c.expected) << EncodeUtf8(c.stored);
    }
    settings.WriteInt(L"S", L"n", 31);
    EXPECT_EQ(settings.GetText(L"S", L"n", L""), L"31");
}

TEST_F(SettingsTest, TwoStoresOnOneFileNeverUndoEachOther) {
    OpenSettings a, b;
    ASSERT_TRUE(a.WriteInt(L"S", L"one", 1));
    EXPECT_EQ(b.GetInt(L"S", L"one", 0), 1) << "b sees what a wrote";
    ASSERT_TRUE(b.WriteInt(L"S", L"two", 2));
    ASSERT_TRUE(a.WriteInt(L"S", L"three", 3));  // must not drop b's "two"
    OpenSettings c;
    EXPECT_EQ(c.GetInt(L"S", L"one", 0) + c.GetInt(L"S", L"two", 0) + c.GetInt(L"S", L"three", 0), 6);
}

TEST_F(SettingsTest, WritesReplaceTheFileWhole) {
    OpenSettings settings;
    ASSERT_TRUE(settings.WriteText(L"S", L"v", L"old"));
    const std::string before = ReadFile(settings.Path());
    // A reader that opened the old file keeps reading the complete old file:
    // the new one is written aside and renamed over it.
    FILE* old = fopen(settings.Path().c_str(), "r");
    ASSERT_NE(old, nullptr);
    struct stat oldInfo, newInfo;
    fstat(fileno(old), &oldInfo);
    ASSERT_TRUE(settings.WriteText(L"S", L"v", L"new"));
    stat(settings.Path().c_str(), &newInfo);
    EXPECT_NE(oldInfo.st_ino, newInfo.st_ino);
    char buffer[256] = {};
    size_t n = fread(buffer, 1, sizeof buffer - 1, old);
    fclose(old);
    EXPECT_EQ(std::string(buffer, n), before);
    EXPECT_EQ(ReadFile(settings.Path()), "[S]\nv=new\n");
    // Nothing is left beside the file.
    GDir* dir = g_dir_open((home + "/Company").c_str(), 0, nullptr);
    int entries = 0;
    while (g_dir_read_name(dir)) ++entries;
    g_dir_close(dir);
    EXPECT_EQ(entries, 1);
}

TEST_F(SettingsTest, AnUnreadableFileGivesDefaultsAndIsRepairedByTheNextWrite) {
    std::string folder = home + "/Company";
    g_mkdir_with_parents(folder.c_str(), 0700);
    std::string path = folder + "/Yonderpad.conf";
    g_file_set_contents(path.c_str(), "this is [not a key file\n\x01\x02", -1, nullptr);
    OpenSettings settings;
    EXPECT_EQ(settings.GetInt(L"S", L"v", 5), 5);
    ASSERT_TRUE(settings.WriteInt(L"S", L"v", 6));
    EXPECT_EQ(ReadFile(path), "[S]\nv=6\n");
}

TEST_F(SettingsTest, CompanyAndProgramNeverLeaveTheConfigFolder) {
    Settings settings;
    settings.Open(L"../..", L"a/b");
    EXPECT_EQ(settings.Path(), home + "/.._../a_b.conf");
    ASSERT_TRUE(settings.WriteInt(L"S", L"v", 1));
    Settings dots;
    dots.Open(L"..", L".");
    EXPECT_EQ(dots.Path(), home + "/_../_..conf");
}

TEST(ProgramFileTest, NamesFromTheFileName) {
    struct Case {
        std::wstring file, exeName, instanceName;
    } cases[] = {
        {L"/opt/Yonderpad/bin/Yonderpad", L"Yonderpad", L"yonderpad"},
        {L"/opt/bin/Yonderpad.EXE", L"Yonderpad", L"yonderpad"},
        {L"Yonderpad.exe", L"Yonderpad", L"yonderpad"},
        {L"/x/My.Pad.exe", L"My.Pad", L"my.pad"},
        {L"/x/Tool.exe.exe", L"Tool.exe", L"tool"},
        {L"/x/Yonder.EXEpad", L"Yonder", L"yonderpad"},
        {L"/x/.hidden", L".hidden", L".hidden"},
        {L"/x/ÄRGER.EXE", L"ÄRGER", L"ärger"},
        {L"/x/Pad", L"Pad", L"pad"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::ProgramFile::ExeNameOf(c.file), c.exeName) << EncodeUtf8(c.file);
        EXPECT_EQ(platform::ProgramFile::InstanceNameOf(c.file), c.instanceName) << EncodeUtf8(c.file);
    }
    EXPECT_EQ(platform::ProgramFile::InstanceNameOf(std::wstring(300, L'A') + L".exe"),
              std::wstring(255, L'a'));
}

TEST(ProgramFileTest, TheRunningProgram) {
    using platform::ProgramFile;
    const std::wstring path = ProgramFile::Path();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.substr(path.rfind(L'/') + 1), L"PlatformTests");
    EXPECT_EQ(ProgramFile::Directory() + L"PlatformTests", path);
    EXPECT_EQ(ProgramFile::ExeName(), L"PlatformTests");
    EXPECT_EQ(ProgramFile::InstanceName(), L"platformtests");
}

}  // namespace
