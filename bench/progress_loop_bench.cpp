// Processor time of the installer's main thread while a long installation
// runs. The progress loop only watches the worker, so it should sleep
// between its looks at the status instead of spinning.
//
// The bench builds a kit of many small files, runs the built Setup program
// silently on it (its own HOME and TMPDIR; the display only when the bench
// itself has one, e.g. under xvfb-run) and samples, from the
// outside, the main thread's CPU time in /proc/<pid>/task/<pid>/stat. The
// run phase starts when the install thread appears and ends when the
// launcher file appears (the main thread writes it right after the loop).
//
// Usage: progress_loop_bench [path/to/Setup] [file count]
// Linux only (reads /proc).
#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kit/KitWriter.h"
#include "tests/support/ArgumentVector.h"
#include "text/Encoding.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string SelfDirectory() {
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0) {
        return ".";
    }
    std::string self(buffer, static_cast<size_t>(length));
    return self.substr(0, self.rfind('/'));
}

// utime + stime, in clock ticks, of the file's process or thread; -1 when
// it is gone.
long Ticks(const std::string& statPath) {
    std::ifstream in(statPath);
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    // Fields after the name start at 3 (state); utime is 14, stime 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) {
            utime = std::stol(field);
        } else if (index == 15) {
            stime = std::stol(field);
        }
    }
    return utime + stime;
}

long ThreadTicks(pid_t pid, pid_t tid) {
    return Ticks("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/stat");
}

long ProcessTicks(pid_t pid) {
    return Ticks("/proc/" + std::to_string(pid) + "/stat");
}

int TaskCount(pid_t pid) {
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
    if (dir == nullptr) {
        return 0;
    }
    int count = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(dir);
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    std::string setup =
        std::filesystem::absolute(argc > 1 ? argv[1]
                                           : SelfDirectory() + "/../Setup.app/Contents/MacOS/Setup")
            .string();
    int fileCount = argc > 2 ? std::atoi(argv[2]) : 60000;
    if (access(setup.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "progress_loop_bench: %s: not an executable Setup\n", setup.c_str());
        return 1;
    }

    char pattern[] = "/tmp/progress-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string root = pattern;
    const std::string home = root + "/home";
    const std::string tmp = root + "/tmp";
    const std::string kitDir = root + "/kit";
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(tmp);
    std::filesystem::create_directories(kitDir);

    kit::KitWriter writer;
    config::ProductInfo product;
    product.m_language = u"en";
    product.m_productName = u"Bench";
    product.m_providerName = u"Bench";
    writer.AddProduct(product);
    const std::string body(4096, 'q');
    for (int i = 0; i < fileCount; ++i) {
        char name[64];
        std::snprintf(name, sizeof(name), "d%03d\\f%06d.txt", i % 200, i);
        stdx::string utf8(name);
        writer.AddFileBytes(Utf8ToUtf16(utf8), FileSystem::FromUnixSeconds(1600000000), body);
    }
    std::string error;
    if (!writer.Write(kitDir + "/qarn.pkd", nullptr, &error)) {
        std::fprintf(stderr, "progress_loop_bench: %s\n", error.c_str());
        return 1;
    }

    std::vector<std::string> environment = {"HOME=" + home, "TMPDIR=" + tmp, "LANG=C",
                                            "PATH=/usr/bin:/bin"};
    // Under a display (xvfb-run) the windowed wizard's loop is measured.
    for (const char* name : {"DISPLAY", "XAUTHORITY"}) {
        if (const char* value = std::getenv(name)) {
            environment.push_back(std::string(name) + "=" + value);
        }
    }
    std::vector<char*> envp = test_support::NullTerminated(environment);
    std::string usecwd = "usecwd";
    std::string silent = "/S";
    char* args[] = {setup.data(), usecwd.data(), silent.data(), nullptr};

    std::string oldCwd = std::filesystem::current_path().string();
    std::filesystem::current_path(kitDir);
    pid_t pid = 0;
    if (posix_spawn(&pid, setup.c_str(), nullptr, nullptr, args, envp.data()) != 0) {
        std::perror("posix_spawn");
        return 1;
    }
    std::filesystem::current_path(oldCwd);

    const std::string launcherFile = home + "/.Qa/qalaunch/qalaunch.cfg";
    long startTicks = -1;
    long endTicks = -1;
    long processStartTicks = 0;
    long processEndTicks = 0;
    Clock::time_point start;
    Clock::time_point end;
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::printf("Setup exit status %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
            break;
        }
        if (startTicks < 0 && TaskCount(pid) >= 2) {
            startTicks = ThreadTicks(pid, pid);
            processStartTicks = ProcessTicks(pid);
            start = Clock::now();
        }
        struct stat info;
        if (startTicks >= 0 && endTicks < 0 && stat(launcherFile.c_str(), &info) == 0) {
            endTicks = ThreadTicks(pid, pid);
            processEndTicks = ProcessTicks(pid);
            end = Clock::now();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    if (startTicks < 0 || endTicks < 0) {
        std::fprintf(stderr, "progress_loop_bench: the run phase was not seen\n");
        return 1;
    }
    const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    const double wall = std::chrono::duration<double>(end - start).count();
    const double cpu = (endTicks - startTicks) / ticksPerSecond;
    const double processCpu = (processEndTicks - processStartTicks) / ticksPerSecond;
    std::printf(
        "files %d, run phase %.2f s, main thread CPU %.3f s = %.1f %% of a core "
        "(whole process %.2f s)\n",
        fileCount, wall, cpu, wall > 0 ? 100.0 * cpu / wall : 0.0, processCpu);
    return 0;
}
