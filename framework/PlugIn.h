#pragma once
// The two exports through which a module library hands modules to the host:
//   CreateKorvoModule_<Name>()  makes one module of class <Name>, or returns null;
//   DeleteKorvoModule(module)   destroys a module that this library made.
// Both have C linkage and are looked up by name at run time.

#include <new>

#include "Module.h"

#define KORVO_EXPORT __attribute__((visibility("default")))

extern "C" {
using CreateKorvoModuleFunction = KorvoModule* (*)();
using DeleteKorvoModuleFunction = void (*)(KorvoModule*);
}

// Defines a library's DeleteKorvoModule: every library has exactly one.
#define KORVO_DEFINE_DELETE_MODULE                                      \
    extern "C" KORVO_EXPORT void DeleteKorvoModule(KorvoModule* module) { \
        delete module;                                                  \
    }

// Defines CreateKorvoModule_<Name> for a module class of the same name.
#define KORVO_DEFINE_CREATE_MODULE(Name)                                \
    extern "C" KORVO_EXPORT KorvoModule* CreateKorvoModule_##Name() {   \
        auto* module = new (std::nothrow) Name();                       \
        return module ? static_cast<KorvoModule*>(module) : nullptr;    \
    }
