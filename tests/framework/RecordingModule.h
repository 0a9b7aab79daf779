#pragma once
// A module for tests: it makes connectors of every kind with itself as owner and
// records each handler call (which connector, and its text at that moment).
// KorvoModule sits behind another polymorphic base, as it does behind a window in
// the real modules, so every handler call also checks the adjustment from the
// KorvoModule part to the full object.

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "framework/Module.h"

struct WindowStandIn {
    virtual ~WindowStandIn() = default;
    char state[40] = {};
};

class RecordingModule : public WindowStandIn, public KorvoModule {
public:
    struct Call {
        KorvoConnector* connector;
        std::wstring text;
        bool operator==(const Call&) const = default;
    };

    std::vector<Call> calls;
    // Runs inside the handler after the call was recorded.
    std::function<void(KorvoConnector*)> onChange;

    void Changed(KorvoConnector* connector) {
        calls.push_back({connector, connector->GetText().Text()});
        if (onChange) onChange(connector);
    }

    template <typename Kind>
    Kind* Add(const wchar_t* name, uint32_t flags = 0) {
        auto* connector = new Kind(name, MakeHandler(&RecordingModule::Changed), flags, this);
        connectors.Add(connector);
        return connector;
    }
    KorvoLongConnector* Long(const wchar_t* name) { return Add<KorvoLongConnector>(name); }
    KorvoDoubleConnector* Double(const wchar_t* name) { return Add<KorvoDoubleConnector>(name); }
    KorvoTextConnector* Text(const wchar_t* name) { return Add<KorvoTextConnector>(name); }
    KorvoUserConnector* User(const wchar_t* name) { return Add<KorvoUserConnector>(name); }

    // Long connectors of the given names, each linked into the first one's group
    // in turn, so the group lists them in the order given.
    template <std::size_t N>
    std::array<KorvoConnector*, N> LinkedLongs(const wchar_t* const (&names)[N]) {
        std::array<KorvoConnector*, N> made{};
        for (std::size_t i = 0; i < N; ++i) {
            made[i] = Long(names[i]);
            if (i > 0) made[0]->Connect(made[i]);
        }
        return made;
    }

    // Deletes one connector, as a module does when it drops one.
    void Destroy(KorvoConnector* connector) {
        connectors.Remove(connector);
        delete connector;
    }

    int CallsFor(KorvoConnector* connector) const {
        int n = 0;
        for (const Call& call : calls) n += call.connector == connector;
        return n;
    }
};

inline std::wstring TextOf(KorvoConnector* connector) { return connector->GetText().Text(); }
