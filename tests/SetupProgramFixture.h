#pragma once

// The built Setup program, run as a user or a script would run it, on a
// machine without a display: a private HOME, TMPDIR and kit folder per test.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/ArgumentVector.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TreeSnapshot.h"
#include "text/Encoding.h"
#include "text/Languages.h"

namespace setup_test {

namespace fs = std::filesystem;

using test_support::ReadFile;
using test_support::SetModificationTime;
using test_support::Snapshot;
using test_support::Tree;
using test_support::WriteFile;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string Localized(const char* language, const char* key) {
    int previous = CurrentLanguage();
    SetLanguage(LanguageIdFromCode(language));
    stdx::string text = Utf16ToUtf8(LocalizedString(key));
    SetLanguage(previous);
    return std::string(text.c_str(), text.size());
}

class SetupProgramTest : public ::testing::Test {
protected:
    SetupProgramTest() {
        home = root + "/home";
        tmp = root + "/tmp";
        kitDir = root + "/kit";
        source = root + "/src";
        fs::create_directories(home);
        fs::create_directories(tmp);
        fs::create_directories(kitDir);
    }
    // Starts a program in `cwd` with only these environment variables (no
    // DISPLAY), its output streams going to files; Collect waits for it.
    pid_t Spawn(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& cwd, const std::vector<std::string>& extraEnvironment = {}) {
        std::vector<std::string> args = {program};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv = test_support::NullTerminated(args);
        std::vector<std::string> environment = {"HOME=" + home, "TMPDIR=" + tmp,
                                                "PATH=/usr/bin:/bin", "LANG=C"};
        // An extra variable replaces one of the same name.
        for (const std::string& extra : extraEnvironment) {
            const std::string name = extra.substr(0, extra.find('=') + 1);
            bool replaced = false;
            for (std::string& entry : environment) {
                if (entry.compare(0, name.size(), name) == 0) {
                    entry = extra;
                    replaced = true;
                }
            }
            if (!replaced) {
                environment.push_back(extra);
            }
        }
        std::vector<char*> envp = test_support::NullTerminated(environment);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, OutPath().c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, ErrPath().c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::string oldCwd = fs::current_path().string();
        fs::current_path(cwd);
        pid_t pid = 0;
        int spawned =
            posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        fs::current_path(oldCwd);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(spawned, 0) << program;
        return spawned == 0 ? pid : -1;
    }
    // Waits for a program that Spawn started and collects its output. With
    // a timeout, a program still running after it is killed and reported
    // with status -1.
    Result Collect(pid_t pid, int timeoutSeconds = 0) {
        Result result;
        if (pid < 0) {
            return result;
        }
        int status = 0;
        if (timeoutSeconds > 0) {
            bool ended = false;
            for (int i = 0; i < timeoutSeconds * 100 && !ended; ++i) {
                ended = ::waitpid(pid, &status, WNOHANG) == pid;
                if (!ended) {
                    ::usleep(10000);
                }
            }
            if (!ended) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return result;
            }
        } else {
            ::waitpid(pid, &status, 0);
        }
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = ReadFile(OutPath());
        result.err = ReadFile(ErrPath());
        fs::remove(OutPath());
        fs::remove(ErrPath());
        return result;
    }
    Result Run(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& cwd, const std::vector<std::string>& extraEnvironment = {}) {
        return Collect(Spawn(program, arguments, cwd, extraEnvironment));
    }
    std::string OutPath() const { return root + "/stdout"; }
    std::string ErrPath() const { return root + "/stderr"; }

    Result Setup(const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment = {}) {
        return Run(SETUP_PATH, arguments, kitDir, environment);
    }
    pid_t StartSetup(const std::vector<std::string>& arguments,
                     const std::vector<std::string>& environment = {}) {
        return Spawn(SETUP_PATH, arguments, kitDir, environment);
    }

    // Templates in nested folders with their times, and an English and a
    // Russian product.
    void MakeKit(const std::string& kitPath) {
        WriteFile(source + "/readme.txt", "read me", 1600000000);
        WriteFile(source + "/docs/description.txt", "Description", 1600000100);
        WriteFile(source + "/forms/2024/invoice.xml", "<invoice/>", 1600000200);
        WriteFile(source + "/forms/2024/Счёт.xml", "<счёт/>", 1600000300);
        Result made =
            Run(PKDTOOL_PATH,
                {"create", "-o", kitPath, "--product", "en:Templates:ACME:docs\\description.txt",
                 "--product", "ru:Шаблоны:АКМЕ:docs\\description.txt", source},
                root);
        ASSERT_EQ(made.status, 0) << made.err;
    }

    std::string DefaultTarget() const { return home + "/.qarn/Qa/qarn/tmplts"; }
    std::string UserConfig() const { return home + "/.Qa/qalaunch/qalaunch.cfg"; }

    void ExpectNothingChanged(const Result& result) {
        EXPECT_TRUE(result.out.empty()) << result.out;
        EXPECT_TRUE(fs::is_empty(home)) << "HOME was changed";
        EXPECT_TRUE(fs::is_empty(tmp)) << "TMPDIR was left with files";
    }

    test_support::TempDir rootDir;
    std::string root = rootDir.path();
    std::string home;
    std::string tmp;
    std::string kitDir;
    std::string source;
};

}  // namespace setup_test
