#include "app/HeadlessWindowLayer.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/AppTestSupport.h"

namespace app_test {
namespace {

std::string Locale(const char* lcAll, const char* lcMessages, const char* lang) {
    EnvOverride a("LC_ALL", lcAll);
    EnvOverride m("LC_MESSAGES", lcMessages);
    EnvOverride l("LANG", lang);
    HeadlessWindowLayer layer;
    stdx::string locale = layer.LocaleIdentifier();
    return std::string(locale.c_str(), locale.size());
}

TEST(HeadlessWindowLayerTest, LocaleFromTheEnvironmentAsTheCLibraryReadsIt) {
    EXPECT_EQ(Locale(nullptr, nullptr, "ru_RU.UTF-8"), "ru_RU");
    EXPECT_EQ(Locale(nullptr, "de_DE@euro", "ru_RU.UTF-8"), "de_DE");
    EXPECT_EQ(Locale("fr_FR.UTF-8", "de_DE", "ru_RU"), "fr_FR");
    EXPECT_EQ(Locale("", "", "uk"), "uk");
    EXPECT_EQ(Locale(nullptr, nullptr, "C.UTF-8"), "");
    EXPECT_EQ(Locale(nullptr, nullptr, "POSIX"), "");
    EXPECT_EQ(Locale(nullptr, nullptr, nullptr), "");
}

TEST(HeadlessWindowLayerTest, MessageBoxesBecomeOneLineEachAndAreAnsweredSafely) {
    std::FILE* errors = std::tmpfile();
    ASSERT_NE(errors, nullptr);
    HeadlessWindowLayer layer(errors);
    EXPECT_FALSE(layer.HasDisplay());
    EXPECT_EQ(layer.ShowMessageBox(u"Файл qarn.pkd не найден.", MSG_OK | MSG_STYLE_CRITICAL),
              MSG_RESULT_OK);
    EXPECT_EQ(layer.ShowMessageBox(u"Cancel?\nReally?", MSG_YESNO | MSG_STYLE_WARNING),
              MSG_RESULT_NO);

    std::rewind(errors);
    char buffer[256] = {};
    size_t length = std::fread(buffer, 1, sizeof(buffer) - 1, errors);
    std::fclose(errors);
    EXPECT_EQ(std::string(buffer, length), "Файл qarn.pkd не найден.\nCancel? Really?\n");
}

TEST(HeadlessWindowLayerTest, PagesAreDistinctAndThePathFieldKeepsItsText) {
    HeadlessWindowLayer layer;
    PageId a = layer.CreateMessagePage(u"a");
    PageId b = layer.CreateDirSelectPage();
    PageId c = layer.CreateProgressPage(480);
    PageId d = layer.CreateSuccessPage(u"d");
    EXPECT_NE(a, kNoPage);
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);
    EXPECT_NE(c, d);
    layer.SetPathField(u"/t/x");
    EXPECT_EQ(U8(layer.GetPathField()), "/t/x");
    EXPECT_FALSE(layer.IsOpenDescriptionChecked());
}

double ThreadCpuSeconds() {
    struct rusage usage;
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Without a wake, waiting for an event takes the whole timeout, asleep: ten
// waits of 20 ms last 200 ms and cost next to no processor time.
TEST(HeadlessWindowLayerTest, WaitingForAnEventSleeps) {
    HeadlessWindowLayer layer;
    auto start = std::chrono::steady_clock::now();
    double cpuBefore = ThreadCpuSeconds();
    for (int i = 0; i < 10; ++i) {
        EXPECT_FALSE(layer.ProcessOneEvent(20));
    }
    double cpu = ThreadCpuSeconds() - cpuBefore;
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(200));
    EXPECT_LT(cpu, 0.05);
}

// A wake ends the wait at once, also one given from another thread while
// the wait is on, long before its timeout. Wakes given before the wait are
// kept for it and merge: the wait after sleeps again.
TEST(HeadlessWindowLayerTest, AWakeEndsTheWaitAndWakesMerge) {
    HeadlessWindowLayer layer;
    layer.Wake();
    layer.Wake();
    EXPECT_TRUE(layer.ProcessOneEvent(0));
    EXPECT_FALSE(layer.ProcessOneEvent(0));

    auto start = std::chrono::steady_clock::now();
    std::thread waker([&layer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        layer.Wake();
    });
    EXPECT_TRUE(layer.ProcessOneEvent(10000));
    waker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(layer.ProcessOneEvent(0));
}

}  // namespace
}  // namespace app_test
