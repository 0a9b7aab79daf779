#pragma once
// The project: which modules make up the running system, the values their
// connectors start with, and which connectors are linked.
//
// How a project loads. LoadProject reads the file as a document of the host's
// XML dialect under the root "korvo" (class "0", version "1.0") and walks its
// elements in document order. A "module" element asks the registry for a
// module of its class; any other element with a class attribute becomes a
// tree item without module. Every such classed element below the root gets
// the next index (counted when it is reached, before its children), and
// "connection" elements name modules by those indexes: module1/connector1 is
// linked to module2/connector2, pushing connector1's value at once, so handlers
// run while the project is still loading. A "connector" element restores a
// value kept in the project into its module's connector (without propagation
// and without handler calls), adding the connector first when the module
// lacks it. Only when the whole file was walked without error does every
// module get Start, in creation order; after an error the modules made so far
// stay, linked as far as the walk got, and are never started.
//
// The tree owns the modules: destroying an item destroys its children, last
// first, then hands its module back to the DeleteKorvoModule of the library
// that made it. The tree must go before the registry unloads the libraries.

#include <functional>

#include "framework/Array.h"
#include "framework/Module.h"
#include "framework/String.h"

class KorvoModuleRegistry;
class KorvoXmlTreeItem;

// One classed element of the loaded project.
struct KorvoModuleTreeItem {
    KorvoModuleTreeItem(const String& name, const String& className, KorvoModule* module,
                        KorvoModuleTreeItem* parent);
    // Children last first, then the module through its library.
    ~KorvoModuleTreeItem();
    KorvoModuleTreeItem(const KorvoModuleTreeItem&) = delete;
    KorvoModuleTreeItem& operator=(const KorvoModuleTreeItem&) = delete;

    String name;                            // element name, e.g. module
    String className;                       // the element's class attribute
    KorvoModule* module = nullptr;          // only for module elements
    KorvoModuleTreeItem* parent = nullptr;  // null for the root
    Array<KorvoModuleTreeItem*> children;   // owned, in document order
};

class KorvoProject {
public:
    // registry: where modules come from (null makes every walk fail with 3).
    // projectPath: the host's record of the project file last loaded; may be null.
    KorvoProject(KorvoModuleRegistry* registry, String* projectPath);
    // Destroys the tree (and so every module).
    ~KorvoProject();
    KorvoProject(const KorvoProject&) = delete;
    KorvoProject& operator=(const KorvoProject&) = delete;

    // Replaces the current project with the one in fileName. True when the
    // file was read as a project document, even if the walk then stopped with
    // an error (its modules stay, unstarted); false when it could not be read
    // or its root does not match.
    bool LoadProject(const wchar_t* fileName);
    // The result of the last walk: 0, or the error that stopped it (also 0
    // when the last file could not be read at all).
    int WalkResult() const { return walkResult; }
    // Deletes the tree and its modules; the project has no root afterwards.
    void DestroyTree();

    String rootName = L"korvo";
    String rootClass = L"0";
    String rootVersion = L"1.0";
    KorvoModuleTreeItem* root = nullptr;  // owns every item and, through them, the modules
    KorvoModuleRegistry* registry;
    // When set, a module element whose library or exports are missing stops
    // the walk with 3, as an unknown class does; otherwise it becomes an item
    // without module. The host sets it for a project the user named.
    bool requireModules = false;
    // Asked once the whole file was walked without error, before any module
    // starts (modules holds them): false starts none and makes the walk's
    // result 4 (refused). The host asks here whether the user trusts the
    // project's page (ProjectTrust.h).
    std::function<bool()> beforeStart;
    // While a project loads: the module of every classed element below the
    // root, in document order (null for elements without module).
    Array<KorvoModule*> modules;

private:
    int Walk(KorvoXmlTreeItem* element, KorvoModuleTreeItem* parent);
    void RestoreConnector(KorvoXmlTreeItem* element, KorvoModuleTreeItem* parent);
    void MakeConnection(KorvoXmlTreeItem* element);
    KorvoModule* ModuleAt(const String& index);

    String* projectPath;
    int walkResult = 0;
};
