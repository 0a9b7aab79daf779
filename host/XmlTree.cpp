// Reading and writing the host's XML dialect.
//
// The reader walks the bytes once, one tag at a time. Parse(parent, mode)
// handles exactly one tag: it skips to the next "<", takes everything up to the
// next ">" as the tag text ("<" means nothing inside it) and turns that text
// into an element with the four-state tag grammar (ParseTag). Mode 0 expects
// the prolog, mode 1 the root, mode 2 anything inside an element.
//
// Nesting is followed with one counter shared by all calls: an element that
// stays open raises it and then parses its children for as long as the
// counter still holds the raised value; any closing tag lowers it by one and
// so ends the innermost open element (its name is not compared). When a child
// fails, the counter stays where it was, so every enclosing loop sees a value
// that is not its own and ends as well: reading stops, and what was read so far
// stays in the tree with success. The end of the input stops all loops the
// same way. Since every element level costs one call level, the nesting depth
// is bounded (KorvoXmlTree::MaxDepth).
//
// Line ends: CR LF is folded to a line feed before parsing, and the writer
// turns every line feed it writes into CR LF, so the files keep the line ends
// they have always had.

#include "XmlTree.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_map>

#include <glib.h>

#include "platform/FileReplacement.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Key under which attribute names that differ only in case meet: the system's
// one case rule (FoldCase in framework/String.h).
std::wstring CaseKey(const wchar_t* name) { return FoldCase(name); }

String DecodeValue(std::string_view raw) {
    raw = Trim(raw);
    if (raw.find('&') == std::string_view::npos) return String::FromUtf8(raw);
    return String::FromUtf8(raw)
        .Replace(L"&quot;", L"\"")
        .Replace(L"&apos;", L"'")
        .Replace(L"&lt;", L"<")
        .Replace(L"&gt;", L">")
        .Replace(L"&amp;", L"&");
}

std::string EscapeValue(const String& value) {
    if (std::wcspbrk(value.Text(), L"&\"'<>") == nullptr) return value.ToUtf8();
    return value.Replace(L"&", L"&amp;")
        .Replace(L"\"", L"&quot;")
        .Replace(L"'", L"&apos;")
        .Replace(L"<", L"&lt;")
        .Replace(L">", L"&gt;")
        .ToUtf8();
}

// A parsed tag. A closing tag carries no element: its name is never used.
struct Tag {
    std::unique_ptr<KorvoXmlTreeItem> item;
    bool opening = false;
    bool closed = false;
};

// Sets attributes while a tag is read. A tag may hold any number of
// attributes, and searching the element's list for each of them would cost
// quadratic time; past a handful of attributes the names are matched through
// a map instead.
class AttributeSetter {
public:
    explicit AttributeSetter(KorvoXmlTreeItem& item) : item(item) {}

    void Set(const String& name, const String& value) {
        if (index.empty() && item.attributes.Count() < LinearLimit) {
            for (KorvoXmlTreeAttribute* attribute : item.attributes) {
                if (attribute->name.EqualsNoCase(name)) {
                    attribute->value = value;
                    return;
                }
            }
            Append(name, value);
            return;
        }
        if (index.empty())
            for (KorvoXmlTreeAttribute* attribute : item.attributes) index.emplace(CaseKey(attribute->name), attribute);
        auto [entry, added] = index.try_emplace(CaseKey(name), nullptr);
        if (added)
            entry->second = Append(name, value);
        else
            entry->second->value = value;
    }

private:
    static constexpr int LinearLimit = 16;

    KorvoXmlTreeAttribute* Append(const String& name, const String& value) {
        auto attribute = std::make_unique<KorvoXmlTreeAttribute>(name, value);
        item.attributes.Add(attribute.get());
        return attribute.release();
    }

    KorvoXmlTreeItem& item;
    std::unordered_map<std::wstring, KorvoXmlTreeAttribute*> index;
};

