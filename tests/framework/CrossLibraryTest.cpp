// Connectors made by two plug-in libraries (each with its own hidden copy of the
// framework) and by this program, linked together: values travel in every
// direction, groups are made, grown, merged and freed by code of a different
// library than the one that allocated them, and every connector is destroyed by
// the library that made it. The sanitizer build checks the memory side.

#include <dlfcn.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RecordingModule.h"
#include "framework/PlugIn.h"

namespace {

class PeerLibrary {
public:
    using AddConnector = KorvoConnector* (*)(KorvoModule*, const wchar_t*);
    using Link = void (*)(KorvoConnector*, KorvoConnector*);
    using DestroyConnector = void (*)(KorvoModule*, KorvoConnector*);

    PeerLibrary(const char* path, const char* moduleName) {
        handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            ADD_FAILURE() << dlerror();
            return;
        }
        create = reinterpret_cast<CreateKorvoModuleFunction>(
            dlsym(handle, (std::string("CreateKorvoModule_") + moduleName).c_str()));
        destroy = reinterpret_cast<DeleteKorvoModuleFunction>(dlsym(handle, "DeleteKorvoModule"));
        add = reinterpret_cast<AddConnector>(dlsym(handle, "KorvoPeerAddConnector"));
        connect = reinterpret_cast<Link>(dlsym(handle, "KorvoPeerConnect"));
        drop = reinterpret_cast<DestroyConnector>(dlsym(handle, "KorvoPeerDestroyConnector"));
    }
    ~PeerLibrary() {
        if (handle) dlclose(handle);
    }
    bool Complete() const { return create && destroy && add && connect && drop; }

    void* handle = nullptr;
    CreateKorvoModuleFunction create = nullptr;
    DeleteKorvoModuleFunction destroy = nullptr;
    AddConnector add = nullptr;
    Link connect = nullptr;
    DestroyConnector drop = nullptr;
};

int32_t Notifications(KorvoModule* module) { return module->FindConnector(L"Notifications")->GetLong(); }

class CrossLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(longs.Complete());
        ASSERT_TRUE(texts.Complete());
        longModule = longs.create();
        textModule = texts.create();
        ASSERT_NE(longModule, nullptr);
        ASSERT_NE(textModule, nullptr);
        level = longModule->FindConnector(L"Level");
        text = textModule->FindConnector(L"Text");
        ASSERT_NE(level, nullptr);
        ASSERT_NE(text, nullptr);
    }
    void TearDown() override {
        if (textModule) texts.destroy(textModule);
        if (longModule) longs.destroy(longModule);
    }

    PeerLibrary longs{KORVO_LONG_PEER, "LongModule"};
    PeerLibrary texts{KORVO_TEXT_PEER, "TextModule"};
    KorvoModule* longModule = nullptr;
    KorvoModule* textModule = nullptr;
    KorvoConnector* level = nullptr;
    KorvoConnector* text = nullptr;
};

TEST_F(CrossLibrary, OnlyThePlugInExportsAreVisible) {
    EXPECT_EQ(dlsym(longs.handle, "CreateKorvoModule_TextModule"), nullptr);
    EXPECT_EQ(dlsym(texts.handle, "CreateKorvoModule_LongModule"), nullptr);
    // The framework copy of each library stays private to it.
    for (void* handle : {longs.handle, texts.handle}) {
        EXPECT_EQ(dlsym(handle, "_ZN14KorvoConnector7ConnectEPS_"), nullptr);
        EXPECT_EQ(dlsym(handle, "_ZN11KorvoModule13FindConnectorEPKw"), nullptr);
        EXPECT_EQ(dlsym(handle, "ArrayReallocate"), nullptr);
    }
    // Deleting nothing is allowed.
    longs.destroy(nullptr);
    texts.destroy(nullptr);
}

