// Connectors: reading and setting each kind, forced and unforced sets, the three
// propagation rules, Connect and its merge order, destruction inside groups, the
// user connector, and propagation that handlers change while it runs.

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FailingAllocator.h"
#include "RecordingModule.h"

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
using Call = RecordingModule::Call;
using frameworktest::FailingAllocator;

// Creates a connector of the named kind in module.
KorvoConnector* Make(RecordingModule& module, char kind, const wchar_t* name) {
    switch (kind) {
        case 'L': return module.Long(name);
        case 'D': return module.Double(name);
        case 'T': return module.Text(name);
        default: return module.User(name);
    }
}

TEST(Connector, StartsEmptyAndCarriesItsKindInTheFlags) {
    RecordingModule module;
    struct Case {
        char kind;
        uint32_t code;
        const wchar_t* text;
    };
    const Case cases[] = {{'L', 1, L"0"}, {'D', 2, L"0.000000"}, {'T', 3, L""}, {'U', 4, L""}};
    for (const Case& c : cases) {
        KorvoConnector* connector = Make(module, c.kind, L"X");
        EXPECT_EQ(connector->GetFlags(), c.code) << c.kind;
        EXPECT_EQ(connector->Kind(), c.code);
        EXPECT_EQ(connector->GetLong(), 0);
        EXPECT_EQ(connector->GetDouble(), 0.0);
        EXPECT_EQ(TextOf(connector), c.text);
        EXPECT_EQ(connector->GetUserValue(), 0);
        EXPECT_EQ(connector->Group(), nullptr);
        EXPECT_EQ(connector->Owner(), static_cast<KorvoModule*>(&module));
    }
    // Given flags are kept beside the kind code, uninterpreted ones too.
    auto* kept = module.Add<KorvoTextConnector>(L"Script", KorvoConnector::FlagPersistent | 0x4000);
    EXPECT_EQ(kept->GetFlags(), 0x4103u);
    EXPECT_EQ(kept->Kind(), 3u);
}

