#include "launcher/StaleConfigTemps.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "launcher/ConfigFileIo.h"
#include "launcher/ConfigWriter.h"
#include "launcher/LauncherPaths.h"
#include "text/Encoding.h"

namespace {

// Whether no process has this id any more. A live one, or one we may not
// signal (EPERM: it exists), might still be writing.
bool IsGone(long writer) {
    return writer > 0 && writer != static_cast<long>(::getpid()) &&
           ::kill(static_cast<pid_t>(writer), 0) != 0 && errno == ESRCH;
}

}  // namespace

void RemoveStaleConfigTemps(const std::string& configPath) {
    ConfigFileIo io;
    const std::string target = io.Resolve(configPath);
    const std::string directory = DirectoryOf(target);
    const std::string::size_type slash = target.rfind('/');
    const std::string targetName = slash == std::string::npos ? target : target.substr(slash + 1);
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = fd < 0 ? nullptr : ::fdopendir(fd);
    if (listing == nullptr) {
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    while (const dirent* entry = ::readdir(listing)) {
        long writer = 0;
        struct stat status;
        if (WriterOfTemporary(entry->d_name, targetName, &writer) && IsGone(writer) &&
            ::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_uid == ::geteuid()) {
            ::unlinkat(fd, entry->d_name, 0);
        }
    }
    ::closedir(listing);
}

void RemoveStaleConfigTemps() {
    for (const stdx::u16string& path : {UserConfigPath(), AlternateUserConfigPath()}) {
        const stdx::string path8 = Utf16ToUtf8(path);
        RemoveStaleConfigTemps(std::string(path8.c_str(), path8.size()));
    }
}
