#pragma once
// The host's XML dialect: module descriptions (*.scm), the registry index
// (Repository.idx) and projects (*.prj) are trees of elements with attributes
// under one root, preceded by the line <?xml version="1.0" ...?>. There is no
// text content, no comments, no CDATA and no numeric character references.
// The callers decide what the elements mean; this file only reads and writes
// the trees.
//
// Files are UTF-8. Bytes that are not UTF-8 are read as Latin-1 so that
// nothing is lost; everything is written back as UTF-8. Line ends are written
// as CR LF, and CR LF is read as a single line feed.

#include <string>
#include <string_view>

#include "framework/Array.h"
#include "framework/String.h"

class KorvoXmlTreeAttribute {
public:
    KorvoXmlTreeAttribute(const wchar_t* name, const wchar_t* value) : name(name), value(value) {}

    String name;
    String value;
};

class KorvoXmlTreeItem {
public:
    explicit KorvoXmlTreeItem(const wchar_t* name);
    // Frees the children (last first), then the attributes (last first).
    ~KorvoXmlTreeItem();
    KorvoXmlTreeItem(const KorvoXmlTreeItem&) = delete;
    KorvoXmlTreeItem& operator=(const KorvoXmlTreeItem&) = delete;

    // Replaces the value of the attribute of that name (compared ignoring
    // case), or appends a new attribute.
    void SetAttribute(const wchar_t* name, const wchar_t* value);
    // The attribute of that name, compared ignoring case and searched from the
    // last attribute to the first; null for an empty name or when missing.
    KorvoXmlTreeAttribute* FindAttribute(const wchar_t* name) const;
    // The attribute's value, or the empty text when the attribute is missing.
    String AttributeValue(const wchar_t* name) const;
    // Makes this element the child's parent and appends the child. An element
    // never becomes its own child (nor does null); false then.
    bool AddChild(KorvoXmlTreeItem* child);

    String name;
    KorvoXmlTreeItem* parent = nullptr;
    Array<KorvoXmlTreeItem*> children;            // owned, in document order
    Array<KorvoXmlTreeAttribute*> attributes;     // owned, in order of first setting
};

// A document bound to one expected root element.
class KorvoXmlTree {
public:
    // Result codes of Load, Save and SetRoot.
    enum Result {
        Success = 0,
        StructureError = 1,   // an element with no parent where one is needed
        FileError = 2,        // no file name, or the file cannot be opened, read, created or written
        SyntaxError = 3,      // syntax error, root mismatch, missing root, element without a name
        Refused = 4,          // SetRoot refused the element
    };

    // Elements may nest at most this deep, the root counting as level 1. The
    // reader descends one call level per element level, so without a bound a
    // hostile file of a few hundred kilobytes of "<a>" could exhaust the
    // stack. The host's own files nest three or four levels. A deeper element
    // ends reading the way any error inside the root does: what was read
    // before it stays in the tree and Load still succeeds.
    static constexpr int MaxDepth = 256;

    // Checks of the root's "class" and "version" attributes are on; a caller
    // may turn either off before loading.
    KorvoXmlTree(const wchar_t* rootName, const wchar_t* rootClass, const wchar_t* rootVersion);
    // Frees the root.
    ~KorvoXmlTree();
    KorvoXmlTree(const KorvoXmlTree&) = delete;
    KorvoXmlTree& operator=(const KorvoXmlTree&) = delete;

    // Reads the file into the tree. The name is stored even when it fails. A
    // file that cannot be opened or read keeps the previous root (2); any
    // other outcome replaces it. Success always comes with a root: input that
    // ends before the root element (an empty file, blanks, text without tags,
    // a prolog alone) is missing its root (3).
    int Load(const wchar_t* fileName);
    // Reads a document from the bytes of a file, exactly as Load does after
    // reading the file: frees the current root, then parses.
    int LoadBytes(std::string_view bytes);

    // Writes the tree to the file (a non-empty name replaces the stored one).
    // The document is formed in memory first, so a tree that cannot be written
    // leaves an existing file untouched.
    int Save(const wchar_t* fileName);
    // Forms the file's bytes (prolog, CR LF line ends, tab indentation).
    int SaveBytes(std::string& bytes) const;

    // Frees the current root, then takes the element as root if its name and,
    // where checked, its "class" and "version" attributes match, all ignoring
    // case (0); otherwise the element stays the caller's (4).
    int SetRoot(KorvoXmlTreeItem* element);

    String rootName;
    String rootClass;
    String rootVersion;
    String path;
    KorvoXmlTreeItem* root = nullptr;  // owned
    bool checkClass = true;
    bool checkVersion = true;
};