TEST_F(CrossLibrary, ValuesTravelBetweenLibraries) {
    level->SetLong(5, false);
    longs.connect(level, text);  // the group is made by the long library
    EXPECT_EQ(TextOf(text), L"5");
    EXPECT_EQ(Notifications(textModule), 1);
    EXPECT_EQ(Notifications(longModule), 0);

    text->SetText(L"12abc", false);
    EXPECT_EQ(level->GetLong(), 12);
    EXPECT_EQ(Notifications(longModule), 1);

    text->SetLong(7, false);  // reaches the long connector as a double
    EXPECT_EQ(level->GetLong(), 7);
    EXPECT_EQ(Notifications(longModule), 2);

    // A connector of this program joins through the text library's code.
    RecordingModule local;
    KorvoConnector* gain = local.Double(L"Gain");
    texts.connect(text, gain);
    EXPECT_EQ(gain->GetDouble(), 7.0);
    gain->SetDouble(2.5, false);
    EXPECT_EQ(level->GetLong(), 2);
    EXPECT_EQ(TextOf(text), L"2.500000");
    EXPECT_EQ(Notifications(longModule), 3);
    EXPECT_EQ(Notifications(textModule), 2);

    level->SetLong(2, true);  // forced: everyone else hears it again
    EXPECT_EQ(TextOf(text), L"2");
    EXPECT_EQ(Notifications(textModule), 3);
    EXPECT_EQ(local.calls.size(), 2u);  // the link and the forced set

    // The text module goes first: the long library's connector and the local
    // one stay linked.
    texts.destroy(textModule);
    textModule = nullptr;
    ASSERT_NE(level->Group(), nullptr);
    EXPECT_EQ(level->Group()->Count(), 2);
    gain->SetDouble(-3.9, false);
    EXPECT_EQ(level->GetLong(), -3);

    // Then the long module: the local connector is left alone, its group freed
    // by the long library.
    longs.destroy(longModule);
    longModule = nullptr;
    EXPECT_EQ(gain->Group(), nullptr);
}

TEST_F(CrossLibrary, GroupsGrowAndShrinkFromBothSides) {
    std::vector<KorvoConnector*> longExtras, textExtras;
    // 20 long connectors joined by the long library, 20 text connectors joined
    // by the text library: the group outgrows 32 and is moved by whichever
    // library adds the 33rd member.
    longs.connect(level, text);
    for (int i = 0; i < 20; ++i) {
        longExtras.push_back(longs.add(longModule, L"Extra"));
        longs.connect(longExtras.back(), text);
        textExtras.push_back(texts.add(textModule, L"Extra"));
        texts.connect(textExtras.back(), level);
    }
    LinkGroup* group = level->Group();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->Count(), 42);
    EXPECT_EQ(group->Capacity(), 64);
    for (KorvoConnector* m : longExtras) EXPECT_EQ(m->Group(), group);
    for (KorvoConnector* m : textExtras) EXPECT_EQ(m->Group(), group);

    int32_t longBefore = Notifications(longModule), textBefore = Notifications(textModule);
    text->SetText(L"9", true);
    for (KorvoConnector* m : longExtras) EXPECT_EQ(m->GetLong(), 9);
    for (KorvoConnector* m : textExtras) EXPECT_EQ(TextOf(m), L"9");
    EXPECT_EQ(Notifications(longModule) - longBefore, 21);  // Level and 20 extras
    EXPECT_EQ(Notifications(textModule) - textBefore, 20);  // the extras, not the source

    // Each library destroys its own connectors, alternately.
    for (int i = 0; i < 20; ++i) {
        texts.drop(textModule, textExtras[i]);
        if (i % 2 == 0) longs.drop(longModule, longExtras[i]);
    }
    EXPECT_EQ(level->Group(), group);
    EXPECT_EQ(group->Count(), 12);
    EXPECT_EQ(group->Capacity(), 64);  // storage only shrinks when emptied
    level->SetLong(4, false);
    EXPECT_EQ(TextOf(text), L"4");
    EXPECT_EQ(longExtras[1]->GetLong(), 4);
}

TEST_F(CrossLibrary, GroupsMadeByOneLibraryAreMergedAndFreedByAnother) {
    RecordingModule local;
    KorvoConnector* a = local.Long(L"A");
    KorvoConnector* b = local.Text(L"B");
    a->Connect(level);  // group made by this program
    texts.connect(text, b);  // group made by the text library
    a->SetLong(3, false);
    b->SetText(L"8", false);

    // The long library merges this program's group into the text library's one
    // and frees the program's group.
    longs.connect(level, text);
    LinkGroup* group = text->Group();
    for (KorvoConnector* m : {a, b, level, text}) EXPECT_EQ(m->Group(), group);
    EXPECT_EQ(group->Count(), 4);
    EXPECT_EQ(TextOf(text), L"3");
    EXPECT_EQ(TextOf(b), L"3");

    // The libraries leave first; the last member, a local one, frees the group
    // the text library made.
    texts.destroy(textModule);
    textModule = nullptr;
    longs.destroy(longModule);
    longModule = nullptr;
    EXPECT_EQ(a->Group(), b->Group());
    local.Destroy(b);
    EXPECT_EQ(a->Group(), nullptr);
}

}  // namespace
