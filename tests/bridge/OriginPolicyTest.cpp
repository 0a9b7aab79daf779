// The origin policy on its own: which documents lie in a page's area, for
// web origins and for file folders with symbolic links that lead out.

#include <gtest/gtest.h>
#include <glib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/bridge/OriginPolicy.h"

using namespace platform;

namespace {

TEST(OriginPolicyTest, WebOriginsCompareSchemeHostAndPort) {
    const AllowedArea area = AreaOf("https://Units.Example:443/panel/index.html");
    struct Case {
        const char* document;
        bool inside;
    } const cases[] = {
        {"https://units.example/other/page.html", true},  // default port, host case
        {"HTTPS://units.example:443/", true},
        {"http://units.example/panel/index.html", false},  // another scheme
        {"https://units.example:8443/panel/index.html", false},
        {"https://units.example.evil/panel/index.html", false},
        {"https://evil@units.example.evil/", false},
        {"file:///panel/index.html", false},
        {"not an address", false},
    };
    for (const Case& c : cases) EXPECT_EQ(Contains(area, c.document), c.inside) << c.document;
    EXPECT_FALSE(Contains(AreaOf("about:blank"), "about:blank"));
}

class OriginPolicyFiles : public ::testing::Test {
protected:
    void SetUp() override {
        g_autofree gchar* made = g_dir_make_tmp("origin-policy-XXXXXX", nullptr);
        ASSERT_NE(made, nullptr);
        root = made;
        namespace fs = std::filesystem;
        fs::create_directories(root / "page" / "sub");
        fs::create_directories(root / "outside");
        fs::create_directories(root / "page-twin");
        for (const char* file :
             {"page/index.html", "page/sub/a.html", "outside/b.html", "page-twin/index.html"})
            std::ofstream(root / file) << "<p>";
        fs::create_directory_symlink(root / "outside", root / "page" / "escape");
        fs::create_symlink(root / "outside" / "b.html", root / "page" / "b-link.html");
        fs::create_symlink(root / "page" / "index.html", root / "entry.html");
    }
    void TearDown() override {
        std::error_code ignored;
        if (!root.empty()) std::filesystem::remove_all(root, ignored);
    }
    std::string Uri(const std::string& relative) const {
        return "file://" + (root / relative).string();
    }

    std::filesystem::path root;
};

TEST_F(OriginPolicyFiles, LinksAreFollowedBeforeTheFolderIsCompared) {
    const AllowedArea area = AreaOf(Uri("page/index.html"));
    struct Case {
        const char* document;
        bool inside;
    } const cases[] = {
        {"page/sub/a.html", true},
        {"page/missing.html", true},  // its folder decides; the load fails as usual
        {"page/escape/b.html", false},
        {"page/b-link.html", false},
        {"page/../outside/b.html", false},
        {"outside/b.html", false},
        {"page-twin/index.html", false},
    };
    for (const Case& c : cases) EXPECT_EQ(Contains(area, Uri(c.document)), c.inside) << c.document;
    EXPECT_FALSE(Contains(area, "https://units.example/page/index.html"));

    // A page address that is a link makes the folder of its target the area.
    const AllowedArea linked = AreaOf(Uri("entry.html"));
    EXPECT_TRUE(Contains(linked, Uri("page/sub/a.html")));
    EXPECT_FALSE(Contains(linked, Uri("outside/b.html")));
}

}  // namespace
