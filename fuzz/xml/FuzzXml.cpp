// Feeds arbitrary bytes to the XML reader as one of the host's three file
// kinds would be read, and checks that whatever tree comes out can be written,
// and read back with its root whenever its names can be written faithfully.
// The dialect escapes values but not names: a name holding a quote, "=", a
// blank or an angle bracket (which a hostile file can produce, since a name
// runs up to "=") is written as it is and reads back differently. The host
// only writes trees it built itself, with fixed plain names.

#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <string>
#include <string_view>

#include "host/XmlTree.h"

namespace {

struct Document {
    const wchar_t* rootName;
    const wchar_t* rootClass;
    const wchar_t* rootVersion;
    bool checks;
};

const Document Documents[] = {
    {L"korvo_module", L"", L"", false},
    {L"korvo_module_registry", L"0e3ad0ac-7b60-4561-9cc0-9c039840265f", L"1.0", true},
    {L"korvo", L"0", L"1.0", true},
};

void Check(bool condition) {
    if (!condition) std::abort();
}

bool PlainName(const String& name, const wchar_t* forbidden) {
    return std::wcspbrk(name.Text(), forbidden) == nullptr;
}

bool PlainNames(const KorvoXmlTreeItem* item) {
    if (!PlainName(item->name, L" \t\r\n<>/\"'=")) return false;
    for (const KorvoXmlTreeAttribute* attribute : item->attributes)
        if (!PlainName(attribute->name, L" \t\r\n<>/\"'=")) return false;
    for (const KorvoXmlTreeItem* child : item->children)
        if (!PlainNames(child)) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the file kind, the rest is the file.
    const Document& kind = Documents[data[0] % std::size(Documents)];
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    KorvoXmlTree tree(kind.rootName, kind.rootClass, kind.rootVersion);
    tree.checkClass = tree.checkVersion = kind.checks;
    int result = tree.LoadBytes(bytes);
    Check(result == 0 || result == 3);
    if (tree.root == nullptr) return 0;
    Check(result == 0);

    std::string saved;
    Check(tree.SaveBytes(saved) == 0);
    bool plain = PlainNames(tree.root);
    int reloaded = tree.LoadBytes(saved);
    if (plain) Check(reloaded == 0 && tree.root != nullptr);
    return 0;
}
