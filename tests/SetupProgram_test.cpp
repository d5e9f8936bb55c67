// The built Setup program, run as a user or a script would run it, on a
// machine without a display.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "text/Encoding.h"
#include "text/Languages.h"

namespace {

namespace fs = std::filesystem;

using test_support::ReadFile;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

void WriteFile(const std::string& path, const std::string& bytes, std::int64_t unixTime = 0) {
    fs::create_directories(fs::path(path).parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    if (unixTime != 0) {
        struct timeval times[2] = {{static_cast<time_t>(unixTime), 0},
                                   {static_cast<time_t>(unixTime), 0}};
        ::utimes(path.c_str(), times);
    }
}

// Regular files below root: relative path -> modification time and bytes.
std::map<std::string, std::string> Files(const std::string& root) {
    std::map<std::string, std::string> files;
    std::error_code error;
    if (!fs::exists(root, error)) {
        return files;
    }
    for (auto it = fs::recursive_directory_iterator(root, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        struct stat status;
        ::lstat(it->path().c_str(), &status);
        std::string relative = fs::relative(it->path(), root).string();
        if (S_ISDIR(status.st_mode)) {
            files[relative + "/"] = "dir";
        } else {
            files[relative] = std::to_string(static_cast<long long>(status.st_mtime)) + ":" +
                              ReadFile(it->path());
        }
    }
    return files;
}

std::string Localized(const char* language, const char* key) {
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
    // Runs a program in `cwd` with only these environment variables (no
    // DISPLAY), capturing both output streams.
    Result Run(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& cwd, const std::vector<std::string>& extraEnvironment = {}) {
        return Finish(Start(program, arguments, cwd, extraEnvironment));
    }
    // Starts a program as Run does and returns its process id (0 when it
    // could not be started).
    pid_t Start(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& cwd, const std::vector<std::string>& extraEnvironment = {}) {
        std::vector<std::string> args = {program};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : args) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> environment = {"HOME=" + home, "TMPDIR=" + tmp,
                                                "PATH=/usr/bin:/bin", "LANG=C"};
        environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
        std::vector<char*> envp;
        for (std::string& entry : environment) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);

        const std::string outPath = root + "/stdout";
        const std::string errPath = root + "/stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::string oldCwd = fs::current_path().string();
        fs::current_path(cwd);
        pid_t pid = 0;
        int spawned =
            posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        fs::current_path(oldCwd);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(spawned, 0) << program;
        return spawned == 0 ? pid : 0;
    }
    // Waits for a program that Start started, at most timeoutSeconds (then
    // it is killed and the status is -1), and collects its output. A status
    // above 128 is 128 plus the signal that ended it.
    Result Finish(pid_t pid, int timeoutSeconds = 120) {
        Result result;
        if (pid == 0) {
            return result;
        }
        int status = 0;
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
        }
        result.status = !ended              ? -1
                        : WIFEXITED(status) ? WEXITSTATUS(status)
                                            : 128 + WTERMSIG(status);
        const std::string outPath = root + "/stdout";
        const std::string errPath = root + "/stderr";
        result.out = ReadFile(outPath);
        result.err = ReadFile(errPath);
        fs::remove(outPath);
        fs::remove(errPath);
        return result;
    }

    Result Setup(const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment = {}) {
        return Run(SETUP_PATH, arguments, kitDir, environment);
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

TEST_F(SetupProgramTest, SilentInstallFromTheCurrentDirectory) {
    MakeKit(kitDir + "/qarn.pkd");
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.err.empty()) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
    EXPECT_EQ(Files(DefaultTarget()), Files(source));
    EXPECT_EQ(ReadFile(UserConfig()), "ConfigurationTemplatesLocation=" + DefaultTarget() + "\n");
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(SetupProgramTest, SilentInstallFindsTheKitBesideTheBundle) {
    const std::string bundle = root + "/Volume/Templates.app/Contents/MacOS";
    fs::create_directories(bundle);
    fs::copy_file(SETUP_PATH, bundle + "/Setup");
    fs::permissions(bundle + "/Setup", fs::perms::owner_all);
    MakeKit(root + "/Volume/qarn.pkd");

    Result result = Run(bundle + "/Setup", {"/S"}, kitDir);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Files(DefaultTarget()), Files(source));
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(SetupProgramTest, SilentInstallRecordsAnExistingLocation) {
    MakeKit(kitDir + "/qarn.pkd");
    const std::string chosen = root + "/templates";
    fs::create_directories(chosen);
    WriteFile(UserConfig(),
              "InstalledLocation=/opt/qa\nConfigurationTemplatesLocation=" + chosen + "\n");
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Files(chosen), Files(source));
    EXPECT_EQ(ReadFile(UserConfig()),
              "InstalledLocation=/opt/qa\nConfigurationTemplatesLocation=" + chosen + "\n");
    EXPECT_FALSE(fs::exists(DefaultTarget()));
}

TEST_F(SetupProgramTest, DamagedKitFailsWithTheMessageAndChangesNothing) {
    WriteFile(kitDir + "/qarn.pkd", std::string(4096, '\x7f'));
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, Localized("en", "IDS_ERROR_DAMAGEDSOURCE") + "\n");
    ExpectNothingChanged(result);
}

TEST_F(SetupProgramTest, TruncatedKitFailsWithTheMessageAndChangesNothing) {
    MakeKit(root + "/whole.pkd");
    std::string whole = ReadFile(root + "/whole.pkd");
    WriteFile(kitDir + "/qarn.pkd", whole.substr(0, whole.size() / 2));
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, Localized("en", "IDS_ERROR_DAMAGEDSOURCE") + "\n");
    ExpectNothingChanged(result);
}

