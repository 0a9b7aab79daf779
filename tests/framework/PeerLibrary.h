#pragma once
// The body of the two small plug-in libraries of the cross-library test. Each
// library links its own hidden copy of the framework, makes one module class
// with one value connector of its kind, and exports, besides the two plug-in
// entry points, three operations that run the framework code of this library:
// adding a connector to its module, linking two connectors, and destroying one
// of its module's connectors. Every handler call of a module is counted in its
// unlinked connector "Notifications", so the test can read it from outside.

#include "framework/PlugIn.h"

struct WindowStandIn {
    virtual ~WindowStandIn() = default;
    char state[24] = {};
};

template <typename Kind>
class PeerModule : public WindowStandIn, public KorvoModule {
public:
    explicit PeerModule(const wchar_t* name) {
        notifications = new KorvoLongConnector(L"Notifications", nullptr, 0, this);
        connectors.Add(notifications);
        AddPeer(name);
    }

    KorvoConnector* AddPeer(const wchar_t* name) {
        auto* connector = new Kind(name, MakeHandler(&PeerModule::Changed), 0, this);
        connectors.Add(connector);
        return connector;
    }

private:
    void Changed(KorvoConnector*) { notifications->StoreLong(notifications->GetLong() + 1); }

    KorvoConnector* notifications;
};

#define KORVO_DEFINE_PEER_EXPORTS(ModuleClass)                                                   \
    KORVO_DEFINE_CREATE_MODULE(ModuleClass)                                                      \
    KORVO_DEFINE_DELETE_MODULE                                                                   \
    extern "C" KORVO_EXPORT KorvoConnector* KorvoPeerAddConnector(KorvoModule* module,            \
                                                                  const wchar_t* name) {         \
        return static_cast<ModuleClass*>(module)->AddPeer(name);                                 \
    }                                                                                            \
    extern "C" KORVO_EXPORT void KorvoPeerConnect(KorvoConnector* a, KorvoConnector* b) {         \
        a->Connect(b);                                                                           \
    }                                                                                            \
    extern "C" KORVO_EXPORT void KorvoPeerDestroyConnector(KorvoModule* module,                   \
                                                           KorvoConnector* connector) {          \
        module->connectors.Remove(connector);                                                    \
        delete connector;                                                                        \
    }
