#include "ModuleRegistry.h"

#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "XmlTree.h"
#include "platform/FileSearch.h"
#include "platform/Library.h"
#include "platform/OwnLinks.h"

namespace {

// The five attributes of a module, in the order the index writes them.
constexpr const wchar_t* ModuleAttributes[] = {L"class", L"version", L"name", L"type", L"path"};

// An XDG base folder, read afresh: GLib's own answer is fixed at its first call.
std::string BaseFolder(const char* variable, const char* fallback) {
    const char* value = g_getenv(variable);
    if (value != nullptr && g_path_is_absolute(value)) return value;
    return fallback;
}

// True when the file at path holds exactly what saving the index would write.
bool IndexFileHolds(const String& path, const KorvoXmlTree& index) {
    std::string bytes, content;
    if (index.SaveBytes(bytes) != KorvoXmlTree::Success) return false;
    return platform::ReadOwnFile(path.ToUtf8(), content) && content == bytes;
}

std::string CacheRoot() { return BaseFolder("XDG_CACHE_HOME", g_get_user_cache_dir()); }

std::string UserRepositoryOf(const String& program) {
    if (program.IsEmpty()) return std::string();
    std::string data = BaseFolder("XDG_DATA_HOME", g_get_user_data_dir());
    gchar* lower = g_utf8_strdown(program.ToUtf8().c_str(), -1);
    gchar* folder = g_build_filename(data.c_str(), lower, "Repository", nullptr);
    std::string result = std::string(folder) + "/";
    g_free(folder);
    g_free(lower);
    return result;
}

// A user description's library: beside the description when it lies there,
// else a plain library name as written, for the usual search (which never
// looks in the current folder). Empty for a relative path with a folder part
// that is not beside the description: the loader would take that from the
// folder the program was started in.
String UserLibraryPath(const std::string& descriptionFolder, const String& path) {
    std::string text = path.ToUtf8();
    if (text.empty() || g_path_is_absolute(text.c_str())) return path;
    g_autofree gchar* beside = g_canonicalize_filename(text.c_str(), descriptionFolder.c_str());
    if (g_file_test(beside, G_FILE_TEST_EXISTS)) return String::FromUtf8(beside);
    return text.find('/') == std::string::npos ? path : String();
}

}  // namespace

bool KorvoModuleRegistry::FolderWritable(const std::string& folder) {
    return access(folder.c_str(), W_OK) == 0;
}

KorvoModuleRegistry::KorvoModuleRegistry(const String& folder, const String& company, const String& program,
                                         FolderWritableFunction writable)
    : folder(folder), userRepository(UserRepositoryOf(program)) {
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
    // The classes of the folders read before the current one, and of the
    // current one, folded to lower case once, so that the duplicate tests
    // are plain comparisons instead of folding both texts at every step.
    std::vector<std::wstring> earlierClasses;
    std::vector<std::wstring> classes;

    struct DescriptionFolder {
        std::string path;
        bool user;
    };
    std::vector<DescriptionFolder> folders = {{(folder + L"../Repository/").ToUtf8(), false}};
    if (!userRepository.empty()) folders.push_back({userRepository, true});
    for (const DescriptionFolder& repository : folders) {
        for (const std::string& file : platform::FindFiles(repository.path, "*.scm")) {
            String fileName = String::FromUtf8(repository.path + file);
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
            auto repeats = [&](const std::vector<std::wstring>& known) {
                return std::find(known.rbegin(), known.rend(), folded) != known.rend();
            };
            if (repeats(earlierClasses)) {
                g_warning("Module description %s skipped: the class \"%s\" is already described in an "
                          "earlier folder.",
                          fileName.ToUtf8().c_str(), moduleClass.ToUtf8().c_str());
                continue;
            }
            if (repeats(classes)) {
                g_warning("Module description %s repeats the class \"%s\"; the registry index is not rebuilt.",
                          fileName.ToUtf8().c_str(), moduleClass.ToUtf8().c_str());
                delete root;
                return Duplicate;
            }
            String library = description.root->AttributeValue(L"path");
            if (repository.user) {
                String written = library;
                library = UserLibraryPath(repository.path, written);
                if (library.IsEmpty() && !written.IsEmpty()) {
                    g_warning(
                        "Module description %s skipped: its library %s is not beside it, and a "
                        "relative path is looked up nowhere else.",
                        fileName.ToUtf8().c_str(), written.ToUtf8().c_str());
                    continue;
                }
            }
            auto* module = new KorvoXmlTreeItem(L"module");
            root->AddChild(module);
            for (const wchar_t* attribute : ModuleAttributes)
                module->SetAttribute(attribute, description.root->AttributeValue(attribute));
            module->SetAttribute(L"path", library);
            classes.push_back(std::move(folded));
        }
        earlierClasses.insert(earlierClasses.end(), classes.begin(), classes.end());
        classes.clear();
    }

    if (!cacheFolder.IsEmpty() && g_mkdir_with_parents(cacheFolder.ToUtf8().c_str(), 0700) != 0)
        g_warning("Cannot create the folder %s for the registry index.", cacheFolder.ToUtf8().c_str());
    KorvoXmlTree index(IndexRootName, IndexRootClass, IndexRootVersion);
    index.SetRoot(root);  // made to match: always accepted
    // Every start builds the index; when the descriptions have not changed the
    // file already holds it, and leaving it alone spares a synced write.
    if (IndexFileHolds(indexPath, index)) return Success;
    int result = index.Save(indexPath);
    if (result != KorvoXmlTree::Success)
        g_warning("Cannot write the registry index %s (%d).", indexPath.ToUtf8().c_str(), result);
    return result;
}

int KorvoModuleRegistry::LoadIndex() {
    if (folder.IsEmpty()) return FileError;
    KorvoXmlTree index(IndexRootName, IndexRootClass, IndexRootVersion);
    // Read as it is written: through the user's own links only.
    std::string bytes;
    int result = platform::ReadOwnFile(indexPath.ToUtf8(), bytes) ? index.LoadBytes(bytes)
                                                                  : int(KorvoXmlTree::FileError);
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

int KorvoModuleRegistry::AddProgramModule(const wchar_t* name, const wchar_t* className,
                                          CreateKorvoModuleFunction create,
                                          DeleteKorvoModuleFunction destroy) {
    for (KorvoModuleRegistryItem* entry : entries)
        if (entry->className == className) return Duplicate;
    auto* entry = new KorvoModuleRegistryItem;
    entry->name = name;
    entry->className = className;
    entry->createModule = create;
    entry->deleteModule = destroy;
    entries.Add(entry);
    return Success;
}
