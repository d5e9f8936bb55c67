#include "app/InstallPlan.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <map>
#include <string>

#include "app/AppTestSupport.h"

namespace app_test {
namespace {

constexpr std::int64_t kRecordSeconds = 1600000000;

void MakeSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof(address.sun_path));
    path.copy(address.sun_path, path.size());
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0) << path;
    ::close(fd);
}

// Names, kinds, sizes and times below root, without opening anything (a
// FIFO would block a read).
std::map<std::string, std::string> Listing(const std::string& root) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        struct stat status;
        ::lstat(entry.path().c_str(), &status);
        entries[entry.path().string()] = std::to_string(status.st_mode) + " " +
                                         std::to_string(status.st_size) + " " +
                                         std::to_string(status.st_mtime);
    }
    return entries;
}

// What stands at (or above) the kit file "dir/file.txt" decides its action;
// nothing on disk changes.
TEST(InstallPlanTest, ClassifiesWhatStandsAtEachKitPath) {
    struct Case {
        const char* what;
        std::function<void(const std::string& target)> make;
        PlanAction expected;
    };
    auto file = [](std::int64_t seconds) {
        return [seconds](const std::string& target) {
            WriteFile(target + "dir/file.txt", "x");
            SetModificationTime(target + "dir/file.txt", seconds);
        };
    };
    const Case cases[] = {
        {"nothing", [](const std::string&) {}, PlanAction::Install},
        {"the folder only",
         [](const std::string& t) { std::filesystem::create_directories(t + "dir"); },
         PlanAction::Install},
        {"an older file", file(kRecordSeconds - 1), PlanAction::Replace},
        {"a file of the same second", file(kRecordSeconds), PlanAction::Skip},
        {"a newer file", file(kRecordSeconds + 100), PlanAction::Skip},
        {"a directory",
         [](const std::string& t) { std::filesystem::create_directories(t + "dir/file.txt"); },
         PlanAction::Conflict},
        {"a FIFO",
         [](const std::string& t) {
             std::filesystem::create_directories(t + "dir");
             ASSERT_EQ(::mkfifo((t + "dir/file.txt").c_str(), 0600), 0);
         },
         PlanAction::Conflict},
        {"a socket",
         [](const std::string& t) {
             std::filesystem::create_directories(t + "dir");
             MakeSocket(t + "dir/file.txt");
         },
         PlanAction::Conflict},
        {"a link to a newer file",
         [](const std::string& t) {
             WriteFile(t + "real.txt", "x");
             SetModificationTime(t + "real.txt", kRecordSeconds + 100);
             std::filesystem::create_directories(t + "dir");
             std::filesystem::create_symlink(t + "real.txt", t + "dir/file.txt");
         },
         PlanAction::Conflict},
        {"a dangling link",
         [](const std::string& t) {
             std::filesystem::create_directories(t + "dir");
             std::filesystem::create_symlink(t + "gone", t + "dir/file.txt");
         },
         PlanAction::Conflict},
        {"a file where the folder goes", [](const std::string& t) { WriteFile(t + "dir", "x"); },
         PlanAction::Conflict},
        {"a link where the folder goes",
         [](const std::string& t) {
             std::filesystem::create_directories(t + "elsewhere");
             std::filesystem::create_symlink(t + "elsewhere", t + "dir");
         },
         PlanAction::Conflict},
        {"a device",
         [](const std::string& t) {
             std::filesystem::create_directories(t + "dir");
             // A character device like /dev/null; making one needs root.
             if (::mknod((t + "dir/file.txt").c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0) {
                 std::filesystem::create_symlink("/dev/null", t + "dir/file.txt");
                 std::cerr << "not root: a link to /dev/null stands in for a device\n";
             }
         },
         PlanAction::Conflict},
    };
    FileSystem fs;
    StoredTimeRules<> storedTimes;
    const FileTime record = FileSystem::FromUnixSeconds(kRecordSeconds) + 5000000;  // + 0.5 s
    for (const Case& c : cases) {
        TempDir root;
        const std::string target = root.path() + "/t/";
        std::filesystem::create_directories(target);
        c.make(target);
        const auto before = Listing(root.path());
        EXPECT_EQ(PlanActionName(
                      ClassifyKitFile(fs, storedTimes, U16(target), U16("dir/file.txt"), record)),
                  std::string(PlanActionName(c.expected)))
            << c.what;
        EXPECT_EQ(Listing(root.path()), before) << c.what;
    }
}

TEST(InstallPlanTest, CountsAndSummary) {
    PlanCounts counts;
    for (PlanAction action : {PlanAction::Install, PlanAction::Install, PlanAction::Replace,
                              PlanAction::Conflict, PlanAction::Install}) {
        counts.Add(action);
    }
    EXPECT_EQ(std::string(counts.Summary().c_str()), "3 install, 1 replace, 0 skip, 1 conflict");
}

}  // namespace
}  // namespace app_test
