#include "app/InstallPlan.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
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

// What stands at (or above) the kit file "dir/file.txt" decides its action;
// nothing on disk changes.
TEST(InstallPlanTest, ClassifiesWhatStandsAtEachKitPath) {
    struct Case {
        const char* what;
        std::function<void(const std::string& target)> make;
        FileDecision expected;
        std::uint64_t recordSize = 1;
    };
    auto file = [](std::int64_t seconds, const std::string& bytes = "x") {
        return [seconds, bytes](const std::string& target) {
            WriteFile(target + "dir/file.txt", bytes);
            SetModificationTime(target + "dir/file.txt", seconds);
        };
    };
    const Case cases[] = {
        {"nothing", [](const std::string&) {}, FileDecision::Install},
        {"the folder only",
         [](const std::string& t) { std::filesystem::create_directories(t + "dir"); },
         FileDecision::Install},
        {"an older file", file(kRecordSeconds - 1), FileDecision::Replace},
        {"a file of the same second", file(kRecordSeconds), FileDecision::Skip},
        {"a newer file", file(kRecordSeconds + 100), FileDecision::Skip},
        // Of the record's time but not its size: a damaged copy.
        {"a shorter file of the same second", file(kRecordSeconds), FileDecision::Repair, 5},
        {"a longer file of the same second", file(kRecordSeconds, "xxxxxx"), FileDecision::Repair},
        {"an empty file of the same second", file(kRecordSeconds, ""), FileDecision::Repair},
        // The user's own edit is kept, whatever its size.
        {"a newer file of another size", file(kRecordSeconds + 100), FileDecision::Skip, 7},
        {"an older file of another size", file(kRecordSeconds - 1), FileDecision::Replace, 7},
        {"a directory",
         [](const std::string& t) { std::filesystem::create_directories(t + "dir/file.txt"); },
         FileDecision::Conflict},
        {"a FIFO",
         [](const std::string& t) {
             std::filesystem::create_directories(t + "dir");
             ASSERT_EQ(::mkfifo((t + "dir/file.txt").c_str(), 0600), 0);
         },
         FileDecision::Conflict},
        {"a socket",
         [](const std::string& t) {
             std::filesystem::create_directories(t + "dir");
             MakeSocket(t + "dir/file.txt");
         },
         FileDecision::Conflict},
        {"a link to a newer file",
         [](const std::string& t) {
             WriteFile(t + "real.txt", "x");
             SetModificationTime(t + "real.txt", kRecordSeconds + 100);
             std::filesystem::create_directories(t + "dir");
             std::filesystem::create_symlink(t + "real.txt", t + "dir/file.txt");
         },
         FileDecision::Conflict},
        {"a dangling link",
         [](const std::string& t) {
             std::filesystem::create_directories(t + "dir");
             std::filesystem::create_symlink(t + "gone", t + "dir/file.txt");
         },
         FileDecision::Conflict},
        {"a file where the folder goes", [](const std::string& t) { WriteFile(t + "dir", "x"); },
         FileDecision::Conflict},
        {"a link where the folder goes",
         [](const std::string& t) {
             std::filesystem::create_directories(t + "elsewhere");
             std::filesystem::create_symlink(t + "elsewhere", t + "dir");
         },
         FileDecision::Conflict},
        {"a device",
         [](const std::string& t) {
             std::filesystem::create_directories(t + "dir");
             // A character device like /dev/null; making one needs root.
             if (::mknod((t + "dir/file.txt").c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0) {
                 std::filesystem::create_symlink("/dev/null", t + "dir/file.txt");
                 std::cerr << "not root: a link to /dev/null stands in for a device\n";
             }
         },
         FileDecision::Conflict},
    };
    FileSystem fs;
    const FileTime record = FileSystem::FromUnixSeconds(kRecordSeconds) + 5000000;  // + 0.5 s
    for (const Case& c : cases) {
        TempDir root;
        const std::string target = root.path() + "/t/";
        std::filesystem::create_directories(target);
        c.make(target);
        const Tree before = Snapshot(root.path(), TreeDetail::kExact);
        DirectoryHandles<FileSystem> handles(fs);
        handles.Reset(U16(target));
        StoredTimeRules<> rules;
        FilePlanner<FileSystem> planner(fs, handles, rules);
        EXPECT_EQ(PlanActionName(ClassifyKitFile(planner, "dir/file.txt", record, c.recordSize)),
                  std::string(PlanActionName(c.expected)))
            << c.what;
        EXPECT_EQ(Snapshot(root.path(), TreeDetail::kExact), before) << c.what;
    }
}

TEST(InstallPlanTest, CountsAndSummary) {
    PlanCounts counts;
    for (FileDecision action : {FileDecision::Install, FileDecision::Install, FileDecision::Replace,
                                FileDecision::Conflict, FileDecision::Install}) {
        counts.Add(action);
    }
    EXPECT_EQ(std::string(counts.Summary().c_str()), "3 install, 1 replace, 0 skip, 1 conflict");
    // Repairs are named only where there are some, after the rest.
    counts.Add(FileDecision::Repair);
    EXPECT_EQ(std::string(counts.Summary().c_str()),
              "3 install, 1 replace, 0 skip, 1 conflict, 1 repair");
}

}  // namespace
}  // namespace app_test
