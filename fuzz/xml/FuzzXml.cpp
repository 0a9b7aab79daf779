// Feeds arbitrary bytes to the XML reader as one of the host's three file
// kinds would be read, and checks that whatever tree comes out can be written
// and read back: a loaded tree never holds an element the writer refuses.

#include <cstdint>
#include <cstdlib>
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
    Check(tree.LoadBytes(saved) == 0);
    Check(tree.root != nullptr);
    return 0;
}
