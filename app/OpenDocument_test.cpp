#include "app/OpenDocument.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <thread>
#include <utility>

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

// The descriptors open in this process, each with the file it refers to:
// the lowest ones, which a leaked descriptor would take.
std::map<int, std::pair<dev_t, ino_t>> OpenDescriptors() {
    std::map<int, std::pair<dev_t, ino_t>> open;
    for (int fd = 0; fd < 1024; ++fd) {
        struct stat status;
        if (::fstat(fd, &status) == 0) {
            open[fd] = {status.st_dev, status.st_ino};
        }
    }
    return open;
}

// Waits, a few seconds at most, until this process has no child left: those
// that earlier tests started are gone. False when one is still running.
bool ReapChildren() {
    for (int i = 0; i < 500; ++i) {
        errno = 0;
        const pid_t reaped = ::waitpid(-1, nullptr, WNOHANG);
        if (reaped < 0 && errno == ECHILD) {
            return true;
        }
        if (reaped == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return false;
}

// With no opener on PATH nothing is started, not even the one in the
// current directory; the failed start leaves no child to reap and no
// descriptor open, and the next call, the opener back on PATH, reaches it.
TEST_F(OpenerTest, MissingOpenerStartsNothingAndLeavesNothingBehind) {
    ASSERT_TRUE(ReapChildren()) << "a child of an earlier test still runs";
    const auto descriptors = OpenDescriptors();
    {
        CurrentDirOverride cwd(dir / "bin");
        EnvOverride path("PATH", dir / "nowhere");
        OpenDocumentWithDesktop(stdx::string("/tmp/x.pdf"));
    }
    errno = 0;
    const pid_t child = ::waitpid(-1, nullptr, WNOHANG);
    const int reason = errno;
    EXPECT_EQ(child, -1) << "a child was started";
    EXPECT_EQ(reason, ECHILD);
    EXPECT_FALSE(Exists(dir / "out"));
    EXPECT_EQ(OpenDescriptors(), descriptors);

    const std::string document = dir / "after.pdf";
    OpenDocumentWithDesktop(stdx::string(document.c_str(), document.size()));
    EXPECT_EQ(Arguments(), document + "\n");
}

}  // namespace
}  // namespace app_test
