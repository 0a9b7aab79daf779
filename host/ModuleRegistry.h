#pragma once
// The module registry: which module classes exist and in which library each
// lives, and the making of modules from those libraries.
//
// How it works. Every installed module has a description file *.scm in the
// folder Repository beside the program's folder. At start the host gathers
// them (in byte order of their names) into the index Repository.idx, reads the
// index back into entries, and from then on creates modules by class: the
// first entry of that class names a library path and a module name; the
// library is loaded on first use, the exports CreateKorvoModule_<name> and
// DeleteKorvoModule are looked up, and both are kept in the entry.
//
// Where descriptions come from. First the program folder's ../Repository/,
// then the user's own $XDG_DATA_HOME/<program>/Repository/ (program in lower
// case: ~/.local/share/yonderpad/Repository by default), where other makers'
// modules go without touching the installation. A class found again in a
// later folder is skipped with a warning, so a user's file can never take the
// place of an installed module; a class repeated within one folder stops the
// build as before. A user description names its library either by an
// absolute path, or by a path relative to the description's own folder (the
// index then holds the full path), or, when no such file is there, by a plain
// name for the usual library search. A relative path with a folder part that
// is not beside the description skips the description: the loader would look
// it up from the folder the program was started in.
//
// Libraries are loaded once per distinct path (paths compare exactly, so two
// spellings of one file load twice) and a path that failed to load is never
// tried again during the run. Nothing is unloaded before the registry is
// destroyed: the entries go first, then the libraries, last loaded first. The
// project's modules must therefore be deleted before the registry.
//
// Where the index lives. The index is written into the program folder; when
// that folder is not writable (a packaged install under /usr or /opt) it goes
// to $XDG_CACHE_HOME/<company>/<program>/Repository.idx instead, the way
// Windows redirects such writes. The decision is made once, at construction,
// so that BuildIndex and LoadIndex always agree on the file. Both reach it
// through the user's own symbolic links only (platform/OwnLinks.h): a link
// that someone else put in its place is neither written through nor read.

#include <string>

#include "framework/Array.h"
#include "framework/PlugIn.h"
#include "framework/String.h"

// One registered module class (a plain record, owned by the registry).
struct KorvoModuleRegistryItem {
    String name;        // module name: the factory export is CreateKorvoModule_<name>
    String className;   // class identifier by which projects ask for the module
    String version;     // carried from the description; unused by the host
    String type;        // carried from the description; unused by the host
    String path;        // library file, given unchanged to the library loader
    CreateKorvoModuleFunction createModule = nullptr;  // resolved on first use
    DeleteKorvoModuleFunction deleteModule = nullptr;
};

// One library that the registry tried to load.
struct KorvoModuleRegistryHandle {
    String path;
    void* library = nullptr;  // platform::LibraryHandle; null when loading failed
};

class KorvoModuleRegistry {
public:
    // Result codes (those of the XML documents).
    enum Result { Success = 0, Duplicate = 1, NoRoot = 1, FileError = 2, NotFound = 3 };

    // Decides whether the program folder takes the index. The default asks
    // access(W_OK); tests pass their own answer, because the superuser passes
    // every permission check and a read-only mount needs privileges.
    using FolderWritableFunction = bool (*)(const std::string& folder);
    static bool FolderWritable(const std::string& folder);

    // folder: the program's folder (a missing trailing "/" is added; empty
    // makes every index operation fail with 2). company and program name the
    // cache folder used when the program folder is not writable.
    KorvoModuleRegistry(const String& folder, const String& company, const String& program,
                        FolderWritableFunction writable = FolderWritable);
    // Frees the entries, last first, then unloads the libraries, last first.
    ~KorvoModuleRegistry();
    KorvoModuleRegistry(const KorvoModuleRegistry&) = delete;
    KorvoModuleRegistry& operator=(const KorvoModuleRegistry&) = delete;

    // Rebuilds the index from the *.scm files of the description folders: 0,
    // 1 when two descriptions of one folder share a class (any case; nothing
    // is written then), 2 when there is no folder or the index cannot be
    // written.
    int BuildIndex();
    // Appends one entry per module element of the index: 0, 1 when the index
    // is missing, unreadable or has another root, 2 without folder. Called
    // once; a second call would append the entries again.
    int LoadIndex();
    // Makes a module of the first entry whose class equals className exactly.
    // 3 when there is none; otherwise 0, with module null when the library or
    // one of its two exports is missing (or the factory made nothing).
    int CreateModule(const wchar_t* className, KorvoModule*& module);
    // Adds the entry of a module class that the running program carries
    // itself, with no library: both functions are known from the start, so
    // CreateModule never loads anything for it. 1 when an entry already has
    // the class (compared exactly, as CreateModule looks it up).
    int AddProgramModule(const wchar_t* name, const wchar_t* className,
                         CreateKorvoModuleFunction create, DeleteKorvoModuleFunction destroy);

    // The file that BuildIndex writes and LoadIndex reads.
    const String& IndexPath() const { return indexPath; }
    // The user's description folder (ending in "/"; empty without program name).
    const std::string& UserRepository() const { return userRepository; }

    static constexpr const wchar_t* IndexRootName = L"korvo_module_registry";
    static constexpr const wchar_t* IndexRootClass = L"0e3ad0ac-7b60-4561-9cc0-9c039840265f";
    static constexpr const wchar_t* IndexRootVersion = L"1.0";

    String folder;
    Array<KorvoModuleRegistryHandle*> handles;
    Array<KorvoModuleRegistryItem*> entries;

private:
    KorvoModuleRegistryHandle* LoadedHandle(const String& path);

    String indexPath;
    String cacheFolder;          // empty when the index lives in the program folder
    std::string userRepository;  // read after the program folder's Repository
};
