// The host's XML tree: reading, writing, root checks and file handling.
//
// Trees are compared through a compact dump, name{attr=value,...}(child,...),
// so that a table row shows the whole tree it expects.

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host/XmlTree.h"
#include "support/TemporaryFolder.h"

namespace {

const std::string Prolog = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// The dump of an element; a "!" marks a child whose parent link is wrong.
std::wstring Dump(const KorvoXmlTreeItem* item) {
    if (item == nullptr) return L"null";
    std::wstring text = item->name.Text();
    if (!item->attributes.IsEmpty()) {
        text += L"{";
        for (int i = 0; i < item->attributes.Count(); ++i) {
            if (i > 0) text += L",";
            text += item->attributes[i]->name.Text();
            text += L"=";
            text += item->attributes[i]->value.Text();
        }
        text += L"}";
    }
    if (!item->children.IsEmpty()) {
        text += L"(";
        for (int i = 0; i < item->children.Count(); ++i) {
            if (i > 0) text += L",";
            if (item->children[i]->parent != item) text += L"!";
            text += Dump(item->children[i]);
        }
        text += L")";
    }
    return text;
}

int TreeDepth(const KorvoXmlTreeItem* item) {
    int deepest = 0;
    for (const KorvoXmlTreeItem* child : item->children) deepest = std::max(deepest, TreeDepth(child));
    return deepest + 1;
}

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

String Wide(const std::filesystem::path& file) { return String::FromUtf8(file.string()); }

// ---------------------------------------------------------------------------
// Reading

struct ReadCase {
    const char* what;
    std::string input;
    int result;
    const wchar_t* tree;  // dump of the root afterwards
};

void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.what; }

class XmlRead : public testing::TestWithParam<ReadCase> {};

TEST_P(XmlRead, GivesResultAndTree) {
    const ReadCase& c = GetParam();
    KorvoXmlTree tree(L"doc", L"C", L"1");
    EXPECT_EQ(tree.LoadBytes(c.input), c.result);
    EXPECT_EQ(Dump(tree.root), c.tree);
}

const std::string Root = "<doc class=\"C\" version=\"1\">";

