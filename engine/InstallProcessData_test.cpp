#include "engine/InstallProcessData.h"

#include <gtest/gtest.h>

namespace {

using Kit = InstallData<LZCompressor, FileSystem>;

stdx::u16string StoredTarget(const stdx::u16string& directory) {
    InstallProcessData data;
    data.Init();
    data.SetInstallData(nullptr, directory);
    stdx::u16string stored(u"unchanged");
    data.GetInstallData(nullptr, &stored);
    return stored;
}

TEST(InstallProcessDataTest, TargetDirectoryGetsOneTrailingSeparator) {
    EXPECT_EQ(StoredTarget(u"/Users/u/templates"), u"/Users/u/templates/");
    EXPECT_EQ(StoredTarget(u"/Users/u/templates/"), u"/Users/u/templates/");
    EXPECT_EQ(StoredTarget(u"C:\\templates\\"), u"C:\\templates\\");
    EXPECT_EQ(StoredTarget(u""), u"");
}

TEST(InstallProcessDataTest, SetInstallDataStartsARunButKeepsTheText) {
    InstallProcessData data;
    data.Init();
    data.SetStatus(1223, u"cancelled before", 42);
    data.Cancel();
    Kit kit;
    data.SetInstallData(&kit, u"/t");

    ErrorCode code = 99;
    stdx::u16string text;
    std::int32_t percent = -1;
    data.GetStatus(&code, &text, &percent);
    EXPECT_EQ(code, kErrorSuccess);
    EXPECT_EQ(percent, 0);
    EXPECT_EQ(text, u"cancelled before");
    EXPECT_FALSE(data.IsCancelled());
    Kit* stored = nullptr;
    data.GetInstallData(&stored, nullptr);
    EXPECT_EQ(stored, &kit);
}

TEST(InstallProcessDataTest, CancelIsSeenUntilTheNextRunAndInitClearsEverything) {
    InstallProcessData data;
    data.Init();
    EXPECT_FALSE(data.IsCancelled());
    data.Cancel();
    EXPECT_TRUE(data.IsCancelled());
    data.SetStatus(87, u"error", 40);
    data.Init();
    EXPECT_FALSE(data.IsCancelled());
    ErrorCode code = 99;
    stdx::u16string text(u"x");
    std::int32_t percent = -1;
    data.GetStatus(&code, &text, &percent);
    EXPECT_EQ(code, kErrorSuccess);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(percent, 0);
}

TEST(InstallProcessDataTest, StatusTravelsAsAWholeAndOutputsMayBeNull) {
    InstallProcessData data;
    data.Init();
    const stdx::u16string longText(200, u'p');
    data.SetStatus(0, longText, 66);
    std::int32_t percent = -1;
    data.GetStatus(nullptr, nullptr, &percent);
    EXPECT_EQ(percent, 66);
    stdx::u16string text;
    data.GetStatus(nullptr, &text, nullptr);
    EXPECT_EQ(text, longText);
    // The copy outlives a later change of the shared text.
    data.SetStatus(0, u"other", 70);
    EXPECT_EQ(text, longText);
}

}  // namespace