TEST_F(SetupProgramTest, MissingKitFailsWithTheMessageAndChangesNothing) {
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, Localized("en", "IDS_ERROR_NOSOURCE") + "\n");
    ExpectNothingChanged(result);
}

// The kit holds a folder where the target already has a file: the run fails
// part-way and rolls back, replaced files included.
TEST_F(SetupProgramTest, FailingInstallationFailsAndLeavesTheTargetAsItWas) {
    MakeKit(kitDir + "/qarn.pkd");
    WriteFile(DefaultTarget() + "/docs/description.txt", "older", 1500000000);
    WriteFile(DefaultTarget() + "/forms", "a file where the kit has a folder", 1500000000);
    auto before = Files(DefaultTarget());
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, Localized("en", "IDS_INSTALL_ERROR") + "\n");
    EXPECT_TRUE(result.out.empty());
    EXPECT_EQ(Files(DefaultTarget()), before);
    EXPECT_FALSE(fs::exists(UserConfig()));
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(SetupProgramTest, ClearedTargetFailsAndInstallsNothing) {
    MakeKit(kitDir + "/qarn.pkd");
    const std::string location = root + "/x/http://host";
    fs::create_directories(location);
    const std::string config = "ConfigurationTemplatesLocation=" + location + "\n";
    WriteFile(UserConfig(), config);
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, Localized("en", "IDS_SETUP_EMPTYTARGET") + "\n");
    EXPECT_EQ(Files(kitDir).size(), 1u);
    EXPECT_TRUE(fs::is_empty(location));
    EXPECT_EQ(ReadFile(UserConfig()), config);
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(SetupProgramTest, InteractiveModeWithoutADisplayRefusesAndChangesNothing) {
    MakeKit(kitDir + "/qarn.pkd");
    Result result = Setup({"usecwd"});
    EXPECT_EQ(result.status, 1);
    ASSERT_FALSE(result.err.empty());
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    ExpectNothingChanged(result);
}

TEST_F(SetupProgramTest, LanguageFromTheSwitchOrTheLocale) {
    Result german = Setup({"usecwd", "/S", "-Lde"});
    EXPECT_EQ(german.status, 1);
    EXPECT_EQ(german.err, Localized("de", "IDS_ERROR_NOSOURCE") + "\n");

    Result russian = Setup({"usecwd", "/S"}, {"LC_ALL=ru_RU.UTF-8"});
    EXPECT_EQ(russian.status, 1);
    EXPECT_EQ(russian.err, Localized("ru", "IDS_ERROR_NOSOURCE") + "\n");
    EXPECT_NE(russian.err, german.err);
}

// A language switch ends the scan: the silent switch after it is not seen,
// so this is an interactive start, which needs a display.
TEST_F(SetupProgramTest, SilentSwitchAfterTheLanguageSwitchIsNotSeen) {
    MakeKit(kitDir + "/qarn.pkd");
    Result result = Setup({"usecwd", "-Lde", "/S"});
    EXPECT_EQ(result.status, 1);
    ExpectNothingChanged(result);
}

#ifdef SLOW_TIMES_LIB
// A termination signal in the middle of a silent installation that
// replaces older files: the program rolls back and ends by itself with a
// failure status, the template directory as it was and nothing left in the
// temporary directory, with no second start.
class SetupSignalTest : public SetupProgramTest, public ::testing::WithParamInterface<int> {};

TEST_P(SetupSignalTest, SignalDuringASilentRunRollsBackAndFails) {
    constexpr std::int64_t kKitTime = 1600000000;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "/dir" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".txt";
        WriteFile(source + name, "new " + std::to_string(i), kKitTime);
        if (i < 10) {
            WriteFile(DefaultTarget() + name, "old " + std::to_string(i), 1500000000);
        }
    }
    Result made = Run(PKDTOOL_PATH, {"create", "-o", kitDir + "/qarn.pkd", source}, root);
    ASSERT_EQ(made.status, 0) << made.err;
    const auto before = Files(DefaultTarget());

    // Each installed file takes 50 ms longer, so the run lasts about two
    // seconds.
    pid_t pid = Start(SETUP_PATH, {"usecwd", "/S"}, kitDir,
                      {"LD_PRELOAD=" SLOW_TIMES_LIB, "QA_SLOW_FILE_TIMES_US=50000"});
    ASSERT_NE(pid, 0);
    // A file carries the kit's time only once it is complete.
    auto installed = [this, kKitTime] {
        int count = 0;
        std::error_code error;
        for (auto it = fs::recursive_directory_iterator(DefaultTarget(), error);
             it != fs::recursive_directory_iterator(); it.increment(error)) {
            struct stat status;
            if (::lstat(it->path().c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
                status.st_mtime == kKitTime) {
                ++count;
            }
        }
        return count;
    };
    for (int i = 0; i < 2000 && installed() < 5; ++i) {
        ::usleep(5000);
    }
    ASSERT_GE(installed(), 5);
    ASSERT_LT(installed(), 40) << "the run ended before the signal";
    ASSERT_EQ(::kill(pid, GetParam()), 0);

    Result result = Finish(pid, 10);
    EXPECT_NE(result.err.find(Localized("en", "IDS_CANCEL_FINISH")), std::string::npos)
        << result.err;
    EXPECT_GT(result.status, 0) << result.err;
    EXPECT_LT(result.status, 128) << "ended by the signal itself, without a rollback";
    EXPECT_EQ(Files(DefaultTarget()), before);
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_FALSE(fs::exists(UserConfig()));
}

INSTANTIATE_TEST_SUITE_P(TerminationSignals, SetupSignalTest,
                         ::testing::Values(SIGTERM, SIGINT, SIGHUP));
#endif

}  // namespace