INSTANTIATE_TEST_SUITE_P(
    Documents, XmlRead,
    testing::Values(
        ReadCase{"prolog and closed root", Prolog + "<doc class=\"C\" version=\"1\"/>\n", 0,
                 L"doc{class=C,version=1}"},
        ReadCase{"no prolog, otherwise well formed", "<doc class=\"C\" version=\"1\"/>\n", 3, L"null"},
        ReadCase{"prolog of another version", "<?xml version=\"1.1\"?>\n" + Root + "</doc>\n", 3, L"null"},
        ReadCase{"prolog name compared exactly", "<?XML version=\"1.0\"?>\n" + Root + "</doc>\n", 3, L"null"},
        ReadCase{"prolog in single quotes, CR LF and blanks before the root",
                 "<?xml version='1.0'?>\r\n \t\r\n" + Root + "</doc>", 0, L"doc{class=C,version=1}"},
        ReadCase{"comment in place of the prolog", "<!-- x -->\n" + Prolog + Root + "</doc>\n", 3, L"null"},
        ReadCase{"root name compared ignoring case", Prolog + "<DOC class=\"C\" version=\"1\"/>\n", 0,
                 L"DOC{class=C,version=1}"},
        ReadCase{"root of another name", Prolog + "<project class=\"C\" version=\"1\"/>\n", 3, L"null"},
        ReadCase{"class differing only in case", Prolog + "<doc class=\"c\" version=\"1\"/>\n", 3, L"null"},
        ReadCase{"version differing", Prolog + "<doc class=\"C\" version=\"2\"/>\n", 3, L"null"},
        ReadCase{"class missing", Prolog + "<doc version=\"1\"/>\n", 3, L"null"},
        ReadCase{"closing tag in place of the root", Prolog + "</doc>\n", 3, L"null"},
        ReadCase{"blanks around '=', single quotes, entities",
                 Prolog + Root + "<a x = ' one ' y=\"&lt;b&gt;\"/></doc>\n", 0,
                 L"doc{class=C,version=1}(a{x=one,y=<b>})"},
        ReadCase{"every entity, replaced once",
                 Prolog + Root + "<a v=\"&quot;&apos;&lt;&gt;&amp;&amp;lt;\"/></doc>\n", 0,
                 L"doc{class=C,version=1}(a{v=\"'<>&&lt;})"},
        ReadCase{"names differing only in case: first name, second value",
                 Prolog + Root + "<a Key=\"1\" kEY=\"2\"/></doc>\n", 0,
                 L"doc{class=C,version=1}(a{Key=2})"},
        ReadCase{"accented names differing only in case meet, whatever the locale",
                 Prolog + Root + "<a \xC3\x89t\xC3\xA9=\"1\" \xC3\xA9T\xC3\x89=\"2\"/></doc>\n", 0,
                 L"doc{class=C,version=1}(a{\u00C9t\u00E9=2})"},
        ReadCase{"text between elements ignored", Prolog + Root + "<a>hello<b/></a></doc>\n", 0,
                 L"doc{class=C,version=1}(a(b))"},
        ReadCase{"any closing tag closes the innermost element",
                 Prolog + Root + "<a><b></x><c/></y></z>\n<after/>", 0,
                 L"doc{class=C,version=1}(a(b,c))"},
        ReadCase{"child tag without its '>' at the end: what was read stays",
                 Prolog + Root + "<a/><b><c/><d x=\"1\"", 0, L"doc{class=C,version=1}(a,b(c))"},
        ReadCase{"empty tag inside the root ends reading",
                 Prolog + Root + "<a/><><b/></doc>\n", 0, L"doc{class=C,version=1}(a)"},
        ReadCase{"element name starting with a NUL byte ends reading",
                 Prolog + Root + "<a/>" + std::string("<\0b/><c/>", 9) + "</doc>\n", 0,
                 L"doc{class=C,version=1}(a)"},
        ReadCase{"input ends inside open elements", Prolog + Root + "<a><b/>\n", 0,
                 L"doc{class=C,version=1}(a(b))"},
        ReadCase{"input ends right after an opening tag", Prolog + Root + "<a>", 0,
                 L"doc{class=C,version=1}(a)"},
        ReadCase{"nothing after the root is read", Prolog + Root + "</doc><a><broken", 0,
                 L"doc{class=C,version=1}"},
        ReadCase{"empty input", "", 3, L"null"},
        ReadCase{"blanks only", " \r\n", 3, L"null"},
        ReadCase{"text without tags", "hello", 3, L"null"},
        ReadCase{"text without tags, with its line end", "abc\n", 3, L"null"},
        ReadCase{"prolog then line end, no root", Prolog, 3, L"null"},
        ReadCase{"prolog without line end, no root", "<?xml version=\"1.0\"?>", 3, L"null"},
        ReadCase{"prolog cut inside its tag", "<?xml version=\"1.0\"", 3, L"null"},
        ReadCase{"'/' inside a name belongs to it; '/' at the end closes",
                 Prolog + Root + "<a/b/><c x=\"1\" /><d/e></doc>\n", 0,
                 L"doc{class=C,version=1}(a/b,c{x=1},d/e)"},
        ReadCase{"a name ends at a blank only, not at a tab",
                 Prolog + Root + "<a\tb x=\"1\"/></doc>\n", 0, L"doc{class=C,version=1}(a\tb{x=1})"},
        ReadCase{"line ends inside a tag", Prolog + Root + "<a\r\n  x=\"1\"\r\n  y=\"2\"/></doc>\r\n", 0,
                 L"doc{class=C,version=1}(a{x=1,y=2})"},
        ReadCase{"a value open at the end keeps its empty value (and its '/')",
                 Prolog + Root + "<a x=\"1\" y=\"2/><b/></doc>\n", 0,
                 L"doc{class=C,version=1}(a{x=1,y=}(b))"},
        ReadCase{"an unfinished attribute name is ignored", Prolog + Root + "<a x=\"1\" y/></doc>\n", 0,
                 L"doc{class=C,version=1}(a{x=1})"},
        ReadCase{"'<' means nothing inside a tag", Prolog + Root + "<a<b x=\"<\"/></doc>\n", 0,
                 L"doc{class=C,version=1}(a<b{x=<})"},
        ReadCase{"a lone carriage return stays in a value", Prolog + Root + "<a x=\"1\r2\"/></doc>\n", 0,
                 L"doc{class=C,version=1}(a{x=1\r2})"},
        ReadCase{"UTF-8 bytes", Prolog + Root + "<a v=\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB9\"/></doc>\n", 0,
                 L"doc{class=C,version=1}(a{v=\u00E9\u20AC\U0001F3B9})"},
        ReadCase{"bytes that are not UTF-8 read as Latin-1",
                 Prolog + Root + "<a v=\"caf\xE9 \xC3(\"/></doc>\n", 0,
                 L"doc{class=C,version=1}(a{v=caf\u00E9 \u00C3(})"}),
    [](const testing::TestParamInfo<ReadCase>& info) { return "Case" + std::to_string(info.index); });

