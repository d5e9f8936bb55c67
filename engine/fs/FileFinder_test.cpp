#include "engine/fs/FileFinder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "engine/fs/FileSystemTestSupport.h"

using fs_test::TempDir;
using fs_test::U16;
using fs_test::U8;
using fs_test::WriteFile;

namespace {

// Every name an enumeration returns, with its IsDirectory value.
std::map<std::string, std::uint32_t> Enumerate(const std::string& searchPath) {
    std::map<std::string, std::uint32_t> found;
    FileFinder finder;
    for (bool more = finder.First(U16(searchPath)); more; more = finder.Next()) {
        found[U8(finder.Name())] = finder.IsDirectory();
    }
    return found;
}

TEST(FileFinderEnumerate, EmptyDirectoryGivesDotAndDotDot) {
    TempDir dir;
    const auto found = Enumerate(dir / "*");
    EXPECT_EQ(found, (std::map<std::string, std::uint32_t>{{".", 16u}, {"..", 16u}}));
}

TEST(FileFinderEnumerate, PatternSelectsNamesAndHiddenOnesMatchStar) {
    TempDir dir;
    WriteFile(dir / "a.cfg", "");
    WriteFile(dir / ".hidden.cfg", "");
    WriteFile(dir / "b.txt", "");
    ::mkdir((dir / "sub.cfg").c_str(), 0700);
    const auto found = Enumerate(dir / "*.cfg");
    EXPECT_EQ(found, (std::map<std::string, std::uint32_t>{
                         {"a.cfg", 0u}, {".hidden.cfg", 0u}, {"sub.cfg", 16u}}));
}

TEST(FileFinderEnumerate, RootPatternListsTheRoot) {
    const auto found = Enumerate("/*");
    EXPECT_EQ(found.count("tmp"), 1u);
}

// A link whose target is gone must not end the search early: a rollback
// walking the backup directory would otherwise skip the files after it.
TEST(FileFinderEnumerate, DanglingLinkDoesNotStopTheSearch) {
    TempDir dir;
    for (int i = 0; i < 20; ++i) {
        WriteFile(dir / ("file" + std::to_string(i)), "");
    }
    ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
    const auto found = Enumerate(dir / "*");
    EXPECT_EQ(found.size(), 23u);
    EXPECT_EQ(found.count("dangling"), 1u);
    EXPECT_EQ(found.count("file19"), 1u);
}

TEST(FileFinderEnumerate, LinksAreFollowedForTheTypeButReportedAsLinks) {
    TempDir dir;
    ::mkdir((dir / "real").c_str(), 0700);
    ASSERT_EQ(::symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
    FileFinder finder;
    std::set<std::string> links;
    for (bool more = finder.First(U16(dir / "*")); more; more = finder.Next()) {
        EXPECT_EQ(finder.IsDirectory(), 16u) << U8(finder.Name());
        if (finder.IsSymbolicLink()) {
            links.insert(U8(finder.Name()));
        }
    }
    EXPECT_EQ(links, std::set<std::string>{"link"});
}

TEST(FileFinderPlainPath, IsTheExistenceTest) {
    TempDir dir;
    WriteFile(dir / "file", "x");
    FileFinder finder;
    ASSERT_TRUE(finder.First(U16(dir.path())));
    EXPECT_EQ(finder.IsDirectory(), 16u);
    ASSERT_TRUE(finder.First(U16(dir / "file")));
    EXPECT_EQ(finder.IsDirectory(), 0u);
    EXPECT_EQ(U8(finder.Name()), "file");
    EXPECT_FALSE(finder.Next()) << "a plain path starts no enumeration";
    EXPECT_FALSE(finder.First(U16(dir / "missing")));
    // "?" and "[" without "*" are taken as a plain name.
    EXPECT_FALSE(finder.First(U16(dir / "fil?")));
    ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
    EXPECT_TRUE(finder.First(U16(dir / "dangling"))) << "the name is taken";
}

TEST(FileFinderPlainPath, StarWithoutSlashFindsNothing) {
    FileFinder finder;
    EXPECT_FALSE(finder.First(u"*"));
    EXPECT_FALSE(finder.Next());
}

TEST(FileFinderEnumerate, ANewSearchReplacesARunningOne) {
    TempDir first;
    TempDir second;
    WriteFile(first / "one", "");
    WriteFile(second / "two", "");
    FileFinder finder;
    ASSERT_TRUE(finder.First(U16(first / "o*")));
    EXPECT_EQ(U8(finder.Name()), "one");
    ASSERT_TRUE(finder.First(U16(second / "t*")));
    EXPECT_EQ(U8(finder.Name()), "two");
    EXPECT_FALSE(finder.Next());
}

}  // namespace
