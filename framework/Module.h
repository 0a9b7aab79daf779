#pragma once
// KorvoModule: the part of every module that the host knows. A module class
// derives from a platform class (a window) and from KorvoModule; the host only
// ever holds the KorvoModule part, and a connector's owner is that same pointer.

#include "Array.h"
#include "Connector.h"

class KorvoModule {
public:
    KorvoModule();
    // Deletes the connectors, last first, through their own destructors.
    virtual ~KorvoModule();
    // Called by the host once the whole project has loaded without error.
    virtual void Start();

    // First connector whose name equals name exactly, or null.
    KorvoConnector* FindConnector(const wchar_t* name);

    void* registryEntry = nullptr;  // set by the host; opaque to the module
    Array<KorvoConnector*> connectors;
};
