#include "app/WindowLayerModule.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>

#include "app/AppTestSupport.h"

namespace app_test {
namespace {

AdminOptions Options(void (*set)(AdminOptions&)) {
    AdminOptions options;
    set(options);
    return options;
}

// The display probe of the choice: opens only ":0", and counts its calls.
int g_probes = 0;
bool OnlyZeroOpens(const char* display) {
    ++g_probes;
    return std::string(display) == ":0";
}

TEST(WindowLayerModuleTest, ModuleOnlyWhenAWindowMayShowOnADisplayThatOpens) {
    struct Case {
        const char* name;
        AdminOptions options;
        const char* display;
        WindowLayerChoice expected;
        int probes;
    };
    const Case cases[] = {
        {"wizard", AdminOptions(), ":0", WindowLayerChoice::Module, 1},
        {"display does not open", AdminOptions(), ":1", WindowLayerChoice::Headless, 1},
        {"no DISPLAY", AdminOptions(), nullptr, WindowLayerChoice::Headless, 0},
        {"empty DISPLAY", AdminOptions(), "", WindowLayerChoice::Headless, 0},
        {"help", Options([](AdminOptions& o) { o.help = true; }), ":0", WindowLayerChoice::Headless,
         0},
        {"version", Options([](AdminOptions& o) { o.version = true; }), ":0",
         WindowLayerChoice::Headless, 0},
        {"quiet", Options([](AdminOptions& o) { o.quiet = true; }), ":0",
         WindowLayerChoice::Headless, 0},
        {"plan", Options([](AdminOptions& o) { o.plan = true; }), ":0", WindowLayerChoice::Headless,
         0},
        {"usage error", Options([](AdminOptions& o) { o.usageError = "unknown option"; }), ":0",
         WindowLayerChoice::Headless, 0},
        // --dir and --log show the wizard like any other start.
        {"dir and log", Options([](AdminOptions& o) { o.hasDir = o.hasLog = true; }), ":0",
         WindowLayerChoice::Module, 1},
    };
    for (const Case& c : cases) {
        g_probes = 0;
        EXPECT_EQ(ChooseWindowLayer(c.options, c.display, &OnlyZeroOpens), c.expected) << c.name;
        EXPECT_EQ(g_probes, c.probes) << c.name;
    }
}

TEST(WindowLayerModuleTest, NoXDisplayOpensWhereNoServerListens) {
    EXPECT_FALSE(CanOpenXDisplay("unix:9999"));
    EXPECT_FALSE(CanOpenXDisplay("not a display name"));
}

TEST(WindowLayerModuleTest, PathIsBesideTheExecutable) {
    const struct {
        const char* executable;
        const char* expected;
    } cases[] = {
        {"/Volumes/Kit/Setup.app/Contents/MacOS/Setup",
         "/Volumes/Kit/Setup.app/Contents/MacOS/libqa_cocoa.so"},
        {"/Setup", "/libqa_cocoa.so"},
        {"/a b/*?[x]/Setup", "/a b/*?[x]/libqa_cocoa.so"},
        {"Setup", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WindowLayerModulePath(stdx::string(c.executable)), stdx::string(c.expected))
            << c.executable;
    }
}

// The path of a real shared object this process has loaded, other than the
// C library (a second copy of which must not be loaded).
std::string LoadedZlibPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&zlibVersion), &info) == 0 || info.dli_fname == nullptr) {
        return std::string();
    }
    return info.dli_fname;
}

TEST(WindowLayerModuleTest, RefusesWhatIsNotALoadableModuleWithTheReason) {
    TempDir dir;
    WriteFile(dir / "text.so", "not an object file\n");
    std::filesystem::create_directory(dir / "directory.so");
    ASSERT_EQ(mkfifo((dir / "pipe.so").c_str(), 0600), 0);
    const std::string zlib = LoadedZlibPath();
    ASSERT_FALSE(zlib.empty());
    std::filesystem::copy_file(zlib, dir / "nofactory.so");
    ASSERT_EQ(symlink((dir / "nofactory.so").c_str(), (dir / "link.so").c_str()), 0);

    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {"", "the window layer module has no absolute path"},
        {"libqa_cocoa.so", "the window layer module has no absolute path"},
        {dir / "missing.so", dir / "missing.so is missing"},
        {dir / "missing/libqa_cocoa.so", dir / "missing/libqa_cocoa.so is missing"},
        {dir / "directory.so", dir / "directory.so is not a regular file"},
        // Opening a pipe would wait for a writer forever.
        {dir / "pipe.so", dir / "pipe.so is not a regular file"},
        {dir / "link.so", dir / "link.so is not a regular file"},
        {dir / "text.so", dir / "text.so cannot be loaded: "},
        {dir / "nofactory.so", dir / "nofactory.so has no qa_create_cocoa_window_layer"},
    };
    for (const auto& c : cases) {
        stdx::string error("stale");
        EXPECT_EQ(LoadWindowLayerModule(stdx::string(c.path.c_str()), &error), nullptr) << c.path;
        const std::string got(error.c_str(), error.size());
        EXPECT_EQ(got.substr(0, c.reason.size()), c.reason) << c.path;
    }
}

}  // namespace
}  // namespace app_test
