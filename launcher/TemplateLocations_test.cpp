#include "launcher/TemplateLocations.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "launcher/LauncherPaths.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TreeSnapshot.h"

namespace {

using test_support::CountEntries;
using test_support::EnvOverride;
using test_support::Exists;
using test_support::ReadFile;
using test_support::TempDir;
using test_support::U16;
using test_support::U8;
using test_support::WriteFile;

using Locations = std::vector<stdx::u16string>;

std::vector<std::string> Narrow(const Locations& locations) {
    std::vector<std::string> out;
    for (const auto& location : locations) {
        out.push_back(U8(location));
    }
    return out;
}

Locations Wide(const std::vector<std::string>& locations) {
    Locations out;
    for (const auto& location : locations) {
        out.push_back(U16(location));
    }
    return out;
}

std::string Key(const std::string& value) {
    return "ConfigurationTemplatesLocation=" + value + "\n";
}

class TemplateLocationsTest : public ::testing::Test {
protected:
    std::string User() const { return U8(UserConfigPath()); }
    std::string Alternate() const { return U8(AlternateUserConfigPath()); }
    std::string Common() const { return U8(CommonConfigPath()); }

    std::vector<std::string> Load(bool alternate) {
        Locations locations;
        LoadTemplateLocations(locations, alternate);
        return Narrow(locations);
    }

    TempDir m_home;
    EnvOverride m_override{"HOME", m_home.path()};
};

TEST_F(TemplateLocationsTest, NoFilesGiveNoLocations) {
    EXPECT_TRUE(Load(false).empty());
    EXPECT_TRUE(Load(true).empty());
    EXPECT_EQ(CountEntries(m_home.path()), 0u);
}

TEST_F(TemplateLocationsTest, UserLocationsComeBeforeCommonOnesAndMergeWithoutCase) {
    WriteFile(User(), Key("/Data/D1") + "Other=x\n" + Key("/Data/D3"));
    WriteFile(Common(), Key("/data/d1") + Key("/Data/D2"));
    EXPECT_EQ(Load(false), (std::vector<std::string>{"/Data/D1", "/Data/D3", "/Data/D2"}));
}

TEST_F(TemplateLocationsTest, AlternateFlagReadsTheAlternateAndTheUserFile) {
    WriteFile(User(), Key("/from/user"));
    WriteFile(Alternate(), Key("/from/alternate"));
    WriteFile(Common(), Key("/from/common"));
    EXPECT_EQ(Load(true), (std::vector<std::string>{"/from/alternate", "/from/user"}));
    EXPECT_EQ(Load(false), (std::vector<std::string>{"/from/user", "/from/common"}));
}

TEST_F(TemplateLocationsTest, BackslashesBecomeSlashes) {
    WriteFile(User(), Key("\\Users\\me\\Templates\\"));
    EXPECT_EQ(Load(false), std::vector<std::string>{"/Users/me/Templates/"});
}

TEST_F(TemplateLocationsTest, TrailingSlashDuplicatesAreRemovedKeepingTheFirstSpelling) {
    WriteFile(User(), Key("/a/b") + Key("/A/B/") + Key("/c/") + Key("/c"));
    WriteFile(Common(), Key("\\A\\b\\"));
    EXPECT_EQ(Load(false), (std::vector<std::string>{"/a/b", "/c/"}));
}

TEST_F(TemplateLocationsTest, UnreadableBytesDoNotStopLoading) {
    WriteFile(User(), std::string("\xFF\xFEgarbage\0\0\n", 12) + Key("/ok"));
    EXPECT_EQ(Load(false), std::vector<std::string>{"/ok"});
}

// The controller's use of both operations: which files it reads at start,
// and which it writes after a successful installation.
class InstallerRule {
public:
    InstallerRule() {
        m_alternateExists = Exists(U8(AlternateUserConfigPath()));
        if (Exists(U8(UserConfigPath()))) {
            LoadTemplateLocations(m_locations, false);
        } else if (m_alternateExists) {
            LoadTemplateLocations(m_locations, true);
            m_fromAlternate = !m_locations.empty();
        }
        for (const auto& location : m_locations) {
            if (IsDirectoryWritable(location)) {
                m_proposed = location;
                break;
            }
        }
        if (m_proposed.empty()) {
            m_proposed = DefaultTemplateDirectory() + u"tmplts/";
        }
    }