TEST(XmlTreeRead, ChecksOfClassAndVersionCanBeTurnedOff) {
    const std::string file = Prolog + "<doc class=\"other\"/>\n";
    KorvoXmlTree tree(L"doc", L"C", L"1");
    EXPECT_EQ(tree.LoadBytes(file), 3);
    tree.checkClass = false;
    EXPECT_EQ(tree.LoadBytes(file), 3);  // version still checked (missing counts as empty)
    tree.checkVersion = false;
    EXPECT_EQ(tree.LoadBytes(file), 0);
    EXPECT_EQ(Dump(tree.root), L"doc{class=other}");
}

TEST(XmlTreeRead, FailedReadDropsThePreviousRoot) {
    KorvoXmlTree tree(L"doc", L"C", L"1");
    ASSERT_EQ(tree.LoadBytes(Prolog + Root + "</doc>\n"), 0);
    ASSERT_NE(tree.root, nullptr);
    EXPECT_EQ(tree.LoadBytes("<doc/>"), 3);
    EXPECT_EQ(tree.root, nullptr);
}

// Nesting is bounded so that a hostile file cannot exhaust the stack; the
// bound cuts the tree and reading ends as with any error inside the root.
TEST(XmlTreeRead, NestingBeyondTheBoundIsCut) {
    // Levels of <a> below the root, then a closed leaf one level deeper.
    const int cases[] = {KorvoXmlTree::MaxDepth - 2, KorvoXmlTree::MaxDepth - 1, 200000};
    for (int levels : cases) {
        std::string file = Prolog + Root;
        for (int i = 0; i < levels; ++i) file += "<a>";
        file += "<leaf/>";
        for (int i = 0; i < levels; ++i) file += "</a>";
        file += "<sibling/></doc>\n";
        KorvoXmlTree tree(L"doc", L"C", L"1");
        EXPECT_EQ(tree.LoadBytes(file), 0) << levels;
        ASSERT_NE(tree.root, nullptr);
        EXPECT_EQ(TreeDepth(tree.root), KorvoXmlTree::MaxDepth) << levels;
        // Within the bound everything is read, the sibling after the nest too;
        // beyond it reading stopped at the leaf.
        bool complete = levels + 2 <= KorvoXmlTree::MaxDepth;
        EXPECT_EQ(tree.root->children.Count(), complete ? 2 : 1) << levels;
    }
}

TEST(XmlTreeRead, ManyAttributesInOneTag) {
    // Names repeat in varying case; each distinct name is kept once, with its
    // first spelling and its last value.
    std::string tag = "<a";
    const int names = 50000;
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < names; ++i)
            tag += (round ? " N" : " n") + std::to_string(i) + "=\"" + std::to_string(round) + "\"";
    KorvoXmlTree tree(L"doc", L"C", L"1");
    ASSERT_EQ(tree.LoadBytes(Prolog + Root + tag + "/></doc>\n"), 0);
    ASSERT_EQ(tree.root->children.Count(), 1);
    const KorvoXmlTreeItem* a = tree.root->children[0];
    ASSERT_EQ(a->attributes.Count(), names);
    EXPECT_EQ(a->attributes[123]->name, L"n123");
    EXPECT_EQ(a->attributes[123]->value, L"1");
}

// ---------------------------------------------------------------------------
// Elements

