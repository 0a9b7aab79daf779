// The wildcard search behind the registry: which names match, and the byte
// order that makes "the order of the search" the same everywhere.

#include "platform/FileSearch.h"

#include <gtest/gtest.h>

#include "support/TemporaryFolder.h"

using platform::FindFiles;
using Names = std::vector<std::string>;

TEST(FileSearch, MatchesAndSortsByBytes) {
    korvotest::TemporaryFolder folder;
    for (const char* name : {"b.scm", "a.scm", "A.scm", "Z.scm", "noext", "c.scm.bak", ".hidden.scm",
                             "\xc3\xa9.scm", "x.SCM"})
        folder.Write(name, "");
    std::filesystem::create_directory(folder.path / "sub");
    struct Case {
        const char* pattern;
        Names expected;
    } cases[] = {
        {"*.scm", {".hidden.scm", "A.scm", "Z.scm", "a.scm", "b.scm", "\xc3\xa9.scm"}},
        {"*.*", {".hidden.scm", "A.scm", "Z.scm", "a.scm", "b.scm", "c.scm.bak", "noext", "sub", "x.SCM",
                 "\xc3\xa9.scm"}},
        {"?.scm", {"A.scm", "Z.scm", "a.scm", "b.scm"}},
        {"[ab].scm", {"a.scm", "b.scm"}},
        {"*.prj", {}},
        {"noext", {"noext"}},
    };
    for (const Case& c : cases) EXPECT_EQ(FindFiles(folder.path.string(), c.pattern), c.expected) << c.pattern;
    // A trailing slash on the folder changes nothing.
    EXPECT_EQ(FindFiles(folder.path.string() + "/", "?.scm"), cases[2].expected);
}

TEST(FileSearch, MissingFolderGivesNothing) {
    korvotest::TemporaryFolder folder;
    EXPECT_TRUE(FindFiles((folder.path / "absent").string(), "*.*").empty());
    folder.Write("file", "");
    EXPECT_TRUE(FindFiles((folder.path / "file").string(), "*.*").empty());
}