    void RecordInstallation() {
        stdx::u16string chosen = m_proposed;
        if (!chosen.empty() && (chosen.back() == u'/' || chosen.back() == u'\\')) {
            chosen.erase(chosen.size() - 1);
        }
        m_locations.insert(m_locations.begin(), chosen);
        if (!m_fromAlternate) {
            SaveTemplateLocations(m_locations, false);
        }
        if (m_alternateExists) {
            SaveTemplateLocations(m_locations, true);
        }
    }

    Locations m_locations;
    stdx::u16string m_proposed;
    bool m_alternateExists = false;
    bool m_fromAlternate = false;
};

TEST_F(TemplateLocationsTest, NoFilesProposeTheDefaultAndCreateOnlyTheUserFile) {
    InstallerRule rule;
    const std::string proposed = m_home.path() + "/.qarn/Qa/qarn/tmplts/";
    EXPECT_EQ(U8(rule.m_proposed), proposed);
    rule.RecordInstallation();
    EXPECT_EQ(ReadFile(User()), Key(proposed.substr(0, proposed.size() - 1)));
    EXPECT_FALSE(Exists(Alternate()));
    EXPECT_FALSE(Exists(Common()));
}

TEST_F(TemplateLocationsTest, OnlyUserFileIsReadAndWritten) {
    TempDir writable;
    WriteFile(User(), "DefaultVersion=8.3\n" + Key("/nonexistent/place") + Key(writable.path()));
    WriteFile(Common(), Key("/common/place"));
    InstallerRule rule;
    EXPECT_EQ(U8(rule.m_proposed), writable.path());
    rule.RecordInstallation();
    EXPECT_EQ(ReadFile(User()), "DefaultVersion=8.3\n" + Key(writable.path()) +
                                    Key("/nonexistent/place") + Key("/common/place"));
    EXPECT_FALSE(Exists(Alternate()));
    EXPECT_EQ(ReadFile(Common()), Key("/common/place"));
}

TEST_F(TemplateLocationsTest, UserAndAlternateFilesBothReceiveTheLocations) {
    TempDir writable;
    WriteFile(User(), Key(writable.path() + "/"));
    WriteFile(Alternate(), "InstallComponents=all\n" + Key("/from/alternate"));
    WriteFile(Common(), Key("/from/common"));
    InstallerRule rule;
    EXPECT_FALSE(rule.m_fromAlternate);
    EXPECT_EQ(Narrow(rule.m_locations),
              (std::vector<std::string>{writable.path() + "/", "/from/common"}));
    rule.RecordInstallation();
    // The chosen spelling comes first and pushes out the older one.
    const std::string expected = Key(writable.path()) + Key("/from/common");
    EXPECT_EQ(ReadFile(User()), expected);
    EXPECT_EQ(ReadFile(Alternate()), "InstallComponents=all\n" + expected);
}

TEST_F(TemplateLocationsTest, OnlyAlternateFileWithLocationsIsTheOneWritten) {
    TempDir writable;
    WriteFile(Alternate(), Key(writable.path()) + Key("/second"));
    InstallerRule rule;
    EXPECT_TRUE(rule.m_fromAlternate);
    EXPECT_EQ(U8(rule.m_proposed), writable.path());
    rule.RecordInstallation();
    EXPECT_FALSE(Exists(User()));
    EXPECT_EQ(ReadFile(Alternate()), Key(writable.path()) + Key("/second"));
}

TEST_F(TemplateLocationsTest, OnlyAlternateFileWithoutLocationsWritesBoth) {
    WriteFile(Alternate(), "DefaultVersion=8.3\n");
    InstallerRule rule;
    EXPECT_FALSE(rule.m_fromAlternate);
    rule.RecordInstallation();
    const std::string chosen = m_home.path() + "/.qarn/Qa/qarn/tmplts";
    EXPECT_EQ(ReadFile(User()), Key(chosen));
    EXPECT_EQ(ReadFile(Alternate()), "DefaultVersion=8.3\n" + Key(chosen));
}

TEST(RemoveDuplicateLocationsTest, KeysAddOneSlashOnlyWhenNeeded) {
    Locations locations = Wide({"", "", "/x", "/x\\", "/X/", "/x//", "/y\\", "/y/"});
    RemoveDuplicateLocations(locations);
    // "/X/" repeats "/x"; "/x\" keeps its backslash in the key, so it differs.
    EXPECT_EQ(Narrow(locations),
              (std::vector<std::string>{"", "/x", "/x\\", "/x//", "/y\\", "/y/"}));
}

TEST_F(TemplateLocationsTest, SaveKeepsOtherKeysInOrderAndReplacesTheLocations) {
    WriteFile(User(), "DefaultVersion=8.3\n" + Key("/old") + "bare\nDEFAULTVERSION=8.3\n" +
                          "InstalledLocation=/Applications\n");
    WriteFile(Common(), Key("/common"));
    SaveTemplateLocations(Wide({"/new", "/NEW/", "/old"}), false);
    // The launcher's own lines stay as they were, the bare one and the
    // repeated one too.
    EXPECT_EQ(ReadFile(User()), "DefaultVersion=8.3\n" + Key("/new") + Key("/old") +
                                    "bare\nDEFAULTVERSION=8.3\nInstalledLocation=/Applications\n");
    EXPECT_EQ(ReadFile(Common()), Key("/common"));
}

TEST_F(TemplateLocationsTest, SaveAppendsTheKeyWhenTheFileLacksIt) {
    WriteFile(User(), "DefaultVersion=8.3\n");
    SaveTemplateLocations(Wide({"/t"}), false);
    EXPECT_EQ(ReadFile(User()), "DefaultVersion=8.3\n" + Key("/t"));
}

TEST_F(TemplateLocationsTest, SaveOfNoLocationsRemovesTheKey) {
    WriteFile(User(), Key("/a") + "Other=1\n");
    SaveTemplateLocations({}, false);
    EXPECT_EQ(ReadFile(User()), "Other=1\n");
}

TEST_F(TemplateLocationsTest, SavedUnicodeLocationsReadBackUnchanged) {
    const std::vector<std::string> saved{"/Users/иван/Шаблоны", "/Users/李/模板/"};
    SaveTemplateLocations(Wide(saved), false);
    EXPECT_EQ(ReadFile(User()), Key(saved[0]) + Key(saved[1]));
    EXPECT_EQ(Load(false), saved);
}

TEST_F(TemplateLocationsTest, RewriteTurnedBytesThatAreNotUtf8IntoReplacementCharacters) {
    // Latin-1 "café", CP1251 and KOI8-R "Привет", around the key we write.
    const std::string latin1 = "InstalledLocation=/opt/caf\xE9\n";
    const std::string cp1251 = "CommonInfoBases=/home/\xCF\xF0\xE8\xE2\xE5\xF2.v8i\r\n";
    const std::string koi8r = "DistributiveLocation=/srv/\xF0\xD2\xC9\xD7\xC5\xD4";
    WriteFile(User(), latin1 + Key("/old") + cp1251 + Key("/older") + koi8r);
    SaveTemplateLocations(Wide({"/new", "/old"}), false);
    EXPECT_EQ(ReadFile(User()), latin1 + Key("/new") + Key("/old") + cp1251 + koi8r);
}

TEST_F(TemplateLocationsTest, RelativeLocationWasRecorded) {
    WriteFile(User(), Key("Documents/Old") + Key("/kept"));
    SaveTemplateLocations(Wide({"Documents/Templates", "~/Templates", "", "/abs"}), false);
    EXPECT_EQ(ReadFile(User()), Key("/abs"));
}

TEST_F(TemplateLocationsTest, PipeAtTheLauncherFileHungTheReader) {
    WriteFile(Common(), Key("/common"));
    std::filesystem::create_directories(U8(LauncherDirectory()));
    ASSERT_EQ(::mkfifo(User().c_str(), 0600), 0);
    // Opened the usual way, the reader would wait here for ever for a
    // writer; the alarm ends the test program instead.
    ::alarm(30);
    EXPECT_EQ(Load(false), (std::vector<std::string>{"/common"}));
    int code = 0;
    try {
        SaveTemplateLocations(Wide({"/t"}), false);
    } catch (int thrown) {
        code = thrown;
    }
    ::alarm(0);
    EXPECT_EQ(code, kConfigCannotCreate);
    struct stat status;
    ASSERT_EQ(::lstat(User().c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode)) << "not replaced";
    EXPECT_EQ(CountEntries(U8(LauncherDirectory())), 1u);
}

// Fails the first MakeDirectory, as a passing error would.
class FlakyDirectoryFs : public FileSystem {
public:
    ErrorCode MakeDirectory(const stdx::u16string& path) {
        return m_calls++ == 0 ? kErrorInvalidParameter : FileSystem::MakeDirectory(path);
    }
    int m_calls = 0;
};

// Fails the first `failures` attempts to create the new file.
class FailingCreateIo : public ConfigFileIo {
public:
    explicit FailingCreateIo(int failures) : m_failures(failures) {}
    int CreateNew(const std::string& path) {
        if (m_calls++ < m_failures) {
            errno = EIO;
            return -1;
        }
        return ConfigFileIo::CreateNew(path);
    }
    int m_failures;
    int m_calls = 0;
};

TEST_F(TemplateLocationsTest, FailedDirectoryCreationIsMadeUpForBeforeTheRetry) {
    FlakyDirectoryFs fs;
    ConfigFileIo io;
    SaveTemplateLocations(Wide({"/t"}), false, fs, io);
    EXPECT_EQ(fs.m_calls, 2);
    EXPECT_EQ(ReadFile(User()), Key("/t"));
}

TEST_F(TemplateLocationsTest, OneFailedWriteIsRetriedAndASecondFailureThrown) {
    FileSystem fs;
    FailingCreateIo once(1);
    SaveTemplateLocations(Wide({"/t"}), false, fs, once);
    EXPECT_EQ(ReadFile(User()), Key("/t"));

    FailingCreateIo twice(2);
    int code = 0;
    try {
        SaveTemplateLocations(Wide({"/u"}), false, fs, twice);
    } catch (int thrown) {
        code = thrown;
    }
    EXPECT_EQ(code, kConfigCannotCreate);
    EXPECT_EQ(twice.m_calls, 2);
    EXPECT_EQ(ReadFile(User()), Key("/t"));
}

// Where CreateTempFile put a file somewhere else than asked.
class MisplacingFs : public FileSystem {
public:
    explicit MisplacingFs(std::string elsewhere) : m_elsewhere(std::move(elsewhere)) {}
    ErrorCode CreateTempFile(const stdx::u16string&, const stdx::u16string& prefix,
                             stdx::u16string* path) {
        return FileSystem::CreateTempFile(U16(m_elsewhere), prefix, path);
    }
    std::string m_elsewhere;
};

TEST(IsDirectoryWritableTest, ProbeLeavesNothingBehind) {
    TempDir dir;
    EXPECT_TRUE(IsDirectoryWritable(U16(dir.path())));
    EXPECT_TRUE(IsDirectoryWritable(U16(dir.path() + "/")));
    EXPECT_EQ(CountEntries(dir.path()), 0u);
}

TEST(IsDirectoryWritableTest, MissingRelativeOrEmptyDirectoriesAreNotWritable) {
    TempDir dir;
    WriteFile(dir / "file", "x");
    EXPECT_FALSE(IsDirectoryWritable(U16(dir / "missing")));
    EXPECT_FALSE(IsDirectoryWritable(U16(dir / "file")));
    EXPECT_FALSE(IsDirectoryWritable(u""));
    EXPECT_FALSE(IsDirectoryWritable(u"relative/dir"));
    EXPECT_EQ(CountEntries(dir.path()), 1u);
}

TEST(IsDirectoryWritableTest, ReadOnlyDirectoryIsNotWritable) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not bind root";
    }
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0500), 0);
    EXPECT_FALSE(IsDirectoryWritable(U16(dir.path())));
}

TEST(IsDirectoryWritableTest, ProbeLandingElsewhereDoesNotCount) {
    TempDir asked;
    TempDir elsewhere;
    MisplacingFs fs(elsewhere.path());
    EXPECT_FALSE(IsDirectoryWritable(U16(asked.path()), fs));
    EXPECT_EQ(CountEntries(elsewhere.path()), 0u);
}

}  // namespace
