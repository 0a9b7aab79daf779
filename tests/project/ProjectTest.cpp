// Loading projects: modules made in document order through the registry from
// the probe library, kept values restored, connections made as they are
// reached, Start only after a clean walk, and the tree deleted through the
// libraries. The probes log every create, start, handler call and delete.

#include "host/Project.h"

#include <gtest/gtest.h>

#include "InstallFolder.h"
#include "ProbeLog.h"
#include "host/ModuleRegistry.h"

namespace {

using Events = std::vector<std::string>;

class ProjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        ProbeLogReset();
        install.Describe("alpha.scm", "Alpha", "alpha", PROBE_MODULES_PATH);
        install.Describe("beta.scm", "Beta", "beta", PROBE_MODULES_PATH);
        install.Describe("gamma.scm", "Gamma", "gamma", PROBE_MODULES_PATH);  // no such export
        install.Describe("nothing.scm", "Nothing", "nothing", PROBE_MODULES_PATH);  // factory gives null
        ASSERT_EQ(registry.BuildIndex(), 0);
        ASSERT_EQ(registry.LoadIndex(), 0);
    }

    // Writes bin/<file> as a project whose root holds body, and loads it.
    bool Load(const std::string& body, const std::string& file = "Test.prj") {
        install.Write("bin/" + file, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<korvo class=\"0\" version=\"1.0\">\n" +
                                         body + "\n</korvo>\n");
        return project.LoadProject(ProjectFile(file));
    }
    String ProjectFile(const std::string& file) const { return String::FromUtf8(install.Bin(file)); }

    // The module of the root's child at index.
    KorvoModule* Module(int index) const { return project.root->children[index]->module; }
    // The module events since the last call; library loads and unloads left out.
    static Events Take() {
        Events events;
        for (std::string& event : ProbeLogTake())
            if (event.rfind("load ", 0) != 0 && event.rfind("unload ", 0) != 0) events.push_back(event);
        return events;
    }
    static std::string Text(KorvoModule* module, const wchar_t* connector) {
        KorvoConnector* found = module->FindConnector(connector);
        return found ? found->GetText().ToUtf8() : "<none>";
    }

    InstallFolder install;
    KorvoModuleRegistry registry{install.ProgramFolder(), L"Company", L"Program"};
    String projectPath;
    KorvoProject project{&registry, &projectPath};
};

TEST_F(ProjectTest, ModulesAreMadeInDocumentOrderAndStartedAfterTheWalk) {
    ASSERT_TRUE(Load(R"(<module class="alpha"><connector name="Kept" value="k"/></module>
                        <module class="beta"/>
                        <connections><connection module1="0" connector1="Kept" module2="1" connector2="Text"/></connections>
                        <module class="alpha"/>)"));
    EXPECT_EQ(projectPath, ProjectFile("Test.prj"));
    EXPECT_EQ(Take(), (Events{"create Alpha#1", "create Beta#2", "changed Beta#2 Text=k", "create Alpha#3",
                                      "start Alpha#1", "start Beta#2", "start Alpha#3"}));
    ASSERT_NE(project.root, nullptr);
    EXPECT_EQ(project.root->name, L"korvo");
    EXPECT_EQ(project.root->className, L"0");
    EXPECT_EQ(project.root->module, nullptr);
    ASSERT_EQ(project.root->children.Count(), 3);
    EXPECT_EQ(project.root->children[1]->name, L"module");
    EXPECT_EQ(project.root->children[1]->className, L"beta");
    EXPECT_EQ(project.root->children[1]->parent, project.root);
    EXPECT_EQ(project.modules.Count(), 0);  // only used while loading
}

TEST_F(ProjectTest, ConnectionsLinkOnlyModulesAlreadyMade) {
    struct Case {
        const char* body;
        bool linked;
    } cases[] = {
        {R"(<module class="alpha"/>
            <connections><connection module1="0" connector1="Text" module2="1" connector2="Text"/></connections>
            <module class="beta"/>)",
         false},
        {R"(<module class="alpha"/>
            <module class="beta"/>
            <connections><connection module1="0" connector1="Text" module2="1" connector2="Text"/></connections>)",
         true},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Load(c.body));
        EXPECT_EQ(Module(0)->FindConnector(L"Text")->Group() != nullptr, c.linked) << c.body;
        EXPECT_EQ(Module(0)->FindConnector(L"Text")->Group(), Module(1)->FindConnector(L"Text")->Group());
    }
}

