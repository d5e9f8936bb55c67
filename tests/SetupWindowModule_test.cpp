// The built Setup program with its window layer module beside it, broken, or
// taken away: only a run that may show a window on a display that opens
// looks for the module, and the program itself needs no toolkit library.
#include "tests/SetupProgramFixture.h"

#ifdef WINDOW_MODULE_PATH

namespace setup_test {
namespace {

enum class Module { Real, Removed, NotLoadable };

class SetupWindowModuleTest : public SetupProgramTest {
protected:
    // A copy of the program in its own bundle beside the kit, with the
    // module as asked for; returns the program's path.
    std::string MakeBundle(Module module) {
        const std::string macos = root + "/Volume/Setup.app/Contents/MacOS";
        fs::remove_all(root + "/Volume");
        fs::create_directories(macos);
        fs::copy_file(SETUP_PATH, macos + "/Setup");
        fs::permissions(macos + "/Setup", fs::perms::owner_all);
        const std::string modulePath = macos + "/libqa_cocoa.so";
        if (module == Module::Real) {
            fs::copy_file(WINDOW_MODULE_PATH, modulePath);
        } else if (module == Module::NotLoadable) {
            test_support::WriteFile(modulePath, "not an object file\n");
        }
        fs::copy_file(root + "/qarn.pkd", root + "/Volume/qarn.pkd");
        return macos + "/Setup";
    }
};

// No X server listens on this display: XOpenDisplay fails at once.
const char kUnreachableDisplay[] = "DISPLAY=unix:9999";

// Without a display that opens, no run looks for the module: whether it is
// there, broken or missing, nothing is said about it. (Under a display, its
// absence is the GUI test missing_module_test.sh.)
TEST_F(SetupWindowModuleTest, NoRunLooksForTheModuleWithoutADisplayThatOpens) {
    MakeKit(root + "/qarn.pkd");
    const struct Case {
        const char* name;
        Module module;
        std::vector<std::string> arguments;
        bool display;
        int status;
        bool installs;
    } cases[] = {
        {"no module, silent without a display", Module::Removed, {"/S"}, false, 0, true},
        {"no module, silent", Module::Removed, {"/S"}, true, 0, true},
        {"broken module, silent", Module::NotLoadable, {"/S"}, true, 0, true},
        {"real module, silent", Module::Real, {"/S"}, true, 0, true},
        {"no module, quiet", Module::Removed, {"--quiet"}, true, 0, true},
        {"no module, help", Module::Removed, {"--help"}, true, 0, false},
        {"no module, plan", Module::Removed, {"--plan"}, true, 0, false},
        {"no module, wizard", Module::Removed, {}, true, 10, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(home);
        fs::remove_all(tmp);
        fs::create_directories(home);
        fs::create_directories(tmp);
        const std::string program = MakeBundle(c.module);
        std::vector<std::string> environment;
        if (c.display) {
            environment.push_back(kUnreachableDisplay);
        }
        Result result = Run(program, c.arguments, root, environment);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_EQ(result.err.find("module"), std::string::npos) << result.err;
        if (c.status == 10) {
            EXPECT_NE(result.err.find("no display is available"), std::string::npos) << result.err;
        } else {
            EXPECT_EQ(result.err, "");
        }
        if (c.installs) {
            EXPECT_EQ(Snapshot(DefaultTarget()), Snapshot(source));
        } else {
            EXPECT_TRUE(fs::is_empty(home)) << "HOME was changed";
        }
        EXPECT_TRUE(fs::is_empty(tmp)) << "TMPDIR was left with files";
    }
}

// The dynamic loader lists the libraries the program needs and ends without
// running it: none of the toolkit's may be among them.
TEST_F(SetupWindowModuleTest, ProgramNeedsNoToolkitLibrary) {
    Result result = Setup({}, {"LD_TRACE_LOADED_OBJECTS=1"});
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_NE(result.out.find("libc.so"), std::string::npos) << result.out;
    for (const char* toolkit : {"gnustep", "libobjc", "libX11", "fontconfig"}) {
        EXPECT_EQ(result.out.find(toolkit), std::string::npos) << toolkit << " in\n" << result.out;
    }
}

}  // namespace
}  // namespace setup_test

#endif
