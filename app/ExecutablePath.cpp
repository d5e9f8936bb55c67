#include "app/ExecutablePath.h"

#include <unistd.h>

#ifdef __APPLE__
#include <libproc.h>
#endif

stdx::string RunningExecutablePath() {
#ifdef __APPLE__
    char buffer[PROC_PIDPATHINFO_MAXSIZE] = {};
    if (proc_pidpath(getpid(), buffer, sizeof(buffer)) < 1) {
        return stdx::string();
    }
    return stdx::string(buffer);
#else
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer));
    if (length < 1 || static_cast<size_t>(length) >= sizeof(buffer)) {
        return stdx::string();
    }
    return stdx::string(buffer, static_cast<size_t>(length));
#endif
}
