#include "Project.h"

#include <glib.h>

#include <iterator>

#include "ModuleRegistry.h"
#include "XmlTree.h"
#include "framework/Connector.h"
#include "framework/Conversion.h"

namespace {

// A connector that a project names but its module no longer makes is rebuilt
// from the stored type: the low byte is the kind, the rest are flags. It has no
// handler.
template <typename Kind>
KorvoConnector* NewStoredConnector(const wchar_t* name, uint32_t type, KorvoModule* module) {
    return new Kind(name, nullptr, type, module);
}

using StoredConnectorFactory = KorvoConnector* (*)(const wchar_t*, uint32_t, KorvoModule*);

// Indexed by kind; a kind without an entry is not restored.
constexpr StoredConnectorFactory StoredConnectorFactories[] = {
    nullptr,
    NewStoredConnector<KorvoLongConnector>,
    NewStoredConnector<KorvoDoubleConnector>,
    NewStoredConnector<KorvoTextConnector>,
    NewStoredConnector<KorvoUserConnector>,
};
static_assert(KorvoConnector::KindLong == 1 && KorvoConnector::KindDouble == 2 &&
              KorvoConnector::KindText == 3 && KorvoConnector::KindUser == 4);

}  // namespace

KorvoModuleTreeItem::KorvoModuleTreeItem(const String& name, const String& className, KorvoModule* module,
                                         KorvoModuleTreeItem* parent)
    : name(name), className(className), module(module), parent(parent) {}

KorvoModuleTreeItem::~KorvoModuleTreeItem() {
    for (int i = children.Count() - 1; i >= 0; --i) delete children[i];
    children.Reset();
    if (module == nullptr) return;
    // Only the library that made the module may free it.
    auto* entry = static_cast<KorvoModuleRegistryItem*>(module->registryEntry);
    if (entry != nullptr && entry->deleteModule != nullptr) entry->deleteModule(module);
}

KorvoProject::KorvoProject(KorvoModuleRegistry* registry, String* projectPath)
    : registry(registry), projectPath(projectPath) {}

KorvoProject::~KorvoProject() { DestroyTree(); }

void KorvoProject::DestroyTree() {
    delete root;
    root = nullptr;
    modules.Reset();
}

bool KorvoProject::LoadProject(const wchar_t* fileName) {
    DestroyTree();
    walkResult = 0;
    if (projectPath != nullptr) *projectPath = fileName;

    KorvoXmlTree document(rootName, rootClass, rootVersion);
    int result = document.Load(fileName);
    if (result != KorvoXmlTree::Success) {
        // The caller decides whether this is a failure (the host tries a
        // second project): a detail for debugging only.
        g_debug("Project %s not loaded (%d).", String(fileName).ToUtf8().c_str(), result);
        return false;
    }
    KorvoXmlTreeItem* element = document.root;
    if (element != nullptr && element->name.EqualsNoCase(rootName)) {
        result = Walk(element, nullptr);
        if (result == 0 && beforeStart && !beforeStart()) result = KorvoXmlTree::Refused;
        walkResult = result;
        if (result == 0) {
            for (KorvoModule* module : modules)
                if (module != nullptr) module->Start();
        } else if (result != KorvoXmlTree::Refused) {
            g_warning("Project %s stopped loading (%d); its modules are not started.",
                      String(fileName).ToUtf8().c_str(), result);
        }
    }
    modules.Reset();
    return true;
}

int KorvoProject::Walk(KorvoXmlTreeItem* element, KorvoModuleTreeItem* parent) {
    if (registry == nullptr || element == nullptr) return 3;

    // The parent item of the element's children: none below connector,
    // connections and connection.
    KorvoModuleTreeItem* item = nullptr;
    const String& name = element->name;
    if (name == L"connector") {
        RestoreConnector(element, parent);
    } else if (name == L"connections") {
        // Only groups connection elements.
    } else if (name == L"connection") {
        MakeConnection(element);
    } else {
        String className = element->AttributeValue(L"class");
        if (className.IsEmpty()) return 3;
        KorvoModule* module = nullptr;
        if (name == L"module") {
            int result = registry->CreateModule(className, module);
            if (result != 0) return result;
            if (module == nullptr && requireModules) {
                g_warning("The module of class %s cannot be made: its library or its exports are missing.",
                          className.ToUtf8().c_str());
                return 3;
            }
        }
        item = new KorvoModuleTreeItem(name, className, module, parent);
        if (parent != nullptr) {
            parent->children.Add(item);
            modules.Add(module);
        } else if (root != nullptr || !name.EqualsNoCase(rootName) || !className.EqualsNoCase(rootClass) ||
                   !element->AttributeValue(L"version").EqualsNoCase(rootVersion)) {
            // A second root, or a root that is not a project: the item and a
            // module made for it belong to nobody, so they go at once.
            delete item;
            return 1;
        } else {
            root = item;
        }
    }
    for (KorvoXmlTreeItem* child : element->children) {
        int result = Walk(child, item);
        if (result != 0) return result;
    }
    return 0;
}

void KorvoProject::RestoreConnector(KorvoXmlTreeItem* element, KorvoModuleTreeItem* parent) {
    // Only a module element's connectors mean anything.
    if (parent == nullptr || parent->module == nullptr) return;
    KorvoModule* module = parent->module;
    String connectorName = element->AttributeValue(L"name");
    KorvoConnector* connector = module->FindConnector(connectorName);
    if (connector == nullptr) {
        auto type = static_cast<uint32_t>(ParseLong(element->AttributeValue(L"type")));
        uint32_t kind = type & KorvoConnector::KindMask;
        if (kind >= std::size(StoredConnectorFactories) || StoredConnectorFactories[kind] == nullptr) return;
        connector = StoredConnectorFactories[kind](connectorName, type, module);
        module->connectors.Add(connector);
    }
    if (connector->GetFlags() & KorvoConnector::FlagPersistent)
        connector->StoreText(element->AttributeValue(L"value"));
}

KorvoModule* KorvoProject::ModuleAt(const String& index) {
    int32_t at = ParseLong(index);
    return at >= 0 && at < modules.Count() ? modules[at] : nullptr;
}

void KorvoProject::MakeConnection(KorvoXmlTreeItem* element) {
    KorvoModule* first = ModuleAt(element->AttributeValue(L"module1"));
    KorvoModule* second = ModuleAt(element->AttributeValue(L"module2"));
    if (first == nullptr || second == nullptr) return;
    KorvoConnector* from = first->FindConnector(element->AttributeValue(L"connector1"));
    KorvoConnector* to = second->FindConnector(element->AttributeValue(L"connector2"));
    if (from != nullptr && to != nullptr) from->Connect(to);
}
