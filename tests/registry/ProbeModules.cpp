// The probe plug-in: a module library like the real ones, whose modules record
// what happens to them (library load and unload, create, start, handler calls,
// delete) in the shared ProbeLog. Module classes Alpha and Beta carry the same
// three connectors: "Kept" (text, kept in the project), "Text" and "Number".
// The events name each module by class and serial, e.g. "start Alpha#3", and
// the library by its file name, e.g. "load libProbeModules.so".
// Built twice: libProbeModules.so and libProbeWithoutDelete.so.

#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "ProbeLog.h"
#include "framework/Conversion.h"
#include "framework/PlugIn.h"

namespace {

std::string OwnFileName() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnFileName), &info) == 0 || info.dli_fname == nullptr)
        return "?";
    std::string path = info.dli_fname;
    return path.substr(path.find_last_of('/') + 1);
}

__attribute__((constructor)) void Loaded() { ProbeLogAdd("load " + OwnFileName()); }
__attribute__((destructor)) void Unloaded() { ProbeLogAdd("unload " + OwnFileName()); }

}  // namespace

class ProbeModule : public KorvoModule {
public:
    explicit ProbeModule(const char* className) : label(Label(className)) {
        KorvoHandler changed = MakeHandler(&ProbeModule::Changed);
        connectors.Add(new KorvoTextConnector(L"Kept", changed,
                                              KorvoConnector::KindText | KorvoConnector::FlagPersistent, this));
        connectors.Add(new KorvoTextConnector(L"Text", changed, KorvoConnector::KindText, this));
        connectors.Add(new KorvoLongConnector(L"Number", changed, KorvoConnector::KindLong, this));
        ProbeLogAdd("create " + label);
    }
    ~ProbeModule() override { ProbeLogAdd("delete " + label); }

    void Start() override { ProbeLogAdd("start " + label); }

    void Changed(KorvoConnector* connector) {
        ProbeLogAdd("changed " + label + " " + connector->Name().ToUtf8() + "=" +
                    connector->GetText().ToUtf8());
    }

private:
    // Not std::to_string: its digit table is a unique symbol, and a library
    // holding one can never be unloaded, which the tests must observe.
    static std::string Label(const char* className) {
        char text[64];
        std::snprintf(text, sizeof text, "%s#%d", className, ProbeLogNextSerial());
        return text;
    }

    std::string label;
};

class Alpha : public ProbeModule {
public:
    Alpha() : ProbeModule("Alpha") {}
};

class Beta : public ProbeModule {
public:
    Beta() : ProbeModule("Beta") {}
};

KORVO_DEFINE_CREATE_MODULE(Alpha)
KORVO_DEFINE_CREATE_MODULE(Beta)

// A factory that makes nothing, as one does when memory runs out.
extern "C" KORVO_EXPORT KorvoModule* CreateKorvoModule_Nothing() {
    ProbeLogAdd("create nothing");
    return nullptr;
}
// The broken variant of the library lacks DeleteKorvoModule: the host must not
// make modules that it could never delete.
#ifndef PROBE_WITHOUT_DELETE
KORVO_DEFINE_DELETE_MODULE
#endif
