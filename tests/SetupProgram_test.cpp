// The built Setup program, run as a user or a script would run it, on a
// machine without a display.
#include "tests/SetupProgramFixture.h"

namespace setup_test {
namespace {

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
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.err, Localized("en", "IDS_ERROR_DAMAGEDSOURCE") + "\n");
    ExpectNothingChanged(result);
}

TEST_F(SetupProgramTest, TruncatedKitFailsWithTheMessageAndChangesNothing) {
    MakeKit(root + "/whole.pkd");
    std::string whole = ReadFile(root + "/whole.pkd");
    WriteFile(kitDir + "/qarn.pkd", whole.substr(0, whole.size() / 2));
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.err, Localized("en", "IDS_ERROR_DAMAGEDSOURCE") + "\n");
    ExpectNothingChanged(result);
}

TEST_F(SetupProgramTest, MissingKitFailsWithTheMessageAndChangesNothing) {
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 3);
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
    EXPECT_EQ(result.status, 7);
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
    EXPECT_EQ(result.status, 6);
    EXPECT_EQ(result.err, Localized("en", "IDS_SETUP_EMPTYTARGET") + "\n");
    EXPECT_EQ(Files(kitDir).size(), 1u);
    EXPECT_TRUE(fs::is_empty(location));
    EXPECT_EQ(ReadFile(UserConfig()), config);
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(SetupProgramTest, InteractiveModeWithoutADisplayRefusesAndChangesNothing) {
    MakeKit(kitDir + "/qarn.pkd");
    Result result = Setup({"usecwd"});
    EXPECT_EQ(result.status, 10);
    ASSERT_FALSE(result.err.empty());
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    ExpectNothingChanged(result);
}

TEST_F(SetupProgramTest, LanguageFromTheSwitchOrTheLocale) {
    Result german = Setup({"usecwd", "/S", "-Lde"});
    EXPECT_EQ(german.status, 3);
    EXPECT_EQ(german.err, Localized("de", "IDS_ERROR_NOSOURCE") + "\n");

    Result russian = Setup({"usecwd", "/S"}, {"LC_ALL=ru_RU.UTF-8"});
    EXPECT_EQ(russian.status, 3);
    EXPECT_EQ(russian.err, Localized("ru", "IDS_ERROR_NOSOURCE") + "\n");
    EXPECT_NE(russian.err, german.err);
}

// A language switch ends the scan: the silent switch after it is not seen,
// so this is an interactive start, which needs a display.
TEST_F(SetupProgramTest, SilentSwitchAfterTheLanguageSwitchIsNotSeen) {
    MakeKit(kitDir + "/qarn.pkd");
    Result result = Setup({"usecwd", "-Lde", "/S"});
    EXPECT_EQ(result.status, 10);
    ExpectNothingChanged(result);
}

}  // namespace
}  // namespace setup_test
