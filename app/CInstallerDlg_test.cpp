#include "app/CInstallerDlg.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>

#include "app/ControllerFixture.h"

namespace app_test {
namespace {

constexpr std::uint32_t kCritical = MSG_OK | MSG_STYLE_CRITICAL;

using LocateKitTest = ControllerTest;

TEST_F(LocateKitTest, KitLiesBesideTheBundle) {
    auto dlg = MakeDlg();
    dlg->executable = "/Volumes/Kit/Setup.app/Contents/MacOS/Setup";
    EXPECT_EQ(U8(dlg->LocateKit()), "/Volumes/Kit/qarn.pkd");
}

TEST_F(LocateKitTest, KitLiesBesideABareExecutable) {
    auto dlg = MakeDlg();
    dlg->executable = "/tmp/bin/Setup";
    EXPECT_EQ(U8(dlg->LocateKit()), "/tmp/bin/qarn.pkd");
}

TEST_F(LocateKitTest, InnermostBundleOfNestedBundlesCounts) {
    auto dlg = MakeDlg();
    dlg->executable = "/a/Outer.app/Contents/MacOS/b/Inner.app/Contents/MacOS/Setup";
    EXPECT_EQ(U8(dlg->LocateKit()), "/a/Outer.app/Contents/MacOS/b/qarn.pkd");
}

TEST_F(LocateKitTest, UnknownExecutableGivesNoPathAndTheNoSourceMessage) {
    auto dlg = MakeDlg();
    dlg->executable = "";
    EXPECT_TRUE(dlg->LocateKit().empty());
    EXPECT_FALSE(dlg->Initialize());
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, "Distribution kit file qarn.pkd not found.");
    EXPECT_EQ(layer.messageBoxes[0].flags, kCritical);
}

TEST_F(LocateKitTest, RealExecutablePathOfThisBareTestProgram) {
    auto dlg = MakeDlg();
    dlg->executable.reset();
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    ASSERT_GT(length, 0);
    std::string self(buffer, static_cast<size_t>(length));
    EXPECT_EQ(U8(dlg->LocateKit()), self.substr(0, self.rfind('/')) + "/qarn.pkd");
}

TEST_F(LocateKitTest, CurrentDirectoryModeLooksInTheCurrentDirectory) {
    CurrentDirOverride cwd(kitDir);
    auto dlg = MakeDlg(false, u"en", true);
    std::string expected = std::filesystem::current_path().string() + "/qarn.pkd";
    EXPECT_EQ(U8(dlg->LocateKit()), expected);
}

using InitializeTest = ControllerTest;

TEST_F(InitializeTest, MissingKitShowsNoSourceAndChangesNothing) {
    auto dlg = MakeDlg();
    EXPECT_FALSE(dlg->Initialize());
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, "Distribution kit file qarn.pkd not found.");
    EXPECT_EQ(layer.messageBoxes[0].flags, kCritical);
    EXPECT_FALSE(layer.windowCreated);
    EXPECT_TRUE(ListDir(home).empty());
    EXPECT_TRUE(ListDir(tmp).empty());
}

TEST_F(InitializeTest, DamagedKitShowsDamagedSourceAndLeavesNoStreamFile) {
    WriteFile(kitPath, std::string(300, '\x5a'));
    {
        auto dlg = MakeDlg();
        EXPECT_FALSE(dlg->Initialize());
    }
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text,
              "Distribution kit file qarn.pkd corrupted or not designed for this installation "
              "program.");
    EXPECT_EQ(layer.messageBoxes[0].flags, kCritical);
    EXPECT_TRUE(ListDir(tmp).empty());
}

TEST_F(InitializeTest, GoodKitLoadsWithoutMessages) {
    WriteStandardKit();
    auto dlg = MakeDlg();
    EXPECT_TRUE(dlg->Initialize());
    EXPECT_TRUE(layer.messageBoxes.empty());
    EXPECT_EQ(U8(dlg->GetKitPath()), kitPath);
    EXPECT_EQ(dlg->GetState(), STATE_NONE);
}

// A valid kit padded to exactly 100 bytes: the bytes after the DEFLATE
// stream do not count for the reader, but they do for the size check.
class FreeSpaceTest : public ControllerTest {
protected:
    void WriteHundredByteKit() {
        ASSERT_EQ(BuildKit(kitPath, {}, {{Product("en", "P", "V", "")}}), "");
        std::string bytes = ReadFile(kitPath);
        ASSERT_LE(bytes.size(), 100u);
        bytes.resize(100, '\0');
        WriteFile(kitPath, bytes);
    }
};

TEST_F(FreeSpaceTest, HundredByteKitNeedsThreeHundredFree) {
    WriteHundredByteKit();
    auto dlg = MakeDlg();
    dlg->freeSpace = 299;
    EXPECT_FALSE(dlg->Initialize());
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, "Insufficient space available in the directory Temp.");
    EXPECT_EQ(layer.messageBoxes[0].flags, kCritical);
}

TEST_F(FreeSpaceTest, HundredByteKitFitsInThreeHundredFree) {
    WriteHundredByteKit();
    auto dlg = MakeDlg();
    dlg->freeSpace = 300;
    EXPECT_TRUE(dlg->Initialize());
    EXPECT_TRUE(layer.messageBoxes.empty());
}

