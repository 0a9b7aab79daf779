#include "ModuleRegistry.h"

#include <glib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "XmlTree.h"
#include "platform/FileSearch.h"
#include "platform/Library.h"

namespace {

// The five attributes of a module, in the order the index writes them.
constexpr const wchar_t* ModuleAttributes[] = {L"class", L"version", L"name", L"type", L"path"};

std::string CacheRoot() {
    // Read afresh: GLib's own answer is fixed at its first call.
    const char* cache = g_getenv("XDG_CACHE_HOME");
    if (cache != nullptr && g_path_is_absolute(cache)) return cache;
    return g_get_user_cache_dir();
}

}  // namespace

bool KorvoModuleRegistry::FolderWritable(const std::string& folder) {
    return access(folder.c_str(), W_OK) == 0;
}

KorvoModuleRegistry::KorvoModuleRegistry(const String& folder, const String& company, const String& program,
                                         FolderWritableFunction writable)
    : folder(folder) {
    if (folder.IsEmpty()) return;
    if (folder.Text()[folder.Length() - 1] != L'/') this->folder += L"/";
    if (writable == nullptr || writable(this->folder.ToUtf8())) {
        indexPath = this->folder + L"Repository.idx";
        return;
    }
    gchar* cache = g_build_filename(CacheRoot().c_str(), company.ToUtf8().c_str(), program.ToUtf8().c_str(),
                                    nullptr);
    cacheFolder = String::FromUtf8(cache);
    g_free(cache);
    indexPath = cacheFolder + L"/Repository.idx";
}

KorvoModuleRegistry::~KorvoModuleRegistry() {
    for (int i = entries.Count() - 1; i >= 0; --i) delete entries[i];
    entries.Reset();
    for (int i = handles.Count() - 1; i >= 0; --i) {
        platform::Library::Free(handles[i]->library);
        delete handles[i];
    }
    handles.Reset();
}

int KorvoModuleRegistry::BuildIndex() {
    if (folder.IsEmpty()) return FileError;

    auto* root = new KorvoXmlTreeItem(IndexRootName);
    root->SetAttribute(L"class", IndexRootClass);
    root->SetAttribute(L"version", IndexRootVersion);
    // The class of every module element so far, folded to lower case once,
    // so that the duplicate test (each class against all earlier ones) is a
    // plain comparison instead of folding both texts at every step.
    std::vector<std::wstring> classes;

    std::string repository = (folder + L"../Repository/").ToUtf8();
    for (const std::string& file : platform::FindFiles(repository, "*.scm")) {
        String fileName = String::FromUtf8(repository + file);
        KorvoXmlTree description(L"korvo_module", L"", L"");
        description.checkClass = false;
        description.checkVersion = false;
        int result = description.Load(fileName);
        if (result != KorvoXmlTree::Success || description.root == nullptr) {
            g_message("Module description %s skipped: it cannot be read or is not a korvo_module (%d).",
                      fileName.ToUtf8().c_str(), result);
            continue;
        }
        String moduleClass = description.root->AttributeValue(L"class");
        std::wstring folded = FoldCase(moduleClass);
        for (auto known = classes.rbegin(); known != classes.rend(); ++known) {
            if (folded == *known) {
                g_warning("Module description %s repeats the class \"%s\"; the registry index is not rebuilt.",
                          fileName.ToUtf8().c_str(), moduleClass.ToUtf8().c_str());
                delete root;
                return Duplicate;
            }
        }
        auto* module = new KorvoXmlTreeItem(L"module");
        root->AddChild(module);
        for (const wchar_t* attribute : ModuleAttributes)
            module->SetAttribute(attribute, description.root->AttributeValue(attribute));
        classes.push_back(std::move(folded));
    }

    if (!cacheFolder.IsEmpty() && g_mkdir_with_parents(cacheFolder.ToUtf8().c_str(), 0700) != 0)
        g_warning("Cannot create the folder %s for the registry index.", cacheFolder.ToUtf8().c_str());
    KorvoXmlTree index(IndexRootName, IndexRootClass, IndexRootVersion);
    index.SetRoot(root);  // made to match: always accepted
    int result = index.Save(indexPath);
    if (result != KorvoXmlTree::Success)
        g_warning("Cannot write the registry index %s (%d).", indexPath.ToUtf8().c_str(), result);
    return result;
}

int KorvoModuleRegistry::LoadIndex() {
    if (folder.IsEmpty()) return FileError;
    KorvoXmlTree index(IndexRootName, IndexRootClass, IndexRootVersion);
    int result = index.Load(indexPath);
    if (index.root == nullptr) {
        g_warning("Cannot read the registry index %s (%d).", indexPath.ToUtf8().c_str(), result);
        return NoRoot;
    }
    for (KorvoXmlTreeItem* element : index.root->children) {
        auto* entry = new KorvoModuleRegistryItem;
        entry->name = element->AttributeValue(L"name");
        entry->className = element->AttributeValue(L"class");
        entry->version = element->AttributeValue(L"version");
        entry->type = element->AttributeValue(L"type");
        entry->path = element->AttributeValue(L"path");
        entries.Add(entry);
    }
    return Success;
}

KorvoModuleRegistryHandle* KorvoModuleRegistry::LoadedHandle(const String& path) {
    for (KorvoModuleRegistryHandle* handle : handles)
        if (handle->path == path) return handle;
    // A library that fails to load keeps its handle too, so it is never retried.
    auto* handle = new KorvoModuleRegistryHandle;
    handle->path = path;
    handle->library = platform::Library::Load(path.ToUtf8());
    handles.Add(handle);
    return handle;
}

int KorvoModuleRegistry::CreateModule(const wchar_t* className, KorvoModule*& module) {
    module = nullptr;
    KorvoModuleRegistryItem* entry = nullptr;
    for (KorvoModuleRegistryItem* candidate : entries) {
        if (className != nullptr && candidate->className == className) {
            entry = candidate;
            break;
        }
    }
    if (entry == nullptr) return NotFound;

    if (entry->createModule == nullptr || entry->deleteModule == nullptr) {
        KorvoModuleRegistryHandle* handle = LoadedHandle(entry->path);
        if (handle->library != nullptr) {
            // Symbol tables hold identifiers as UTF-8, whatever the locale.
            std::string factory = (String(L"CreateKorvoModule_") + entry->name).ToUtf8();
            entry->createModule = reinterpret_cast<CreateKorvoModuleFunction>(
                platform::Library::FindExport(handle->library, factory));
            entry->deleteModule = reinterpret_cast<DeleteKorvoModuleFunction>(
                platform::Library::FindExport(handle->library, "DeleteKorvoModule"));
        }
    }
    // A module is only made when the library can also delete it.
    if (entry->createModule != nullptr && entry->deleteModule != nullptr) {
        module = entry->createModule();
        if (module != nullptr) module->registryEntry = entry;
    }
    return Success;
}