// Turns a tag text (what stood between "<" and ">") into an element. False for
// a text that holds nothing but blanks and for an element without a name.
bool ParseTag(std::string_view text, Tag& tag) {
    text = Trim(text);
    if (text.empty()) return false;
    if (text.front() == '/') return true;

    tag.item = std::make_unique<KorvoXmlTreeItem>(L"");
    AttributeSetter attributes(*tag.item);
    int state = 0;
    char quote = 0;
    std::size_t start = 0;  // where the piece being collected begins
    String attributeName;
    auto endName = [&](std::size_t end) {
        tag.item->name = String::FromUtf8(Trim(text.substr(start, end - start)));
        tag.opening = true;
        state = 1;
        start = end + 1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool last = i + 1 == text.size();
        switch (state) {
        case 0:  // element name
            if (c == ' ') {
                endName(i);
            } else if (c == '/' && last) {
                tag.closed = true;
                endName(i);
            }
            break;
        case 1:  // attribute name
            if (c == '=') {
                attributeName = String::FromUtf8(Trim(text.substr(start, i - start)));
                attributes.Set(attributeName, L"");
                state = 2;
            } else if (c == '/' && last) {
                tag.closed = true;
            }
            break;
        case 2:  // up to the opening quote
            if (c == '"' || c == '\'') {
                quote = c;
                start = i + 1;
                state = 3;
            }
            break;
        case 3:  // value
            if (c == quote) {
                attributes.Set(attributeName, DecodeValue(text.substr(start, i - start)));
                start = i + 1;
                state = 1;
            }
            break;
        }
    }
    if (state == 0) endName(text.size());
    // Trimming leaves at least one character, but a name that starts with a
    // NUL byte still comes out empty, and such an element could not be saved.
    return !tag.item->name.IsEmpty();
}

class Reader {
public:
    Reader(KorvoXmlTree& tree, std::string_view bytes) : tree(tree) {
        // Text-mode reading: CR LF becomes one line feed, a lone CR stays.
        input.reserve(bytes.size());
        for (std::size_t i = 0; i < bytes.size(); ++i)
            if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) input.push_back(bytes[i]);
    }

    int Run() { return Parse(nullptr, 0); }

private:
    int Parse(KorvoXmlTreeItem* parent, int mode) {
        std::size_t open = input.find('<', position);
        if (open == std::string::npos) {
            // Inside the root the end of the input ends reading like any
            // error there; before the root it leaves a document without one.
            position = input.size();
            ended = true;
            return KorvoXmlTree::SyntaxError;
        }
        std::size_t close = input.find('>', open + 1);
        if (close == std::string::npos) {
            position = input.size();
            ended = true;
            return KorvoXmlTree::SyntaxError;
        }
        position = close + 1;
        Tag tag;
        if (!ParseTag(std::string_view(input).substr(open + 1, close - open - 1), tag))
            return KorvoXmlTree::SyntaxError;

        switch (mode) {
        case 0:
            if (!tag.opening || !(tag.item->name == L"?xml") ||
                !tag.item->AttributeValue(L"version").EqualsNoCase(L"1.0"))
                return KorvoXmlTree::SyntaxError;
            return Parse(nullptr, 1);
        case 1: {
            if (!tag.opening) return KorvoXmlTree::SyntaxError;
            KorvoXmlTreeItem& item = *tag.item;
            if (!item.name.EqualsNoCase(tree.rootName) ||
                (tree.checkClass && !(item.AttributeValue(L"class") == tree.rootClass)) ||
                (tree.checkVersion && !(item.AttributeValue(L"version") == tree.rootVersion)))
                return KorvoXmlTree::SyntaxError;
            tree.root = tag.item.release();
            if (!tag.closed) {
                depth = 1;
                ParseChildren(tree.root);
            }
            return KorvoXmlTree::Success;
        }
        default:
            if (!tag.opening) {
                --depth;
                return KorvoXmlTree::Success;
            }
            if (parent == nullptr) return KorvoXmlTree::StructureError;
            if (depth >= KorvoXmlTree::MaxDepth) return KorvoXmlTree::SyntaxError;
            KorvoXmlTreeItem* item = tag.item.get();
            parent->AddChild(item);
            tag.item.release();
            if (!tag.closed) {
                ++depth;
                ParseChildren(item);
            }
            return KorvoXmlTree::Success;
        }
    }

    // Reads the content of an open element until its closing tag lowers the
    // counter, a child fails or the input ends.
    void ParseChildren(KorvoXmlTreeItem* item) {
        const int level = depth;
        while (depth == level && !ended && Parse(item, 2) == KorvoXmlTree::Success) {
        }
    }

    KorvoXmlTree& tree;
    std::string input;
    std::size_t position = 0;
    int depth = 0;
    bool ended = false;
};

void WriteItem(std::string& out, const KorvoXmlTreeItem& item, int depth, int& result) {
    if (item.name.IsEmpty()) {
        result = KorvoXmlTree::SyntaxError;
        return;
    }
    std::string name = item.name.ToUtf8();
    out.append(static_cast<std::size_t>(depth), '\t');
    out += '<';
    out += name;
    for (const KorvoXmlTreeAttribute* attribute : item.attributes) {
        out += ' ';
        out += attribute->name.ToUtf8();
        out += "=\"";
        out += EscapeValue(attribute->value);
        out += '"';
    }
    if (item.children.IsEmpty()) {
        out += "/>\n";
        return;
    }
    out += ">\n";
    for (const KorvoXmlTreeItem* child : item.children) {
        WriteItem(out, *child, depth + 1, result);
        if (result != KorvoXmlTree::Success) return;
    }
    out.append(static_cast<std::size_t>(depth), '\t');
    out += "</";
    out += name;
    out += ">\n";
}

}  // namespace

