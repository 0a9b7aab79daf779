#include "Module.h"

#include <cwchar>

KorvoModule::KorvoModule() = default;

KorvoModule::~KorvoModule() {
    while (!connectors.IsEmpty()) {
        int last = connectors.Count() - 1;
        delete connectors[last];
        connectors.RemoveAt(last);
    }
}

void KorvoModule::Start() {}

KorvoConnector* KorvoModule::FindConnector(const wchar_t* name) {
    if (name == nullptr) return nullptr;
    for (KorvoConnector* connector : connectors)
        if (connector->Name() == name) return connector;
    return nullptr;
}