TEST(XmlTreeItem, AttributesAreFoundIgnoringCaseFromLastToFirst) {
    KorvoXmlTreeItem item(L"a");
    item.SetAttribute(L"Name", L"1");
    item.SetAttribute(L"NAME", L"2");
    ASSERT_EQ(item.attributes.Count(), 1);
    EXPECT_EQ(item.attributes[0]->name, L"Name");
    EXPECT_EQ(item.attributes[0]->value, L"2");
    // Only code that fills the array directly can hold one name twice; the
    // search then finds the later one.
    item.attributes.Add(new KorvoXmlTreeAttribute(L"name", L"3"));
    EXPECT_EQ(item.FindAttribute(L"nAmE"), item.attributes[1]);
    EXPECT_EQ(item.FindAttribute(L""), nullptr);
    EXPECT_EQ(item.FindAttribute(L"missing"), nullptr);
    EXPECT_EQ(item.AttributeValue(L"missing"), L"");
}

TEST(XmlTreeItem, AddChildLinksParentAndRefusesItself) {
    KorvoXmlTreeItem item(L"a");
    auto* child = new KorvoXmlTreeItem(L"b");
    EXPECT_TRUE(item.AddChild(child));
    EXPECT_EQ(child->parent, &item);
    EXPECT_FALSE(item.AddChild(&item));
    EXPECT_FALSE(item.AddChild(nullptr));
    EXPECT_EQ(Dump(&item), L"a(b)");
}

// ---------------------------------------------------------------------------
// SetRoot

TEST(XmlTreeSetRoot, AcceptsIgnoringCaseWhereLoadDoesNot) {
    struct Case {
        const wchar_t* name;
        const wchar_t* klass;    // null: no attribute
        const wchar_t* version;  // null: no attribute
        bool checkClass, checkVersion;
        int result;
    } cases[] = {
        {L"doc", L"C", L"1", true, true, 0},
        {L"DOC", L"c", L"1", true, true, 0},
        {L"other", L"C", L"1", true, true, 4},
        {L"doc", L"D", L"1", true, true, 4},
        {L"doc", nullptr, L"1", true, true, 4},
        {L"doc", L"C", L"2", true, true, 4},
        {L"doc", L"D", L"1", false, true, 0},
        {L"doc", L"C", nullptr, true, false, 0},
    };
    for (const Case& c : cases) {
        KorvoXmlTree tree(L"doc", L"C", L"1");
        tree.checkClass = c.checkClass;
        tree.checkVersion = c.checkVersion;
        auto* element = new KorvoXmlTreeItem(c.name);
        if (c.klass) element->SetAttribute(L"class", c.klass);
        if (c.version) element->SetAttribute(L"version", c.version);
        EXPECT_EQ(tree.SetRoot(element), c.result) << Dump(element);
        EXPECT_EQ(tree.root, c.result == 0 ? element : nullptr);
        if (c.result != 0) delete element;  // a refused element stays the caller's
    }

    // The same class spelling that SetRoot accepts is refused when read.
    KorvoXmlTree tree(L"doc", L"C", L"1");
    EXPECT_EQ(tree.LoadBytes(Prolog + "<doc class=\"c\" version=\"1\"/>\n"), 3);
}

TEST(XmlTreeSetRoot, FreesTheOldRootAndSurvivesItsOwnRoot) {
    KorvoXmlTree tree(L"doc", L"C", L"1");
    ASSERT_EQ(tree.LoadBytes(Prolog + Root + "<a/></doc>\n"), 0);
    KorvoXmlTreeItem* loaded = tree.root;
    // Setting the current root again keeps it alive.
    EXPECT_EQ(tree.SetRoot(loaded), 0);
    EXPECT_EQ(tree.root, loaded);
    EXPECT_EQ(Dump(tree.root), L"doc{class=C,version=1}(a)");
    // Refused as its own replacement (checks changed): given up, not freed.
    tree.rootName = L"other";
    EXPECT_EQ(tree.SetRoot(loaded), 4);
    EXPECT_EQ(tree.root, nullptr);
    EXPECT_EQ(Dump(loaded), L"doc{class=C,version=1}(a)");
    delete loaded;
    // A refused element still frees the root that was there.
    tree.rootName = L"doc";
    ASSERT_EQ(tree.LoadBytes(Prolog + Root + "</doc>\n"), 0);
    EXPECT_EQ(tree.SetRoot(nullptr), 4);
    EXPECT_EQ(tree.root, nullptr);
}

