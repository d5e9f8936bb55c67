#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kit/KitTestSupport.h"

extern char** environ;

using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using fs_test::WriteFile;
using kit_test::Kit;
using kit_test::ScopedTempRoot;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the built pkdtool with `arguments`, no shell involved.
ToolRun RunTool(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    std::string program = PKDTOOL_PATH;
    argv.push_back(&program[0]);
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies) {
        argv.push_back(&argument[0]);
    }
    argv.push_back(nullptr);
    int outPipe[2];
    int errPipe[2];
    ToolRun run;
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (spawned != 0) {
        ADD_FAILURE() << "posix_spawn " << program;
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        return run;
    }
    struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0 && ::poll(fds, 2, 30000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof(buffer));
            if (got <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A vendor tree with nested folders, an empty file and shell metacharacters
// and Cyrillic in its names.
class PkdtoolTree : public ::testing::Test {
protected:
    void SetUp() override {
        ::mkdir((m_dir / "tree").c_str(), 0700);
        ::mkdir((m_dir / "tree/sub dir").c_str(), 0700);
        ::mkdir((m_dir / "tree/sub dir/\xd0\x9a\xd0\xbb\xd1\x8e\xd1\x87").c_str(), 0700);
        m_files = {
            {"b.cfg", "bravo"},
            {"a \"$(touch pwned)\" `x`.cfg", "alpha"},
            {"sub dir/empty.cfg", ""},
            {"sub dir/\xd0\x9a\xd0\xbb\xd1\x8e\xd1\x87/big.bin", kit_test::Pattern(300000, 3)},
        };
        time_t when = 1500000000;
        for (const auto& [name, bytes] : m_files) {
            WriteFile(m_dir / ("tree/" + name), bytes, when);
            when += 3600;
        }
    }

    ScopedTempRoot m_temp;
    TempDir m_dir;
    std::vector<std::pair<std::string, std::string>> m_files;
};

TEST_F(PkdtoolTree, CreateThenLoadAndExtractGiveTheSameBytesAndTimes) {
    const ToolRun created =
        RunTool({"create", "-o", m_dir / "qarn.pkd", "--product", "en:Templates:ACME:doc\\r.html",
                 "--product", "de:Vorlagen:ACME:", m_dir / "tree"});
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_EQ(created.err, "");
    EXPECT_FALSE(fs_test::Exists("pwned"));

    Kit kit;
    ASSERT_EQ(kit.Load(U16(m_dir / "qarn.pkd")), 0u);
    ASSERT_EQ(kit.m_products.size(), 2u);
    EXPECT_EQ(kit.m_products[0].m_productName, u"Templates");
    EXPECT_EQ(kit.m_products[1].m_language, u"de");
    // Sorted by relative path, with backslash separators.
    const std::vector<stdx::u16string> names = {u"a \"$(touch pwned)\" `x`.cfg", u"b.cfg",
                                                u"sub dir\\empty.cfg",
                                                u"sub dir\\\u041a\u043b\u044e\u0447\\big.bin"};
    ASSERT_EQ(kit.m_files.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(kit.m_files[i].m_name, names[i]);
        const std::string relative = fs_test::U8(names[i]);
        std::string slashed = relative;
        for (char& c : slashed) {
            c = c == '\\' ? '/' : c;
        }
        const std::string target = m_dir / ("out" + std::to_string(i));
        ASSERT_EQ(kit.ExtractFile(i, U16(target)), 0u);
        EXPECT_TRUE(ReadFile(target) == ReadFile(m_dir / ("tree/" + slashed))) << relative;
        EXPECT_EQ(fs_test::ModifiedSeconds(target),
                  fs_test::ModifiedSeconds(m_dir / ("tree/" + slashed)));
    }
}

TEST_F(PkdtoolTree, ListShowsProductsThenSizeTimeAndName) {
    ASSERT_EQ(RunTool({"create", "-o", m_dir / "k.pkd", "--single", "--level", "0", "--product",
                       "xx:Name:Vendor:doc.txt", m_dir / "tree"})
                  .status,
              0);
    const ToolRun listed = RunTool({"list", m_dir / "k.pkd"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("products: 1\n  en: name \"Name\", provider \"Vendor\", "
                              "description \"doc.txt\"\nintegrity: intact, not signed\nfiles: 4\n"),
              std::string::npos)
        << listed.out;
    EXPECT_NE(listed.out.find("           5  2017-07-14T03:40:00Z  a \"$(touch pwned)\" `x`.cfg\n"),
              std::string::npos)
        << listed.out;
    EXPECT_NE(listed.out.find("      300000  2017-07-14T05:40:00Z  sub dir\\\xd0\x9a"),
              std::string::npos)
        << listed.out;
    EXPECT_EQ(m_temp.StreamFiles(), 0u);
}

TEST_F(PkdtoolTree, ManifestGivesTheProducts) {
    WriteFile(m_dir / "manifest", "[product]\nlanguage = en\nname = From: manifest\n");
    ASSERT_EQ(
        RunTool({"create", "-o", m_dir / "k.pkd", "--manifest", m_dir / "manifest", m_dir / "tree"})
            .status,
        0);
    Kit kit;
    ASSERT_EQ(kit.Load(U16(m_dir / "k.pkd")), 0u);
    ASSERT_EQ(kit.m_products.size(), 1u);
    EXPECT_EQ(kit.m_products[0].m_productName, u"From: manifest");
}

TEST_F(PkdtoolTree, FailuresAreOneLineOnStandardErrorWithAStatus) {
    WriteFile(m_dir / "notakit", "hello");
    const ToolRun unreadable = RunTool({"list", m_dir / "notakit"});
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_NE(unreadable.err.find(m_dir / "notakit"), std::string::npos);
    EXPECT_NE(unreadable.err.find("damaged"), std::string::npos);
    EXPECT_EQ(std::count(unreadable.err.begin(), unreadable.err.end(), '\n'), 1);

    const ToolRun missing = RunTool({"list", m_dir / "missing"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no such file"), std::string::npos) << missing.err;

    const ToolRun usage = RunTool({"create", m_dir / "tree"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(std::count(usage.err.begin(), usage.err.end(), '\n'), 1);

    // A backslash inside a name cannot be told from a separator.
    WriteFile(m_dir / "tree/back\\slash", "x");
    const ToolRun refused = RunTool({"create", "-o", m_dir / "bad.pkd", m_dir / "tree"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("backslash"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs_test::Exists(m_dir / "bad.pkd"));

    const ToolRun help = RunTool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: pkdtool create"), std::string::npos);
}

// A hostile kit's names and texts reached the terminal raw, escape
// sequences and all.
TEST_F(PkdtoolTree, ListPrintsControlCharactersRaw) {
    WriteFile(m_dir / "tree/evil\x1b]0;title\x07.cfg", "x");
    ASSERT_EQ(RunTool({"create", "-o", m_dir / "k.pkd", "--product", "en:Bell\x07:V\x1b[2J:d",
                       m_dir / "tree"})
                  .status,
              0);
    const ToolRun listed = RunTool({"list", m_dir / "k.pkd"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out.find('\x1b'), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find('\x07'), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("name \"Bell\\x07\", provider \"V\\x1B[2J\""), std::string::npos)
        << listed.out;
    EXPECT_NE(listed.out.find("  evil\\x1B]0;title\\x07.cfg\n"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("\"\nintegrity: intact, not signed\nfiles: "), std::string::npos)
        << listed.out;
}

// "create -o DIR/qarn.pkd DIR" packed the earlier qarn.pkd as a template.
TEST_F(PkdtoolTree, CreateIntoItsOwnSourcePacksTheEarlierKit) {
    for (int run = 0; run < 2; ++run) {
        const ToolRun created = RunTool({"create", "-o", m_dir / "tree/qarn.pkd", m_dir / "tree"});
        ASSERT_EQ(created.status, 0) << created.err;
    }
    Kit kit;
    ASSERT_EQ(kit.Load(U16(m_dir / "tree/qarn.pkd")), 0u);
    EXPECT_EQ(kit.m_files.size(), m_files.size());
    for (const auto& file : kit.m_files) {
        EXPECT_NE(file.m_name, u"qarn.pkd");
    }
}

TEST_F(PkdtoolTree, KeygenSignAndVerifyWithStatuses) {
    const ToolRun made = RunTool({"keygen", "-o", m_dir / "secret", "--public", m_dir / "pub"});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out, ReadFile(m_dir / "pub"));
    EXPECT_EQ(made.out.rfind("ed25519:", 0), 0u);
    struct stat status;
    ASSERT_EQ(::stat((m_dir / "secret").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    const std::string secret = ReadFile(m_dir / "secret");
    const ToolRun again = RunTool({"keygen", "-o", m_dir / "secret"});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(ReadFile(m_dir / "secret"), secret) << "an existing key was overwritten";
    ASSERT_EQ(RunTool({"keygen", "-o", m_dir / "other", "--public", m_dir / "other.pub"}).status,
              0);
    WriteFile(m_dir / "bad.pub", "not a key\n");

    ASSERT_EQ(
        RunTool({"create", "-o", m_dir / "signed.pkd", "--sign", m_dir / "secret", m_dir / "tree"})
            .status,
        0);
    ASSERT_EQ(
        RunTool({"create", "-o", m_dir / "bare.pkd", "--no-integrity", m_dir / "tree"}).status, 0);
    const std::string keyId = RunTool({"verify", m_dir / "signed.pkd"}).out;
    ASSERT_EQ(keyId.rfind("intact, signed by ", 0), 0u) << keyId;
    const std::vector<std::pair<std::vector<std::string>, std::pair<int, std::string>>> cases = {
        {{"verify", m_dir / "signed.pkd", "--key", m_dir / "pub"}, {0, keyId}},
        {{"verify", m_dir / "signed.pkd", "--key", m_dir / "other.pub", "--key", m_dir / "pub"},
         {0, keyId}},
        {{"verify", m_dir / "signed.pkd", "--key", m_dir / "other.pub"}, {1, keyId}},
        {{"verify", m_dir / "bare.pkd"}, {1, "no integrity record\n"}},
        {{"verify", m_dir / "signed.pkd", "--key", m_dir / "bad.pub"}, {2, ""}},
        {{"verify"}, {2, ""}},
        {{"create", "-o", m_dir / "x.pkd", "--sign", m_dir / "secret", "--no-integrity",
          m_dir / "tree"},
         {2, ""}},
        {{"create", "-o", m_dir / "x.pkd", "--sign", m_dir / "pub", m_dir / "tree"}, {1, ""}},
    };
    for (const auto& [arguments, expected] : cases) {
        const ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.status, expected.first) << arguments[0] << " " << arguments.back();
        EXPECT_EQ(run.out, expected.second) << arguments[0] << " " << arguments.back();
    }
    EXPECT_FALSE(fs_test::Exists(m_dir / "x.pkd"));
}

}  // namespace