// One set on an unlinked connector: what each kind stores and reads back.
TEST(Connector, SetConvertsToTheConnectorsOwnKind) {
    struct Case {
        char kind;
        std::function<void(KorvoConnector*)> set;
        const wchar_t* text;
        int32_t asLong;
        double asDouble;
    };
    const Case cases[] = {
        {'L', [](KorvoConnector* c) { c->SetDouble(2.9, false); }, L"2", 2, 2.0},
        {'L', [](KorvoConnector* c) { c->SetDouble(-2.9, false); }, L"-2", -2, -2.0},
        {'L', [](KorvoConnector* c) { c->SetDouble(3.0e10, false); }, L"-2147483648", INT32_MIN, -2147483648.0},
        {'L', [](KorvoConnector* c) { c->SetDouble(NaN, false); }, L"-2147483648", INT32_MIN, -2147483648.0},
        {'L', [](KorvoConnector* c) { c->SetText(L"12abc", false); }, L"12", 12, 12.0},
        {'L', [](KorvoConnector* c) { c->SetText(L"99999999999", false); }, L"2147483647", INT32_MAX, 2147483647.0},
        {'D', [](KorvoConnector* c) { c->SetLong(7, false); }, L"7.000000", 7, 7.0},
        {'D', [](KorvoConnector* c) { c->SetText(L" -1.5e1x", false); }, L"-15.000000", -15, -15.0},
        {'D', [](KorvoConnector* c) { c->SetDouble(-2.75, false); }, L"-2.750000", -2, -2.75},
        {'T', [](KorvoConnector* c) { c->SetLong(7, false); }, L"7", 7, 7.0},
        {'T', [](KorvoConnector* c) { c->SetDouble(0.5, false); }, L"0.500000", 0, 0.5},
        {'T', [](KorvoConnector* c) { c->SetText(L"12abc", false); }, L"12abc", 12, 12.0},
        {'T', [](KorvoConnector* c) { c->SetText(nullptr, false); }, L"", 0, 0.0},
        {'U', [](KorvoConnector* c) { c->SetLong(7, true); }, L"", 0, 0.0},
        {'U', [](KorvoConnector* c) { c->SetDouble(7.5, true); }, L"", 0, 0.0},
        {'U', [](KorvoConnector* c) { c->SetText(L"7", true); }, L"", 0, 0.0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        RecordingModule module;
        KorvoConnector* connector = Make(module, c.kind, L"X");
        c.set(connector);
        EXPECT_EQ(TextOf(connector), c.text) << "case " << i;
        EXPECT_EQ(connector->GetLong(), c.asLong) << "case " << i;
        EXPECT_EQ(connector->GetDouble(), c.asDouble) << "case " << i;
        EXPECT_TRUE(module.calls.empty()) << "a connector's own set never calls its handler";
    }
}

// A text set to a number it already reads as keeps its own text.
TEST(Connector, TextSetToTheNumberItAlreadyHoldsKeepsItsText) {
    RecordingModule module;
    KorvoConnector* text = module.Text(L"T");
    text->SetText(L"7abc", false);
    text->SetLong(7, false);
    EXPECT_EQ(TextOf(text), L"7abc");
    text->SetDouble(7.0, false);
    EXPECT_EQ(TextOf(text), L"7abc");
    text->SetLong(8, false);
    EXPECT_EQ(TextOf(text), L"8");
}

// Store operations never propagate and never call a handler.
TEST(Connector, StoreOnlyStores) {
    RecordingModule module;
    KorvoConnector* a = module.Long(L"A");
    KorvoConnector* b = module.Text(L"B");
    a->Connect(b);
    module.calls.clear();
    a->StoreLong(4);
    a->StoreDouble(5.9);
    b->StoreText(L"x");
    b->StoreDouble(0.25);
    EXPECT_EQ(a->GetLong(), 5);
    EXPECT_EQ(TextOf(b), L"0.250000");
    EXPECT_TRUE(module.calls.empty());
}

// For each source kind: an unforced set to the value held does nothing at all; a
// forced one stores into and notifies every other member; a changed value always
// travels. The peer is first given a different value by Store, so that "nothing
// stored" can be seen.
TEST(Connector, ForcedSetsReachPeersEvenWhenUnchanged) {
    struct Case {
        char kind;
        std::function<void(KorvoConnector*, bool)> setSame;
        std::function<void(KorvoConnector*)> setOther;
        const wchar_t* peerAfterForced;
        const wchar_t* peerAfterChange;
    };
    const Case cases[] = {
        {'L', [](KorvoConnector* c, bool f) { c->SetLong(3, f); }, [](KorvoConnector* c) { c->SetLong(4, false); },
         L"3", L"4"},
        {'D', [](KorvoConnector* c, bool f) { c->SetDouble(3, f); }, [](KorvoConnector* c) { c->SetDouble(4, false); },
         L"3.000000", L"4.000000"},
        {'T', [](KorvoConnector* c, bool f) { c->SetText(L"3", f); }, [](KorvoConnector* c) { c->SetText(L"4", false); },
         L"3", L"4"},
        // A text set as a number compares its parsed value and passes a double on.
        {'T', [](KorvoConnector* c, bool f) { c->SetLong(3, f); }, [](KorvoConnector* c) { c->SetLong(4, false); },
         L"3.000000", L"4.000000"},
        {'T', [](KorvoConnector* c, bool f) { c->SetDouble(3, f); }, [](KorvoConnector* c) { c->SetDouble(4, false); },
         L"3.000000", L"4.000000"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        RecordingModule module;
        KorvoConnector* source = Make(module, c.kind, L"Source");
        KorvoConnector* peer = module.Text(L"Peer");
        KorvoConnector* third = module.Long(L"Third");
        source->Connect(peer);
        source->Connect(third);
        c.setSame(source, false);
        peer->StoreText(L"other");
        module.calls.clear();

        c.setSame(source, false);
        EXPECT_EQ(TextOf(peer), L"other") << "case " << i;
        EXPECT_TRUE(module.calls.empty()) << "case " << i;

        c.setSame(source, true);
        EXPECT_EQ(TextOf(peer), c.peerAfterForced) << "case " << i;
        EXPECT_EQ(third->GetLong(), 3) << "case " << i;
        EXPECT_EQ(module.calls, (std::vector<Call>{{peer, c.peerAfterForced}, {third, L"3"}})) << "case " << i;

        module.calls.clear();
        c.setOther(source);
        EXPECT_EQ(TextOf(peer), c.peerAfterChange) << "case " << i;
        EXPECT_EQ(module.calls.size(), 2u) << "case " << i;
        EXPECT_EQ(module.CallsFor(source), 0) << "case " << i;
    }
}

// A text connector set through SetLong or SetDouble reaches its peers as a double.
TEST(Connector, TextSetAsANumberReachesPeersAsADouble) {
    RecordingModule module;
    KorvoConnector* source = module.Text(L"Source");
    KorvoConnector* text = module.Text(L"Text");
    KorvoConnector* number = module.Long(L"Long");
    source->Connect(text);
    source->Connect(number);

    source->SetLong(7, false);
    EXPECT_EQ(TextOf(source), L"7");
    EXPECT_EQ(TextOf(text), L"7.000000");
    EXPECT_EQ(number->GetLong(), 7);

    source->SetDouble(2.5, false);
    EXPECT_EQ(TextOf(text), L"2.500000");
    EXPECT_EQ(number->GetLong(), 2);

    // Set as text, the text itself travels.
    source->SetText(L"7", false);
    EXPECT_EQ(TextOf(text), L"7");
}

TEST(Connector, ConnectPushesTheFirstConnectorsValue) {
    // Long 5 to an empty text: the text becomes 5 and only its handler runs.
    {
        RecordingModule module;
        KorvoConnector* number = module.Long(L"Long");
        KorvoConnector* text = module.Text(L"Text");
        number->SetLong(5, false);
        number->Connect(text);
        EXPECT_EQ(TextOf(text), L"5");
        EXPECT_EQ(module.calls, (std::vector<Call>{{text, L"5"}}));

        // Once linked, text 12abc gives the long 12 and calls its handler once.
        module.calls.clear();
        text->SetText(L"12abc", false);
        EXPECT_EQ(number->GetLong(), 12);
        EXPECT_EQ(module.calls, (std::vector<Call>{{number, L"12"}}));
    }
    // The opposite direction: the empty text wins and the long becomes 0.
    {
        RecordingModule module;
        KorvoConnector* number = module.Long(L"Long");
        KorvoConnector* text = module.Text(L"Text");
        number->SetLong(5, false);
        text->Connect(number);
        EXPECT_EQ(number->GetLong(), 0);
        EXPECT_EQ(module.calls, (std::vector<Call>{{number, L"0"}}));
        EXPECT_EQ(number->Group(), text->Group());
        ASSERT_NE(text->Group(), nullptr);
        EXPECT_EQ(text->Group()->Count(), 2);
        EXPECT_EQ((*text->Group())[0], text);
    }
}

// Merging [A, B] and [C, D]: the members of the calling connector's group are
// appended to the other group, which survives; the caller's value goes to every
// member that differs.
TEST(Connector, ConnectMergesTheCallersGroupIntoTheOther) {
    struct Case {
        bool callerIsC;  // C.Connect(A), else A.Connect(C)
        std::vector<const wchar_t*> order;
        std::vector<const wchar_t*> notified;
        int32_t value;
    };
    const Case cases[] = {
        {true, {L"A", L"B", L"C", L"D"}, {L"A", L"B"}, 2},
        {false, {L"C", L"D", L"A", L"B"}, {L"C", L"D"}, 1},
    };
    for (const Case& c : cases) {
        RecordingModule module;
        KorvoConnector* a = module.Long(L"A");
        KorvoConnector* b = module.Long(L"B");
        KorvoConnector* cc = module.Long(L"C");
        KorvoConnector* d = module.Long(L"D");
        a->SetLong(1, false);
        a->Connect(b);
        cc->SetLong(2, false);
        cc->Connect(d);
        LinkGroup* survivor = c.callerIsC ? a->Group() : cc->Group();
        module.calls.clear();

        if (c.callerIsC)
            cc->Connect(a);
        else
            a->Connect(cc);

        ASSERT_EQ(a->Group(), survivor);
        for (KorvoConnector* m : {a, b, cc, d}) {
            EXPECT_EQ(m->Group(), survivor);
            EXPECT_EQ(m->GetLong(), c.value);
        }
        ASSERT_EQ(survivor->Count(), 4);
        for (int i = 0; i < 4; ++i) EXPECT_EQ((*survivor)[i]->Name(), c.order[i]) << "position " << i;
        ASSERT_EQ(module.calls.size(), c.notified.size());
        for (std::size_t i = 0; i < c.notified.size(); ++i) EXPECT_EQ(module.calls[i].connector->Name(), c.notified[i]);
    }
}

TEST(Connector, ConnectWithinOneGroupOnlyPushesDifferences) {
    RecordingModule module;
    auto [a, b, c] = module.LinkedLongs({L"A", L"B", L"C"});
    LinkGroup* group = a->Group();
    a->SetLong(4, false);
    module.calls.clear();

    b->Connect(c);
    EXPECT_TRUE(module.calls.empty());
    c->StoreLong(9);
    a->Connect(c);
    EXPECT_EQ(a->Group(), group);
    EXPECT_EQ(group->Count(), 3);
    EXPECT_EQ(module.calls, (std::vector<Call>{{c, L"4"}}));
}

TEST(Connector, SelfConnectAndNullConnect) {
    RecordingModule module;
    KorvoConnector* a = module.Long(L"A");
    a->SetLong(3, false);
    a->Connect(nullptr);
    EXPECT_EQ(a->Group(), nullptr);

    // A connector linked to itself forms a group of one and tells nobody.
    a->Connect(a);
    ASSERT_NE(a->Group(), nullptr);
    EXPECT_EQ(a->Group()->Count(), 1);
    EXPECT_TRUE(module.calls.empty());
    a->SetLong(4, true);
    EXPECT_TRUE(module.calls.empty());

    // It joins others like any grouped connector.
    KorvoConnector* b = module.Long(L"B");
    b->Connect(a);
    EXPECT_EQ(b->Group(), a->Group());
    EXPECT_EQ(a->Group()->Count(), 2);
    EXPECT_EQ(a->GetLong(), 0);
    // The module deletes both; the sanitizer build checks that the group is freed.
}

TEST(Connector, SelfConnectedConnectorFreesItsGroupWhenDestroyed) {
    RecordingModule module;
    KorvoConnector* a = module.Long(L"A");
    a->Connect(a);
    module.Destroy(a);  // LeakSanitizer reports the group if it stays
    EXPECT_TRUE(module.connectors.IsEmpty());
}

// Destroying one member: the rest keep their order; a group of one dissolves.
TEST(Connector, DestroyingAMemberShrinksOrDissolvesTheGroup) {
    struct Case {
        int members;
        int destroyed;
        std::vector<const wchar_t*> left;  // empty: the survivor is unlinked
    };
    const Case cases[] = {
        {2, 1, {}},
        {2, 0, {}},
        {3, 1, {L"A", L"C"}},
        {3, 0, {L"B", L"C"}},
        {4, 3, {L"A", L"B", L"C"}},
    };
    const wchar_t* names[] = {L"A", L"B", L"C", L"D"};
    for (const Case& c : cases) {
        RecordingModule module;
        std::vector<KorvoConnector*> members;
        for (int i = 0; i < c.members; ++i) members.push_back(module.Long(names[i]));
        for (int i = 1; i < c.members; ++i) members[0]->Connect(members[i]);
        module.Destroy(members[c.destroyed]);
        members.erase(members.begin() + c.destroyed);

        if (c.left.empty()) {
            ASSERT_EQ(members.size(), 1u);
            EXPECT_EQ(members[0]->Group(), nullptr);
            continue;
        }
        LinkGroup* group = members[0]->Group();
        ASSERT_NE(group, nullptr);
        ASSERT_EQ(group->Count(), static_cast<int>(c.left.size()));
        for (std::size_t i = 0; i < c.left.size(); ++i) EXPECT_EQ((*group)[i]->Name(), c.left[i]);
        // The group still carries values between the survivors.
        module.calls.clear();
        members.front()->SetLong(6, false);
        EXPECT_EQ(members.back()->GetLong(), 6);
        EXPECT_EQ(module.calls.size(), c.left.size() - 1);
    }
}

TEST(Connector, UserConnectorIgnoresWritesButIsNotified) {
    RecordingModule module;
    KorvoConnector* user = module.User(L"User");
    KorvoConnector* number = module.Long(L"Long");
    number->SetLong(5, false);
    number->Connect(user);
    EXPECT_EQ(module.calls, (std::vector<Call>{{user, L""}}));  // 0 differs from 5

    module.calls.clear();
    number->SetLong(6, false);
    EXPECT_EQ(module.calls, (std::vector<Call>{{user, L""}}));
    EXPECT_EQ(user->GetLong(), 0);
    EXPECT_EQ(user->GetDouble(), 0.0);
    EXPECT_EQ(TextOf(user), L"");

    // Its own writes neither store nor reach the peer; Propagate does nothing.
    module.calls.clear();
    user->SetLong(9, true);
    user->SetDouble(9.5, true);
    user->SetText(L"9", true);
    user->SetUserValue(9, true);
    user->StoreLong(9);
    user->Propagate();
    EXPECT_EQ(number->GetLong(), 6);
    EXPECT_EQ(user->GetLong(), 0);
    EXPECT_TRUE(module.calls.empty());
}

TEST(Connector, NotANumberNeverEqualsAndSoAlwaysTravels) {
    RecordingModule module;
    KorvoConnector* source = module.Double(L"Source");
    KorvoConnector* peer = module.Double(L"Peer");
    KorvoConnector* number = module.Long(L"Long");
    source->Connect(peer);
    source->Connect(number);

    source->SetDouble(NaN, false);
    EXPECT_TRUE(std::isnan(peer->GetDouble()));
    EXPECT_EQ(number->GetLong(), INT32_MIN);
    EXPECT_EQ(module.calls.size(), 2u);

    // Every Propagate and every unforced set of NaN notifies everyone again.
    for (int round = 1; round <= 2; ++round) source->Propagate();
    source->SetDouble(NaN, false);
    EXPECT_EQ(module.CallsFor(peer), 4);
    EXPECT_EQ(module.CallsFor(number), 4);

    // A member holding NaN is overwritten by any double source's Propagate.
    source->StoreDouble(1.5);
    module.calls.clear();
    source->Propagate();
    EXPECT_EQ(peer->GetDouble(), 1.5);
    EXPECT_EQ(number->GetLong(), 1);
    EXPECT_EQ(module.calls.size(), 2u);

    // 0.0 and -0.0 are equal: nothing to pass on.
    source->StoreDouble(0.0);
    peer->StoreDouble(-0.0);
    number->StoreLong(0);
    module.calls.clear();
    source->Propagate();
    EXPECT_TRUE(module.calls.empty());
    EXPECT_TRUE(std::signbit(peer->GetDouble()));
}

TEST(Connector, HandlerRunsOnTheFullModule) {
    // Handlers are called on the full module although the owner is the
    // KorvoModule part at an offset: the recorded calls land in the right object.
    RecordingModule first, second;
    KorvoConnector* a = first.Long(L"A");
    KorvoConnector* b = second.Long(L"B");
    ASSERT_NE(static_cast<void*>(static_cast<KorvoModule*>(&second)), static_cast<void*>(&second));
    a->Connect(b);
    a->SetLong(1, false);
    EXPECT_TRUE(first.calls.empty());
    EXPECT_EQ(second.calls, (std::vector<Call>{{b, L"1"}}));
}

// Classes derived from the plain kinds keep their own Store operations, also on
// the fast path that long and double groups take for plain members.
template <typename Plain>
class Counting : public Plain {
public:
    using Plain::Plain;
    void StoreLong(int32_t v) override {
        ++stores;
        Plain::StoreLong(v + 1000);
    }
    void StoreDouble(double x) override {
        ++stores;
        Plain::StoreDouble(x + 1000);
    }
    int stores = 0;
};

TEST(Connector, PropagationUsesEachMembersOwnStoreOperation) {
    for (bool doubleSource : {false, true}) {
        RecordingModule module;
        auto* derivedLong = new Counting<KorvoLongConnector>(L"L", nullptr, 0, &module);
        auto* derivedDouble = new Counting<KorvoDoubleConnector>(L"D", nullptr, 0, &module);
        module.connectors.Add(derivedLong);
        module.connectors.Add(derivedDouble);
        KorvoConnector* source = doubleSource ? static_cast<KorvoConnector*>(module.Double(L"Source"))
                                              : static_cast<KorvoConnector*>(module.Long(L"Source"));
        source->Connect(derivedLong);
        source->Connect(derivedDouble);
        derivedLong->stores = derivedDouble->stores = 0;
        source->SetLong(5, true);
        EXPECT_EQ(derivedLong->stores, 1) << doubleSource;
        EXPECT_EQ(derivedLong->GetLong(), 1005) << doubleSource;
        EXPECT_EQ(derivedDouble->stores, 1) << doubleSource;
        EXPECT_EQ(derivedDouble->GetDouble(), 1005.0) << doubleSource;
    }
}

// ---------------------------------------------------------------------------
// Handlers that change the network while a propagation runs.

// A handler that sets its own connector starts a nested pass; the outer pass
// then goes on with the value it read at its start.
TEST(Propagation, NestedSetRunsInsideTheOuterPass) {
    RecordingModule module;
    auto [a, b, c] = module.LinkedLongs({L"A", L"B", L"C"});
    module.onChange = [&](KorvoConnector* changed) {
        if (changed == b && b->GetLong() == 1) b->SetLong(101, false);
    };
    a->SetLong(1, false);
    EXPECT_EQ(module.calls, (std::vector<Call>{{b, L"1"}, {a, L"101"}, {c, L"101"}, {c, L"1"}}));
    EXPECT_EQ(a->GetLong(), 101);
    EXPECT_EQ(b->GetLong(), 101);
    EXPECT_EQ(c->GetLong(), 1);
}

// A member that joins during the pass is reached by it, since the member count
// is read afresh at every step.
TEST(Propagation, MemberAddedByAHandlerIsReachedByTheOuterPass) {
    RecordingModule module;
    auto [a, b, c] = module.LinkedLongs({L"A", L"B", L"C"});
    KorvoConnector* late = module.Long(L"Late");
    module.onChange = [&](KorvoConnector* changed) {
        if (changed == b && late->Group() == nullptr) b->Connect(late);
    };
    a->SetLong(1, false);
    // B's link pushes B's value to whoever still differs (C, Late), then the
    // outer pass stores into C and into Late, which it now finds at the end.
    EXPECT_EQ(module.calls,
              (std::vector<Call>{{b, L"1"}, {c, L"1"}, {late, L"1"}, {c, L"1"}, {late, L"1"}}));
}

// A handler merges the running source's group into another one, which frees the
// group the pass started on. The pass must follow the source to its new group.
TEST(Propagation, MergeThatFreesTheRunningGroupIsFollowed) {
    RecordingModule module;
    auto [a, b] = module.LinkedLongs({L"A", L"B"});
    auto [x, y] = module.LinkedLongs({L"X", L"Y"});
    LinkGroup* kept = x->Group();
    bool merged = false;
    module.onChange = [&](KorvoConnector* changed) {
        if (changed == b && !merged) {
            merged = true;
            b->Connect(x);  // b's group [A, B] goes into [X, Y] and is freed
        }
    };
    a->SetLong(5, false);
    EXPECT_EQ(a->Group(), kept);
    EXPECT_EQ(kept->Count(), 4);
    // B, then the nested pass from B to X and Y, then the outer pass resumes in
    // [X, Y, A, B] at position 2 (A itself) and reaches B once more.
    EXPECT_EQ(module.calls, (std::vector<Call>{{b, L"5"}, {x, L"5"}, {y, L"5"}, {b, L"5"}}));
}

// A handler grows the running group past its capacity, which moves its storage.
TEST(Propagation, GroupStorageMovedByAHandlerIsReadAfresh) {
    for (char kind : {'L', 'D', 'T'}) {
        RecordingModule module;
        KorvoConnector* source = Make(module, kind, L"Source");
        std::vector<KorvoConnector*> members;
        for (int i = 0; i < 31; ++i) {
            members.push_back(module.Long(L"M"));
            source->Connect(members.back());
        }
        ASSERT_EQ(source->Group()->Capacity(), 32);
        KorvoConnector* x = module.Long(L"X");
        KorvoConnector* y = module.Long(L"Y");
        x->Connect(y);
        x->SetLong(3, false);  // so that the link itself changes nothing
        bool merged = false;
        module.onChange = [&](KorvoConnector* changed) {
            if (changed == members[0] && !merged) {
                merged = true;
                x->Connect(members[0]);  // [X, Y] joins the running group
            }
        };
        module.calls.clear();
        source->SetText(L"3", false);
        EXPECT_EQ(source->Group()->Count(), 34) << kind;
        EXPECT_EQ(source->Group()->Capacity(), 64) << kind;
        for (KorvoConnector* m : members) EXPECT_EQ(m->GetLong(), 3) << kind;
        EXPECT_EQ(x->GetLong(), 3) << kind;
        EXPECT_EQ(y->GetLong(), 3) << kind;
    }
}

// A handler destroys other members, or its own connector, during the pass.
TEST(Propagation, MembersDestroyedByAHandlerAreSkipped) {
    {
        RecordingModule module;
        auto [a, b, c, d] = module.LinkedLongs({L"A", L"B", L"C", L"D"});
        module.onChange = [&](KorvoConnector* changed) {
            if (changed == b && c != nullptr) {
                module.Destroy(c);
                c = nullptr;
            }
        };
        module.calls.clear();
        a->SetLong(2, false);
        EXPECT_EQ(module.calls, (std::vector<Call>{{b, L"2"}, {d, L"2"}}));
        EXPECT_EQ(a->Group()->Count(), 3);
    }
    {
        // The last peer leaves from its own handler: the group dissolves and the
        // pass ends.
        RecordingModule module;
        auto [a, b] = module.LinkedLongs({L"A", L"B"});
        module.onChange = [&](KorvoConnector* changed) { module.Destroy(changed); };
        a->SetLong(2, false);
        EXPECT_EQ(module.calls.size(), 1u);
        EXPECT_EQ(a->Group(), nullptr);
    }
}

// ---------------------------------------------------------------------------
// Running out of memory while linking.

TEST(Connector, FailedLinkLeavesEveryGroupWhole) {
    RecordingModule module;
    // Two groups that need more than 32 places together.
    std::vector<KorvoConnector*> first, second;
    for (int i = 0; i < 20; ++i) first.push_back(module.Long(L"F"));
    for (int i = 0; i < 20; ++i) second.push_back(module.Long(L"S"));
    for (int i = 1; i < 20; ++i) {
        first[0]->Connect(first[i]);
        second[0]->Connect(second[i]);
    }
    LinkGroup* firstGroup = first[0]->Group();
    LinkGroup* secondGroup = second[0]->Group();
    {
        FailingAllocator failing(0);
        EXPECT_THROW(first[5]->Connect(second[5]), LinkGroup::exception);
        // A new group cannot be made either.
        KorvoConnector* loose = module.Long(L"Loose");
        KorvoConnector* other = module.Long(L"Other");
        EXPECT_THROW(loose->Connect(other), LinkGroup::exception);
        EXPECT_EQ(loose->Group(), nullptr);
        EXPECT_EQ(other->Group(), nullptr);
    }
    EXPECT_EQ(firstGroup->Count(), 20);
    EXPECT_EQ(secondGroup->Count(), 20);
    for (KorvoConnector* m : first) EXPECT_EQ(m->Group(), firstGroup);
    for (KorvoConnector* m : second) EXPECT_EQ(m->Group(), secondGroup);

    // The same link succeeds once memory is back.
    first[5]->Connect(second[5]);
    EXPECT_EQ(secondGroup->Count(), 40);
    EXPECT_EQ(secondGroup->Capacity(), 64);
    for (KorvoConnector* m : first) EXPECT_EQ(m->Group(), secondGroup);
    // Destroying everything must not touch a group twice (sanitizer build).
}

TEST(Connector, FailedLinkExceptionHasTheValueZero) {
    RecordingModule module;
    std::vector<KorvoConnector*> members;
    for (int i = 0; i < 32; ++i) {
        members.push_back(module.Long(L"M"));
        if (i > 0) members[0]->Connect(members[i]);
    }
    KorvoConnector* extra = module.Long(L"Extra");
    FailingAllocator failing(0);
    try {
        members[0]->Connect(extra);
        FAIL() << "no exception";
    } catch (LinkGroup::exception e) {
        EXPECT_EQ(static_cast<int>(e), 0);
    }
    EXPECT_EQ(extra->Group(), nullptr);
    EXPECT_EQ(members[0]->Group()->Count(), 32);
}

}  // namespace
