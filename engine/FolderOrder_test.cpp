#include "engine/FolderOrder.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace {

std::vector<std::size_t> Order(const std::vector<std::string>& paths) {
    return folder_order::ByFolder(paths.size(),
                                  [&](std::size_t i) -> const std::string& { return paths[i]; });
}

TEST(FolderOrderTest, GroupsByFolderInFirstAppearanceKeepingEachFolderInOrder) {
    const struct {
        const char* what;
        std::vector<std::string> paths;
        std::vector<std::size_t> order;
    } cases[] = {
        {"nothing", {}, {}},
        {"grouped stays as it is", {"a/1", "a/2", "b/1", "b/2", "c"}, {0, 1, 2, 3, 4}},
        {"interleaved", {"a/1", "b/1", "a/2", "b/2", "a/3"}, {0, 2, 4, 1, 3}},
        {"top level is a folder of its own", {"x", "a/1", "y", "a/2"}, {0, 2, 1, 3}},
        // A folder is the whole path before the last "/": a/b is not a.
        {"nested folders apart", {"a/b/1", "a/1", "a/b/2", "ab/1", "a/2"}, {0, 2, 1, 4, 3}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Order(c.paths), c.order) << c.what;
    }
}

}  // namespace
