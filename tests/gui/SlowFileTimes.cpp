// Preloaded into the installer by the GUI tests that press Cancel during an
// installation: every futimens of the process (the file-system layer calls
// it once per installed file) first sleeps QA_SLOW_FILE_TIMES_US
// microseconds, so that a small kit takes long enough to install for a test
// to act while it runs. Nothing else of the program changes.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace {

using FutimensFunction = int (*)(int, const struct timespec*);

FutimensFunction RealFutimens() {
    static FutimensFunction real = reinterpret_cast<FutimensFunction>(dlsym(RTLD_NEXT, "futimens"));
    return real;
}

}  // namespace

extern "C" int futimens(int fd, const struct timespec times[2]) {
    const char* delay = std::getenv("QA_SLOW_FILE_TIMES_US");
    if (delay != nullptr) {
        usleep(static_cast<useconds_t>(std::strtoul(delay, nullptr, 10)));
    }
    FutimensFunction real = RealFutimens();
    return real != nullptr ? real(fd, times) : -1;
}
