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

// Counts what it hears and reads the status as the user interface would:
// the status is stored, and the lock free again, when it is told.
class RecordingListener : public StatusListener {
public:
    explicit RecordingListener(const InstallProcessData& data) : m_data(data) {}
    void StatusChanged() override {
        ++calls;
        m_data.GetStatus(&code, nullptr, &percent);
    }

    int calls = 0;
    ErrorCode code = 99;
    std::int32_t percent = -1;

private:
    const InstallProcessData& m_data;
};

// What is heard is what changes the screen: a new percent, a final code or
// 100; a new file name at the same percent is not, so a run of many files
// wakes the user interface at most once per percent.
TEST(InstallProcessDataTest, ListenerHearsEachShownChangeOnce) {
    struct Step {
        bool newRun;  // SetInstallData first: the percent starts at 0 again
        ErrorCode code;
        std::int32_t percent;
        bool heard;
    };
    const Step steps[] = {
        {true, 0, 0, false},    // the first file of a run
        {false, 0, 0, false},   // the next file, same percent
        {false, 0, 40, true},   // the bar moves
        {false, 0, 40, false},  // another file at 40
        {false, 0, 41, true},   // and again
        {false, 0, 100, true},  // success
        {true, 87, 0, true},    // a failure at the first file
        {true, 1223, 0, true},  // a cancel before the first file
        {true, 0, 100, true},   // a run of no files
        {false, 0, 100, true},  // a final status is never swallowed
    };
    InstallProcessData data;
    data.Init();
    RecordingListener listener(data);
    data.SetStatusListener(&listener);
    Kit kit;
    for (size_t i = 0; i < sizeof(steps) / sizeof(steps[0]); ++i) {
        const Step& step = steps[i];
        if (step.newRun) {
            data.SetInstallData(&kit, u"/t");
        }
        const int before = listener.calls;
        data.SetStatus(step.code, u"file " + stdx::u16string(1, u'a' + i), step.percent);
        EXPECT_EQ(listener.calls - before, step.heard ? 1 : 0) << "step " << i;
        if (step.heard) {
            EXPECT_EQ(listener.code, step.code) << "step " << i;
            EXPECT_EQ(listener.percent, step.percent) << "step " << i;
        }
    }

    data.SetStatusListener(nullptr);
    const int before = listener.calls;
    data.SetStatus(87, u"error", 5);
    EXPECT_EQ(listener.calls, before);
}

}  // namespace
