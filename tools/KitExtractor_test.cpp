#include "tools/KitExtractor.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kit/KitTestSupport.h"

using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::WriteFile;
using kit_test::ScopedTempRoot;
using test_support::BuildKit;

namespace {

// A kit without products, with a file at the top and two levels down.
void LoadKit(const std::string& path, pkdtool::ToolKit* kit) {
    ASSERT_EQ(
        BuildKit(path,
                 {{"top.cfg", "top", 1500000000}, {"sub\\deep\\leaf.cfg", "leaf", 1500000010}},
                 {{}, true}),
        "");
    ASSERT_EQ(pkdtool::VerifyKit(path, {}, kit).status, 0);
}

TEST(PkdtoolExtract, WritesEveryFileWithItsTimeAndCreatesTheDirectory) {
    ScopedTempRoot temp;
    TempDir dir;
    pkdtool::ToolKit kit;
    LoadKit(dir / "kit", &kit);
    ::mkdir((dir / "out-existing").c_str(), 0755);
    WriteFile(dir / "out-existing/top.cfg", "an older, longer top.cfg");
    for (const std::string& out : {dir / "out-new", dir / "out-existing"}) {
        std::size_t written = 0;
        std::string error;
        ASSERT_TRUE(pkdtool::ExtractKit(kit, out, &written, &error)) << error;
        EXPECT_EQ(written, 2u);
        EXPECT_EQ(ReadFile(out + "/top.cfg"), "top");
        EXPECT_EQ(ReadFile(out + "/sub/deep/leaf.cfg"), "leaf");
        EXPECT_EQ(fs_test::ModifiedSeconds(out + "/top.cfg"), 1500000000);
        EXPECT_EQ(fs_test::ModifiedSeconds(out + "/sub/deep/leaf.cfg"), 1500000010);
        // No temporary file is left beside them.
        EXPECT_EQ(fs_test::CountEntries(out), 2u);
    }
}

// Links planted in the target directory are never followed: what lies
// outside stays as it was.
TEST(PkdtoolExtract, PlantedLinksAreNotFollowed) {
    ScopedTempRoot temp;
    TempDir dir;
    pkdtool::ToolKit kit;
    LoadKit(dir / "kit", &kit);
    ::mkdir((dir / "outside").c_str(), 0755);
    WriteFile(dir / "outside/victim", "precious");
    struct Case {
        const char* what;
        const char* link;    // inside the target directory
        const char* points;  // what it points to
        bool succeeds;       // a link at a file is replaced; at a directory it stops
    };
    const Case cases[] = {
        {"a link where a file goes", "top.cfg", "../outside/victim", true},
        {"a dangling link where a file goes", "top.cfg", "../outside/new", true},
        {"a link where a directory goes", "sub", "../outside", false},
    };
    for (const Case& c : cases) {
        const std::string out = dir / "out";
        std::filesystem::remove_all(out);
        ::mkdir(out.c_str(), 0755);
        ASSERT_EQ(::symlink(c.points, (out + "/" + c.link).c_str()), 0) << c.what;
        std::size_t written = 0;
        std::string error;
        EXPECT_EQ(pkdtool::ExtractKit(kit, out, &written, &error), c.succeeds) << c.what;
        if (c.succeeds) {
            struct stat status;
            ASSERT_EQ(::lstat((out + "/" + c.link).c_str(), &status), 0);
            EXPECT_TRUE(S_ISREG(status.st_mode)) << c.what;
            EXPECT_EQ(ReadFile(out + "/top.cfg"), "top");
        } else {
            EXPECT_NE(error.find("not a directory"), std::string::npos) << error;
        }
        EXPECT_EQ(ReadFile(dir / "outside/victim"), "precious") << c.what;
        EXPECT_EQ(fs_test::CountEntries(dir / "outside"), 1u) << c.what;
    }
}

}  // namespace