KorvoXmlTreeItem::KorvoXmlTreeItem(const wchar_t* name) : name(name) {}

KorvoXmlTreeItem::~KorvoXmlTreeItem() {
    for (int i = children.Count() - 1; i >= 0; --i) delete children[i];
    for (int i = attributes.Count() - 1; i >= 0; --i) delete attributes[i];
}

void KorvoXmlTreeItem::SetAttribute(const wchar_t* name, const wchar_t* value) {
    if (name == nullptr) name = L"";
    for (KorvoXmlTreeAttribute* attribute : attributes) {
        if (attribute->name.EqualsNoCase(name)) {
            attribute->value = value;
            return;
        }
    }
    auto attribute = std::make_unique<KorvoXmlTreeAttribute>(name, value);
    attributes.Add(attribute.get());
    attribute.release();
}

KorvoXmlTreeAttribute* KorvoXmlTreeItem::FindAttribute(const wchar_t* name) const {
    if (name == nullptr || name[0] == L'\0') return nullptr;
    for (int i = attributes.Count() - 1; i >= 0; --i)
        if (attributes[i]->name.EqualsNoCase(name)) return attributes[i];
    return nullptr;
}

String KorvoXmlTreeItem::AttributeValue(const wchar_t* name) const {
    const KorvoXmlTreeAttribute* attribute = FindAttribute(name);
    return attribute ? attribute->value : String();
}

bool KorvoXmlTreeItem::AddChild(KorvoXmlTreeItem* child) {
    if (child == nullptr || child == this) return false;
    children.Add(child);
    child->parent = this;
    return true;
}

KorvoXmlTree::KorvoXmlTree(const wchar_t* rootName, const wchar_t* rootClass, const wchar_t* rootVersion)
    : rootName(rootName), rootClass(rootClass), rootVersion(rootVersion) {}

KorvoXmlTree::~KorvoXmlTree() { delete root; }

int KorvoXmlTree::Load(const wchar_t* fileName) {
    path = fileName;
    if (path.IsEmpty()) return FileError;
    std::FILE* file = std::fopen(path.ToUtf8().c_str(), "rb");
    if (file == nullptr) return FileError;
    std::string bytes;
    char block[65536];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.append(block, got);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    // A file that opens but cannot be read (a folder, an I/O error) counts as
    // one that cannot be opened: the previous tree stays.
    if (failed) return FileError;
    return LoadBytes(bytes);
}

int KorvoXmlTree::LoadBytes(std::string_view bytes) {
    delete root;
    root = nullptr;
    Reader reader(*this, bytes);
    return reader.Run();
}

int KorvoXmlTree::Save(const wchar_t* fileName) {
    if (fileName != nullptr && fileName[0] != L'\0') path = fileName;
    if (path.IsEmpty()) return FileError;
    if (root == nullptr) return SyntaxError;
    std::string bytes;
    if (int result = SaveBytes(bytes); result != Success) return result;
    // The file holds either its previous content or the whole new one: a write
    // that fails half way (a full disk, the file size limit) leaves it as it was.
    std::string name = path.ToUtf8();
    if (platform::ReplaceFileContent(name, bytes)) return Success;
    g_message("Cannot write %s", name.c_str());
    return FileError;
}

int KorvoXmlTree::SaveBytes(std::string& bytes) const {
    bytes.clear();
    if (root == nullptr) return SyntaxError;
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    int result = Success;
    WriteItem(text, *root, 0, result);
    if (result != Success) return result;
    // Every line feed goes out as CR LF, those inside values included, as the
    // reader folds each CR LF back into one line feed.
    bytes.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') bytes.push_back('\r');
        bytes.push_back(c);
    }
    return Success;
}

int KorvoXmlTree::SetRoot(KorvoXmlTreeItem* element) {
    // The element may be the current root itself: give it up without freeing.
    if (root != element) delete root;
    root = nullptr;
    if (element == nullptr || !element->name.EqualsNoCase(rootName) ||
        (checkClass && !element->AttributeValue(L"class").EqualsNoCase(rootClass)) ||
        (checkVersion && !element->AttributeValue(L"version").EqualsNoCase(rootVersion)))
        return Refused;
    root = element;
    return Success;
}
