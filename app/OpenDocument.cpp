#include "app/OpenDocument.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>

extern char** environ;

namespace {

std::string AbsolutePath(const stdx::string& path) {
    std::string result(path.c_str(), path.size());
    if (!result.empty() && result[0] == '/') {
        return result;
    }
    char buffer[4096];
    if (getcwd(buffer, sizeof(buffer)) == nullptr) {
        // Still never let a leading '-' pass as an option.
        return "./" + result;
    }
    std::string directory(buffer);
    if (directory.empty() || directory.back() != '/') {
        directory += '/';
    }
    return directory + result;
}

}  // namespace

void OpenDocumentWithDesktop(const stdx::string& path) {
    std::string document = AbsolutePath(path);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return;
    }
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    char* argv[] = {const_cast<char*>(kDesktopOpener), const_cast<char*>(document.c_str()),
                    nullptr};
    pid_t pid = 0;
    posix_spawnp(&pid, kDesktopOpener, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
}
