// Preloaded into the installer by the tests that act while an installation
// runs, so that a small kit takes long enough for a test to act:
//   - every futimens of the process (the file-system layer calls it once
//     per file it writes) first sleeps QA_SLOW_FILE_TIMES_US microseconds;
//   - every renameat and renameat2 (once per file put in place, and once
//     per earlier copy backed up) first sleeps QA_SLOW_RENAMES_US
//     microseconds.
// Nothing else of the program changes.
#include <dlfcn.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace {

void Pause(const char* variable) {
    const char* delay = std::getenv(variable);
    if (delay != nullptr) {
        usleep(static_cast<useconds_t>(std::strtoul(delay, nullptr, 10)));
    }
}

template <class Function>
Function Real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int futimens(int fd, const struct timespec times[2]) {
    Pause("QA_SLOW_FILE_TIMES_US");
    static auto real = Real<int (*)(int, const struct timespec*)>("futimens");
    return real != nullptr ? real(fd, times) : -1;
}

extern "C" int renameat(int fromDirectory, const char* from, int toDirectory, const char* to) {
    Pause("QA_SLOW_RENAMES_US");
    static auto real = Real<int (*)(int, const char*, int, const char*)>("renameat");
    return real != nullptr ? real(fromDirectory, from, toDirectory, to) : -1;
}

extern "C" int renameat2(int fromDirectory, const char* from, int toDirectory, const char* to,
                         unsigned int flags) {
    Pause("QA_SLOW_RENAMES_US");
    static auto real = Real<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
    return real != nullptr ? real(fromDirectory, from, toDirectory, to, flags) : -1;
}