TEST_F(ProjectTest, EveryClassedElementTakesAnIndex) {
    // group 0 (no module), alpha 1 inside it, Module 2 (no module: names are
    // case-sensitive), gamma 3 (its export is missing), beta 4.
    ASSERT_TRUE(Load(R"(<group class="g"><module class="alpha"><connector name="Kept" value="k"/></module></group>
                        <Module class="beta"/>
                        <module class="gamma"/>
                        <module class="beta"/>
                        <connections>
                          <connection module1="0" connector1="Text" module2="1" connector2="Text"/>
                          <connection module1="2" connector1="Text" module2="1" connector2="Text"/>
                          <connection module1="3" connector1="Text" module2="1" connector2="Text"/>
                          <connection module1="1" connector1="Kept" module2="4" connector2="Text"/>
                        </connections>)"));
    EXPECT_EQ(Take(), (Events{"create Alpha#1", "create Beta#2", "changed Beta#2 Text=k", "start Alpha#1",
                                      "start Beta#2"}));
    KorvoModule* alpha = project.root->children[0]->children[0]->module;
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(alpha->FindConnector(L"Text")->Group(), nullptr);
    EXPECT_NE(alpha->FindConnector(L"Kept")->Group(), nullptr);
    EXPECT_EQ(project.root->children[1]->name, L"Module");
    EXPECT_EQ(project.root->children[1]->module, nullptr);
    EXPECT_EQ(project.root->children[2]->module, nullptr);
}

TEST_F(ProjectTest, KeptValueIsRestoredQuietlyAndThenPushedOrOverwritten) {
    struct Case {
        const char* connection;
        std::string alphaKept, betaKept;
        Events events;
    } cases[] = {
        {"", "restored", "other", {}},
        {R"(<connection module1="0" connector1="Kept" module2="1" connector2="Kept"/>)", "restored", "restored",
         {"changed Beta#2 Kept=restored"}},
        {R"(<connection module1="1" connector1="Kept" module2="0" connector2="Kept"/>)", "other", "other",
         {"changed Alpha#1 Kept=other"}},
    };
    for (const Case& c : cases) {
        project.DestroyTree();
        ProbeLogReset();
        ASSERT_TRUE(Load(std::string(R"(<module class="alpha"><connector name="Kept" type="3" value="restored"/>
                                                                 <connector name="Text" type="259" value="ignored"/></module>
                                         <module class="beta"><connector name="Kept" value="other"/></module>
                                         <connections>)") +
                         c.connection + "</connections>"));
        EXPECT_EQ(Text(Module(0), L"Kept"), c.alphaKept) << c.connection;
        EXPECT_EQ(Text(Module(1), L"Kept"), c.betaKept) << c.connection;
        EXPECT_EQ(Text(Module(0), L"Text"), "") << "not kept: the type given for an existing connector is ignored";
        Events expected = {"create Alpha#1", "create Beta#2"};
        expected.insert(expected.end(), c.events.begin(), c.events.end());
        expected.insert(expected.end(), {"start Alpha#1", "start Beta#2"});
        EXPECT_EQ(Take(), expected) << c.connection;
    }
}

TEST_F(ProjectTest, ConnectorsTheModuleLacksAreAddedByKind) {
    struct Case {
        const char* type;
        int kind;  // 0: no connector made
        std::string text;
    } cases[] = {
        {"259", KorvoConnector::KindText, "kept"},
        {"3", KorvoConnector::KindText, ""},
        {"257", KorvoConnector::KindLong, "42"},
        {"1", KorvoConnector::KindLong, "0"},
        {"258", KorvoConnector::KindDouble, "1.500000"},
        {"260", KorvoConnector::KindUser, ""},
        {"515", KorvoConnector::KindText, ""},  // 0x203: other flags, not kept
        {"0", 0, ""},
        {"5", 0, ""},
        {"261", 0, ""},
        {"x", 0, ""},
        {nullptr, 0, ""},
    };
    for (const Case& c : cases) {
        std::string value = c.kind == KorvoConnector::KindLong ? "42" : c.kind == KorvoConnector::KindDouble ? "1.5" : "kept";
        std::string type = c.type ? std::string(" type=\"") + c.type + "\"" : "";
        ASSERT_TRUE(Load(R"(<module class="alpha"><connector name="Extra")" + type + " value=\"" + value +
                         R"("/></module>)"));
        KorvoConnector* extra = Module(0)->FindConnector(L"Extra");
        if (c.kind == 0) {
            EXPECT_EQ(extra, nullptr) << c.type;
            EXPECT_EQ(Module(0)->connectors.Count(), 3);
            continue;
        }
        ASSERT_NE(extra, nullptr) << c.type;
        EXPECT_EQ(static_cast<int>(extra->Kind()), c.kind) << c.type;
        EXPECT_EQ(extra->GetFlags(), static_cast<uint32_t>(std::stoi(c.type))) << c.type;
        EXPECT_EQ(extra->Owner(), Module(0));
        EXPECT_EQ(extra->GetText().ToUtf8(), c.text) << c.type;
        EXPECT_EQ(Module(0)->connectors[3], extra);
    }
}

TEST_F(ProjectTest, AddedConnectorsLinkWithoutHandlers) {
    ASSERT_TRUE(Load(R"(<module class="alpha"><connector name="Extra" type="259" value="pushed"/>
                                              <connector name="Plain" type="3"/></module>
                        <module class="beta"><connector name="Kept" value="from beta"/></module>
                        <connections>
                          <connection module1="0" connector1="Extra" module2="1" connector2="Text"/>
                          <connection module1="1" connector1="Kept" module2="0" connector2="Plain"/>
                        </connections>)"));
    EXPECT_EQ(Text(Module(1), L"Text"), "pushed");
    EXPECT_EQ(Text(Module(0), L"Plain"), "from beta");
    // Deleting the modules deletes the host's connector through its own destructor.
    project.DestroyTree();
    EXPECT_EQ(Take(), (Events{"create Alpha#1", "create Beta#2", "changed Beta#2 Text=pushed", "start Alpha#1",
                                      "start Beta#2", "delete Beta#2", "delete Alpha#1"}));
}

TEST_F(ProjectTest, ConnectorElementsOutsideAModuleAreIgnored) {
    ASSERT_TRUE(Load(R"(<connector name="Top" type="259" value="x"/>
                        <group class="g"><connector name="InGroup" type="259" value="x"/></group>
                        <module class="gamma"><connector name="InMissing" type="259" value="x"/></module>
                        <module class="nothing"><connector name="InNothing" type="259" value="x"/></module>
                        <connections><connector name="InConnections" type="259" value="x"/></connections>
                        <module class="alpha"><connector name="Kept" value="mine"/></module>)"));
    EXPECT_EQ(Text(Module(3), L"Kept"), "mine");
    EXPECT_EQ(Module(3)->connectors.Count(), 3);
    EXPECT_EQ(Module(2), nullptr);
    EXPECT_EQ(Take(), (Events{"create nothing", "create Alpha#1", "start Alpha#1"}));
}

TEST_F(ProjectTest, ConnectionsNamingNothingAreSkipped) {
    const char* connections[] = {
        R"(<connection module1="0" connector1="Text" module2="2" connector2="Text"/>)",
        R"(<connection module1="-1" connector1="Text" module2="1" connector2="Text"/>)",
        R"(<connection module1="0" connector1="text" module2="1" connector2="Text"/>)",
        R"(<connection module1="0" connector1="Text" module2="1" connector2="Missing"/>)",
        R"(<connection module1="0" connector1="Text" module2="1"/>)",
        R"(<connection module1="99999999999" connector1="Text" module2="1" connector2="Text"/>)",
    };
    for (const char* connection : connections) {
        ASSERT_TRUE(Load(std::string(R"(<module class="alpha"/><module class="beta"/><connections>)") + connection +
                         "</connections>"));
        EXPECT_EQ(Module(0)->FindConnector(L"Text")->Group(), nullptr) << connection;
        EXPECT_EQ(Module(1)->FindConnector(L"Text")->Group(), nullptr) << connection;
    }
    // Missing or unparsable indexes count as 0.
    ASSERT_TRUE(Load(R"(<module class="alpha"/><connections>
                        <connection module1="first" connector1="Text" connector2="Number"/></connections>)"));
    EXPECT_NE(Module(0)->FindConnector(L"Text")->Group(), nullptr);
    EXPECT_EQ(Module(0)->FindConnector(L"Text")->Group(), Module(0)->FindConnector(L"Number")->Group());
}

TEST_F(ProjectTest, WalkThatStopsStartsNothingButKeepsWhatItMade) {
    struct Case {
        const char* third;
        Events extra;  // events of the third element
    } cases[] = {
        {R"(<module class="unknown"/>)", {}},
        {R"(<module class="ALPHA"/>)", {}},
        {R"(<module/>)", {}},
        {R"(<group class=""/>)", {}},
        {R"(<connections><group class="g"/></connections>)", {}},
        // A module taken for a second root is made and handed straight back.
        {R"(<connections><module class="alpha"/></connections>)", {"create Alpha#3", "delete Alpha#3"}},
    };
    for (const Case& c : cases) {
        project.DestroyTree();
        ProbeLogReset();
        ASSERT_TRUE(Load(std::string(R"(<module class="alpha"/><module class="beta"/>)") + c.third +
                         R"(<module class="beta"/>)"))
            << c.third;
        Events expected = {"create Alpha#1", "create Beta#2"};
        expected.insert(expected.end(), c.extra.begin(), c.extra.end());
        EXPECT_EQ(Take(), expected) << c.third;
        ASSERT_NE(project.root, nullptr);
        ASSERT_EQ(project.root->children.Count(), 2) << c.third;
        EXPECT_NE(Module(0), nullptr);
        EXPECT_NE(Module(1), nullptr);
    }
}

TEST_F(ProjectTest, RootThatIsNoProjectIsRefused) {
    struct Case {
        const char* content;
        bool loaded;
        bool makesAlpha;
        const char* why;
    } cases[] = {
        {nullptr, false, false, "no file"},
        {"<korvo class=\"0\" version=\"1.0\"><module class=\"alpha\"/></korvo>", false, false, "no prolog"},
        {"<?xml version=\"1.0\"?>\n<project class=\"0\" version=\"1.0\"><module class=\"alpha\"/></project>", false,
         false, "another root"},
        {"<?xml version=\"1.0\"?>\n<korvo class=\"1\" version=\"1.0\"><module class=\"alpha\"/></korvo>", false,
         false, "another class"},
        {"<?xml version=\"1.0\"?>\n<korvo class=\"0\" version=\"1.00\"><module class=\"alpha\"/></korvo>", false,
         false, "another version"},
        {"<?xml version=\"1.0\"?>\n<KORVO class=\"0\" version=\"1.0\"><module class=\"alpha\"/></KORVO>", true,
         true, "root name in any case"},
        {"<?xml version=\"1.0\"?>\n", false, false, "a prolog without a root"},
        {"abc\n", false, false, "a line of text"},
        {"\n", false, false, "a line end alone"},
    };
    for (const Case& c : cases) {
        project.DestroyTree();
        ProbeLogReset();
        ASSERT_TRUE(Load(R"(<module class="beta"/>)", "Previous.prj"));
        Take();
        std::filesystem::remove(install.path / "bin" / "Other.prj");
        if (c.content) install.Write("bin/Other.prj", c.content);
        EXPECT_EQ(project.LoadProject(ProjectFile("Other.prj")), c.loaded) << c.why;
        EXPECT_EQ(projectPath, ProjectFile("Other.prj")) << c.why;
        // The previous project is gone either way.
        Events expected = {"delete Beta#1"};
        if (c.makesAlpha) expected.insert(expected.end(), {"create Alpha#2", "start Alpha#2"});
        EXPECT_EQ(Take(), expected) << c.why;
        EXPECT_EQ(project.root != nullptr, c.makesAlpha) << c.why;
    }
}

TEST_F(ProjectTest, TreeIsDeletedChildrenFirstLaterSiblingsFirst) {
    ASSERT_TRUE(Load(R"(<module class="alpha">
                          <group class="g"><module class="beta"/></group>
                          <module class="alpha"/>
                        </module>
                        <module class="beta"/>)"));
    Take();
    project.DestroyTree();
    EXPECT_EQ(project.root, nullptr);
    EXPECT_EQ(Take(), (Events{"delete Beta#4", "delete Alpha#3", "delete Beta#2", "delete Alpha#1"}));
}

TEST(ProjectLifetime, ProjectGoesBeforeTheRegistryUnloads) {
    ProbeLogReset();
    InstallFolder install;
    install.Describe("alpha.scm", "Alpha", "alpha", PROBE_MODULES_PATH);
    install.Write("bin/Test.prj",
                  "<?xml version=\"1.0\"?>\n<korvo class=\"0\" version=\"1.0\"><module class=\"alpha\"/></korvo>\n");
    {
        KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
        ASSERT_EQ(registry.BuildIndex(), 0);
        ASSERT_EQ(registry.LoadIndex(), 0);
        KorvoProject project(&registry, nullptr);
        EXPECT_TRUE(project.LoadProject(String::FromUtf8(install.Bin("Test.prj"))));
    }
    EXPECT_EQ(ProbeLogTake(), (Events{"load libProbeModules.so", "create Alpha#1", "start Alpha#1", "delete Alpha#1",
                                      "unload libProbeModules.so"}));
}

TEST(ProjectLifetime, WithoutRegistryNothingIsMade) {
    korvotest::TemporaryFolder folder;
    folder.Write("Test.prj", "<?xml version=\"1.0\"?>\n<korvo class=\"0\" version=\"1.0\"><group class=\"g\"/></korvo>\n");
    KorvoProject project(nullptr, nullptr);
    EXPECT_TRUE(project.LoadProject(String::FromUtf8((folder.path / "Test.prj").string())));
    EXPECT_EQ(project.root, nullptr);
}

}  // namespace
