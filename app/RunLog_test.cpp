#include "app/RunLog.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {

using test_support::Lines;
using test_support::ReadFile;
using test_support::TempDir;
using test_support::U16;
using test_support::WriteFile;

TEST(RunLogTest, NewFileIsPrivateAndEveryEventIsOneTimedLine) {
    TempDir dir;
    const std::string path = dir.path() + "/run.log";
    {
        RunLog log;
        ASSERT_TRUE(log.Open(stdx::string(path.c_str())));
        log.Write(stdx::string("start"));
        log.OnFileAction(U16("a/b.txt"), FileAction::Install);
        log.OnFileAction(U16("c.txt"), FileAction::Replace);
        log.OnFileAction(U16("d.txt"), FileAction::Skip);
        log.OnFileAction(U16("e.txt"), FileAction::Repair);
        log.OnRollback(2, 3);
        // Each line is in the file as soon as it is written.
        EXPECT_EQ(Lines(ReadFile(path)).size(), 6u);
    }
    struct stat status;
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    const std::vector<std::string> lines = Lines(ReadFile(path));
    const std::vector<std::string> events = {"start",         "install a/b.txt",
                                             "replace c.txt", "skip d.txt",
                                             "repair e.txt",  "rollback: 2 restored, 3 removed"};
    ASSERT_EQ(lines.size(), events.size());
    const std::regex stamp("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z ");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_search(lines[i], stamp)) << lines[i];
        EXPECT_EQ(lines[i].substr(21), events[i]);
    }
}

TEST(RunLogTest, AppendsToAnExistingFileAndKeepsItsMode) {
    TempDir dir;
    const std::string path = dir.path() + "/run.log";
    WriteFile(path, "earlier line\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    RunLog log;
    ASSERT_TRUE(log.Open(stdx::string(path.c_str())));
    log.Write(stdx::string("later"));
    const std::vector<std::string> lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "earlier line");
    EXPECT_EQ(lines[1].substr(21), "later");
    struct stat status;
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
}

// Regression: --log=/tmp/x, run as root, appended to whatever a link at
// /tmp/x named, and a pipe there held the program in open(). Only a regular
// file at the very path is written to.
TEST(RunLogTest, OnlyARegularFileAtThePathItselfIsWrittenTo) {
    TempDir dir;
    const std::string victim = dir.path() + "/victim";
    WriteFile(victim, "not a log\n");
    ASSERT_EQ(::symlink(victim.c_str(), (dir.path() + "/to-file").c_str()), 0);
    ASSERT_EQ(::symlink((dir.path() + "/nothing").c_str(), (dir.path() + "/dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir.path() + "/pipe").c_str(), 0600), 0);
    for (const char* name : {"to-file", "dangling", "pipe"}) {
        SCOPED_TRACE(name);
        RunLog log;
        EXPECT_FALSE(log.Open(stdx::string((dir.path() + "/" + name).c_str())));
        EXPECT_FALSE(log.IsOpen());
    }
    EXPECT_EQ(ReadFile(victim), "not a log\n");
    EXPECT_FALSE(test_support::Exists(dir.path() + "/nothing"));
    RunLog log;
    EXPECT_FALSE(log.Open(stdx::string("/dev/null")));
}

TEST(RunLogTest, PathsThatCannotBeOpenedAreRefusedAndAnUnopenedLogWritesNothing) {
    TempDir dir;
    for (const std::string& path : {dir.path() + "/missing/run.log", dir.path(), std::string()}) {
        RunLog log;
        EXPECT_FALSE(log.Open(stdx::string(path.c_str()))) << path;
        EXPECT_FALSE(log.IsOpen());
        log.Write(stdx::string("nowhere"));
    }
    EXPECT_TRUE(test_support::Exists(dir.path()));
}

TEST(RunLogTest, TimeAndEscapes) {
    EXPECT_EQ(std::string(RunLog::FormatTime(0).c_str()), "1970-01-01T00:00:00Z");
    EXPECT_EQ(std::string(RunLog::FormatTime(1796722200).c_str()), "2026-12-08T09:30:00Z");
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain text", "plain text"},  {"two\nlines\r", "two\\x0alines\\x0d"},
        {"tab\there", "tab\\x09here"}, {"back\\slash", "back\\\\slash"},
        {"del\x7f", "del\\x7f"},       {"Счёт.xml", "Счёт.xml"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::string(RunLog::Escape(stdx::string(c.in.c_str())).c_str()), c.out);
    }
}

// The install thread and the main thread log at once: no line is torn.
TEST(RunLogTest, LinesFromTwoThreadsStayWhole) {
    TempDir dir;
    const std::string path = dir.path() + "/run.log";
    RunLog log;
    ASSERT_TRUE(log.Open(stdx::string(path.c_str())));
    constexpr int kLines = 500;
    std::thread worker([&log] {
        for (int i = 0; i < kLines; ++i) {
            log.OnFileAction(U16("worker/file"), FileAction::Install);
        }
    });
    for (int i = 0; i < kLines; ++i) {
        log.Write(stdx::string("main thread line"));
    }
    worker.join();
    const std::vector<std::string> lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), 2u * kLines);
    for (const std::string& line : lines) {
        const std::string event = line.substr(21);
        EXPECT_TRUE(event == "install worker/file" || event == "main thread line") << line;
    }
}

}  // namespace
