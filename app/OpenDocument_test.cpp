#include "app/OpenDocument.h"

#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "app/AppTestSupport.h"

namespace app_test {
namespace {

// A stand-in for the desktop's opener, first on PATH: it writes each
// argument it receives on its own line.
class OpenerTest : public ::testing::Test {
protected:
    OpenerTest() : m_path("PATH", (dir / "bin") + ":/usr/bin:/bin") {}

    void SetUp() override {
        WriteFile(dir / (std::string("bin/") + kDesktopOpener),
                  "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                      (dir / "out") + ".tmp\"\nmv \"" + (dir / "out") + ".tmp\" \"" +
                      (dir / "out") + "\"\n");
        ASSERT_EQ(::chmod((dir / (std::string("bin/") + kDesktopOpener)).c_str(), 0755), 0);
    }

    // The opener's arguments, once it has run.
    std::string Arguments() {
        for (int i = 0; i < 500 && !Exists(dir / "out"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        return ReadFile(dir / "out");
    }

    TempDir dir;

private:
    EnvOverride m_path;
};

TEST_F(OpenerTest, PathReachesTheOpenerAsOneArgumentUntouched) {
    std::string path = dir / "a \"quoted\" $(touch pwned) `id`; name.pdf";
    OpenDocumentWithDesktop(stdx::string(path.c_str(), path.size()));
    EXPECT_EQ(Arguments(), path + "\n");
    EXPECT_FALSE(Exists(dir / "pwned"));
}

TEST_F(OpenerTest, RelativePathIsMadeAbsolute) {
    CurrentDirOverride cwd(dir.path());
    OpenDocumentWithDesktop(stdx::string("-x.pdf"));
    std::string cwdPath = std::filesystem::current_path().string();
    EXPECT_EQ(Arguments(), cwdPath + "/-x.pdf\n");
}

TEST_F(OpenerTest, MissingOpenerIsIgnored) {
    EnvOverride path("PATH", dir / "nowhere");
    OpenDocumentWithDesktop(stdx::string("/tmp/x.pdf"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    while (::waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    EXPECT_FALSE(Exists(dir / "out"));
}

}  // namespace
}  // namespace app_test