// ---------------------------------------------------------------------------
// Writing

std::string Saved(KorvoXmlTree& tree) {
    std::string bytes;
    EXPECT_EQ(tree.SaveBytes(bytes), 0);
    return bytes;
}

TEST(XmlTreeWrite, ExactLayout) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
    {
        KorvoXmlTree tree(L"module", L"A", L"");
        tree.checkVersion = false;
        auto* module = new KorvoXmlTreeItem(L"module");
        module->SetAttribute(L"class", L"A");
        module->AddChild(new KorvoXmlTreeItem(L"connector"));
        ASSERT_EQ(tree.SetRoot(module), 0);
        EXPECT_EQ(Saved(tree), head +
                                   "<module class=\"A\">\r\n"
                                   "\t<connector/>\r\n"
                                   "</module>\r\n");
        module->children[0]->AddChild(new KorvoXmlTreeItem(L"value"));
        module->children[0]->SetAttribute(L"name", L"Send");
        module->children[0]->SetAttribute(L"flags", L"256");
        EXPECT_EQ(Saved(tree), head +
                                   "<module class=\"A\">\r\n"
                                   "\t<connector name=\"Send\" flags=\"256\">\r\n"
                                   "\t\t<value/>\r\n"
                                   "\t</connector>\r\n"
                                   "</module>\r\n");
    }
    {
        KorvoXmlTree tree(L"module", L"A", L"");
        tree.checkVersion = false;
        auto* module = new KorvoXmlTreeItem(L"module");
        module->SetAttribute(L"class", L"A");
        ASSERT_EQ(tree.SetRoot(module), 0);
        EXPECT_EQ(Saved(tree), head + "<module class=\"A\"/>\r\n");
    }
}

