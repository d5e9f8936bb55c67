#include "app/RunLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "text/Encoding.h"

RunLog::~RunLog() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool RunLog::Open(const stdx::string& path) {
    // The log is the administrator's own file, outside anything the
    // installation may undo; O_APPEND keeps each line whole even when the
    // file is shared. The path may lie in a folder others can write (an
    // administrator's --log=/tmp/x, run as root): a link there is not
    // followed, and a pipe or a device is not written to (O_NONBLOCK, so
    // that opening a pipe cannot hang).
    const int fd = ::open(
        path.c_str(),
        O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        return false;
    }
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return false;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = fd;
    return true;
}

stdx::string RunLog::FormatTime(std::time_t time) {
    struct tm parts;
    char buffer[32];
    if (gmtime_r(&time, &parts) == nullptr ||
        std::strftime(buffer, sizeof(buffer), "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
        return stdx::string("0000-00-00T00:00:00Z");
    }
    return stdx::string(buffer);
}

stdx::string RunLog::Escape(const stdx::string& text) {
    stdx::string escaped;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c < 0x20 || c == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof(code), "\\x%02x", c);
            escaped += code;
        } else {
            escaped.push_back(static_cast<char>(c));
        }
    }
    return escaped;
}

void RunLog::Write(const stdx::string& text) {
    if (m_fd < 0) {
        return;
    }
    stdx::string line = FormatTime(std::time(nullptr));
    line += " ";
    line += Escape(text);
    line += "\n";
    const char* data = line.c_str();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(m_fd, data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        // A full disk or a closed file loses the rest of the log, never the
        // installation.
        if (written <= 0) {
            return;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

void RunLog::OnFileAction(const stdx::u16string& relativePath, FileAction action) {
    // Told for every record: without a log nothing is formatted.
    if (m_fd < 0) {
        return;
    }
    const char* verb = action == FileAction::Install   ? "install "
                       : action == FileAction::Replace ? "replace "
                       : action == FileAction::Repair  ? "repair "
                                                       : "skip ";
    Write(stdx::string(verb) + Utf16ToUtf8(relativePath));
}

void RunLog::OnRollback(int restored, int removed) {
    char line[96];
    std::snprintf(line, sizeof(line), "rollback: %d restored, %d removed", restored, removed);
    Write(stdx::string(line));
}
