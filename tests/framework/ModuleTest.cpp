// KorvoModule: connector lookup, and what deleting a module does to its
// connectors and to the groups they were in.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RecordingModule.h"

namespace {

TEST(Module, StartsWithoutEntryOrConnectors) {
    RecordingModule module;
    EXPECT_EQ(module.registryEntry, nullptr);
    EXPECT_TRUE(module.connectors.IsEmpty());
    EXPECT_EQ(module.connectors.Capacity(), 32);
    module.Start();  // the base does nothing
}

TEST(Module, FindConnectorComparesNamesExactly) {
    RecordingModule module;
    KorvoConnector* send = module.Text(L"Send");
    KorvoConnector* receive = module.Text(L"Receive");
    KorvoConnector* status = module.Text(L"Status");
    KorvoConnector* reset = module.Long(L"Reset");
    KorvoConnector* second = module.Long(L"Status");  // a later duplicate is never found
    struct Case {
        const wchar_t* name;
        KorvoConnector* expected;
    };
    const Case cases[] = {
        {L"Send", send},     {L"Receive", receive}, {L"Status", status}, {L"Reset", reset},
        {L"status", nullptr}, {L"STATUS", nullptr}, {L"Status ", nullptr}, {L"Stat", nullptr},
        {L"", nullptr},      {nullptr, nullptr},
    };
    for (const Case& c : cases) EXPECT_EQ(module.FindConnector(c.name), c.expected) << (c.name ? c.name : L"(null)");
    EXPECT_NE(second, status);
}

// Records the order in which connectors are destroyed.
std::vector<std::wstring> destroyed;

class TracedConnector : public KorvoLongConnector {
public:
    using KorvoLongConnector::KorvoLongConnector;
    ~TracedConnector() override { destroyed.push_back(Name().Text()); }
};

TEST(Module, DeletesItsConnectorsLastFirst) {
    destroyed.clear();
    {
        RecordingModule module;
        for (const wchar_t* name : {L"A", L"B", L"C"})
            module.connectors.Add(new TracedConnector(name, nullptr, 0, &module));
    }
    EXPECT_EQ(destroyed, (std::vector<std::wstring>{L"C", L"B", L"A"}));
}

TEST(Module, DeletingAModuleUnlinksItsPeers) {
    // Alone with the peer: the peer ends up unlinked.
    {
        auto* device = new RecordingModule;
        RecordingModule window;
        KorvoConnector* send = device->Text(L"Send");
        KorvoConnector* peer = window.Text(L"Send");
        peer->Connect(send);
        KorvoModule* part = device;
        delete part;  // through the KorvoModule part, as the plug-in export does
        EXPECT_EQ(peer->Group(), nullptr);
        peer->SetText(L"0012d6871001", true);  // nothing left to reach
        EXPECT_TRUE(window.calls.empty());
    }
    // A module with two members in a group of four: the other two stay linked.
    {
        auto* device = new RecordingModule;
        RecordingModule window, script;
        KorvoConnector* a = window.Long(L"A");
        KorvoConnector* b = script.Long(L"B");
        a->Connect(device->Long(L"X"));
        a->Connect(device->Long(L"Y"));
        a->Connect(b);
        delete static_cast<KorvoModule*>(device);
        ASSERT_NE(a->Group(), nullptr);
        EXPECT_EQ(a->Group(), b->Group());
        EXPECT_EQ(a->Group()->Count(), 2);
        a->SetLong(8, false);
        EXPECT_EQ(b->GetLong(), 8);
        EXPECT_EQ(script.calls.size(), 1u);
    }
}

}  // namespace