TEST(XmlTreeWrite, ValuesRoundTrip) {
    struct Case {
        const wchar_t* value;
        const char* written;  // as it stands between the quotes
    } cases[] = {
        {L"say \"hi\"", "say &quot;hi&quot;"},
        {L"a & b", "a &amp; b"},
        {L"<b>", "&lt;b&gt;"},
        {L"it's", "it&apos;s"},
        {L"&amp; &quot; &lt;", "&amp;amp; &amp;quot; &amp;lt;"},
        {L"\u00E9\u20AC\U0001F3B9", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB9"},
        {L"two\nlines", "two\r\nlines"},
        {L"", ""},
    };
    for (const Case& c : cases) {
        KorvoXmlTree tree(L"doc", L"C", L"1");
        auto* root = new KorvoXmlTreeItem(L"doc");
        root->SetAttribute(L"class", L"C");
        root->SetAttribute(L"version", L"1");
        auto* child = new KorvoXmlTreeItem(L"a");
        child->SetAttribute(L"v", c.value);
        root->AddChild(child);
        ASSERT_EQ(tree.SetRoot(root), 0);
        std::string bytes = Saved(tree);
        EXPECT_NE(bytes.find(std::string("v=\"") + c.written + "\""), std::string::npos) << bytes;

        ASSERT_EQ(tree.LoadBytes(bytes), 0);
        ASSERT_NE(tree.root, nullptr);
        ASSERT_EQ(tree.root->children.Count(), 1);
        EXPECT_EQ(tree.root->children[0]->AttributeValue(L"v"), c.value) << bytes;
    }
}

TEST(XmlTreeWrite, Latin1InputIsWrittenBackAsUtf8) {
    KorvoXmlTree tree(L"doc", L"C", L"1");
    ASSERT_EQ(tree.LoadBytes(Prolog + Root + "<a v=\"caf\xE9\"/></doc>\n"), 0);
    std::string bytes = Saved(tree);
    EXPECT_NE(bytes.find("v=\"caf\xC3\xA9\""), std::string::npos);
    ASSERT_EQ(tree.LoadBytes(bytes), 0);
    EXPECT_EQ(tree.root->children[0]->AttributeValue(L"v"), L"caf\u00E9");
}

TEST(XmlTreeWrite, ElementWithoutNameFails) {
    KorvoXmlTree tree(L"doc", L"C", L"1");
    ASSERT_EQ(tree.LoadBytes(Prolog + Root + "<a/></doc>\n"), 0);
    tree.root->children[0]->AddChild(new KorvoXmlTreeItem(L""));
    std::string bytes;
    EXPECT_EQ(tree.SaveBytes(bytes), 3);
    tree.root->name = L"";
    EXPECT_EQ(tree.SaveBytes(bytes), 3);
}

// ---------------------------------------------------------------------------
// Files

TEST(XmlTreeFile, SaveAndLoadThroughFiles) {
    korvotest::TemporaryFolder folder{"xmltree"};
    const auto file = folder.path / "Project \u00E9.prj";
    KorvoXmlTree tree(L"doc", L"C", L"1");
    ASSERT_EQ(tree.LoadBytes(Prolog + Root + "<a x=\"1\"><b/></a></doc>\n"), 0);
    EXPECT_EQ(tree.Save(Wide(file)), 0);
    EXPECT_EQ(tree.path, Wide(file));
    EXPECT_EQ(ReadFile(file), Saved(tree));
    // An empty name saves to the stored one.
    tree.root->SetAttribute(L"extra", L"2");
    EXPECT_EQ(tree.Save(L""), 0);
    EXPECT_NE(ReadFile(file).find("extra=\"2\""), std::string::npos);

    KorvoXmlTree again(L"doc", L"C", L"1");
    EXPECT_EQ(again.Load(Wide(file)), 0);
    EXPECT_EQ(again.path, Wide(file));
    EXPECT_EQ(Dump(again.root), L"doc{class=C,version=1,extra=2}(a{x=1}(b))");
}

TEST(XmlTreeFile, LoadFailures) {
    korvotest::TemporaryFolder folder{"xmltree"};
    KorvoXmlTree tree(L"doc", L"C", L"1");
    ASSERT_EQ(tree.LoadBytes(Prolog + Root + "<kept/></doc>\n"), 0);
    KorvoXmlTreeItem* previous = tree.root;

    // Files that cannot be opened or read keep the previous root.
    EXPECT_EQ(tree.Load(Wide(folder.path / "missing.prj")), 2);
    EXPECT_EQ(tree.path, Wide(folder.path / "missing.prj"));
    EXPECT_EQ(tree.root, previous);
    EXPECT_EQ(tree.Load(Wide(folder.path)), 2);  // a folder
    EXPECT_EQ(tree.root, previous);
    EXPECT_EQ(tree.Load(L""), 2);
    EXPECT_EQ(tree.path, L"");
    EXPECT_EQ(tree.root, previous);

    // A file that opens but does not parse drops it.
    WriteFile(folder.path / "broken.prj", "<doc/>");
    EXPECT_EQ(tree.Load(Wide(folder.path / "broken.prj")), 3);
    EXPECT_EQ(tree.root, nullptr);
}

TEST(XmlTreeFile, SaveFailures) {
    korvotest::TemporaryFolder folder{"xmltree"};
    const auto file = folder.path / "out.idx";
    KorvoXmlTree tree(L"doc", L"C", L"1");

    EXPECT_EQ(tree.Save(L""), 2);                // no name at all
    EXPECT_EQ(tree.Save(Wide(file)), 3);         // no root
    EXPECT_FALSE(std::filesystem::exists(file));
    ASSERT_EQ(tree.LoadBytes(Prolog + Root + "</doc>\n"), 0);
    EXPECT_EQ(tree.Save(Wide(folder.path / "no" / "such.idx")), 2);

    // A tree that cannot be written leaves the file as it was.
    WriteFile(file, "previous");
    tree.root->AddChild(new KorvoXmlTreeItem(L""));
    EXPECT_EQ(tree.Save(Wide(file)), 3);
    EXPECT_EQ(ReadFile(file), "previous");
}

TEST(XmlTreeFile, FullDiskIsAFailure) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    KorvoXmlTree tree(L"doc", L"C", L"1");
    ASSERT_EQ(tree.LoadBytes(Prolog + Root + "</doc>\n"), 0);
    EXPECT_EQ(tree.Save(L"/dev/full"), 2);
}

}  // namespace