TEST_F(FreeSpaceTest, UnknownFreeSpaceCountsAsNone) {
    WriteHundredByteKit();
    auto dlg = MakeDlg();
    dlg->freeSpace = 0;
    EXPECT_FALSE(dlg->Initialize());
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, "Insufficient space available in the directory Temp.");
}

// Three times a 3 GiB kit is 1 GiB in 32-bit arithmetic, which 8 GiB of
// free space would wave through.
TEST_F(FreeSpaceTest, ThreeGibKitIsNotWavedThroughByThirtyTwoBitOverflow) {
    int fd = ::open(kitPath.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 3LL << 30), 0);  // sparse: no disk space used
    ::close(fd);

    auto dlg = MakeDlg();
    dlg->freeSpace = 8ULL << 30;
    EXPECT_FALSE(dlg->Initialize());
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, "Insufficient space available in the directory Temp.");

    // With room for it the check passes, and the zeros fail as a damaged kit.
    layer.messageBoxes.clear();
    auto roomy = MakeDlg();
    roomy->freeSpace = 9ULL << 30;
    EXPECT_FALSE(roomy->Initialize());
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text,
              "Distribution kit file qarn.pkd corrupted or not designed for this installation "
              "program.");
}

using TargetTest = ControllerTest;

TEST_F(TargetTest, NoLauncherFileGivesTheDefaultDirectory) {
    WriteStandardKit();
    auto dlg = MakeDlg();
    ASSERT_TRUE(dlg->Initialize());
    EXPECT_EQ(U8(dlg->GetTargetDir()), DefaultTarget());
}

TEST_F(TargetTest, FirstWritableLocationWins) {
    WriteStandardKit();
    std::filesystem::create_directories(root / "second");
    std::filesystem::create_directories(root / "third");
    WriteFile(UserConfig(), LocationLine(root / "missing") + LocationLine(root / "second") +
                                LocationLine(root / "third"));
    auto dlg = MakeDlg();
    ASSERT_TRUE(dlg->Initialize());
    EXPECT_EQ(U8(dlg->GetTargetDir()), root / "second");
}

TEST_F(TargetTest, SilentRunSkipsARelativeLocation) {
    WriteStandardKit();
    CurrentDirOverride cwd(root.path());
    std::filesystem::create_directories(root / "relative");
    std::filesystem::create_directories(root / "absolute");
    WriteFile(UserConfig(), LocationLine("relative") + LocationLine(root / "absolute"));
    auto dlg = MakeDlg(true);
    ASSERT_TRUE(dlg->Initialize());
    EXPECT_EQ(U8(dlg->GetTargetDir()), root / "absolute");
}

TEST_F(TargetTest, NoWritableLocationGivesTheDefaultDirectory) {
    WriteStandardKit();
    WriteFile(UserConfig(), LocationLine(root / "missing"));
    auto dlg = MakeDlg();
    ASSERT_TRUE(dlg->Initialize());
    EXPECT_EQ(U8(dlg->GetTargetDir()), DefaultTarget());
}

TEST_F(TargetTest, AlternateFileIsReadWhenTheUserFileIsMissing) {
    WriteStandardKit();
    std::filesystem::create_directories(root / "alt");
    WriteFile(AlternateConfig(), LocationLine(root / "alt"));
    auto dlg = MakeDlg();
    ASSERT_TRUE(dlg->Initialize());
    EXPECT_EQ(U8(dlg->GetTargetDir()), root / "alt");
}

// A writable location whose path holds a URL scheme is no place to install
// into: the target is cleared, whatever comes later in the list.
class UrlTargetTest : public ControllerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(UrlTargetTest, RemoteSchemeClearsTheTarget) {
    WriteStandardKit();
    std::string location = root / (std::string("x/") + GetParam() + "host");
    std::filesystem::create_directories(location);
    std::filesystem::create_directories(root / "later");
    WriteFile(UserConfig(), LocationLine(location) + LocationLine(root / "later"));
    auto dlg = MakeDlg();
    ASSERT_TRUE(dlg->Initialize());
    EXPECT_TRUE(dlg->GetTargetDir().empty()) << U8(dlg->GetTargetDir());
}

INSTANTIATE_TEST_SUITE_P(Schemes, UrlTargetTest,
                         ::testing::Values("http://", "https://", "ftp://"));

TEST_F(TargetTest, FileUrlIsReducedToItsPath) {
    EXPECT_EQ(U8(CleanTargetDir(U16("file:///Users/x/t"))), "/Users/x/t");
    EXPECT_EQ(U8(CleanTargetDir(U16("/a/file:///b"))), "/a//b");
}

TEST_F(TargetTest, RemoteSchemesAnywhereClearTheText) {
    EXPECT_TRUE(CleanTargetDir(U16("/home/u/http://x")).empty());
    EXPECT_TRUE(CleanTargetDir(U16("https://x/y")).empty());
    EXPECT_TRUE(CleanTargetDir(U16("/a/ftp://b")).empty());
    // Case-sensitive, as the launcher writes them.
    EXPECT_EQ(U8(CleanTargetDir(U16("/a/HTTP://b"))), "/a/HTTP://b");
}

TEST_F(TargetTest, LineBreaksAreRemoved) {
    EXPECT_EQ(U8(CleanTargetDir(U16("/a\r\n/b\n\r/c\r"))), "/a/b/c");
}

}  // namespace
}  // namespace app_test
