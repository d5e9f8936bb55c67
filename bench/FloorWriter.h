#pragma once

// The least a program must do to put a tree of small files on disk, as a
// floor to measure the installer's extraction against. Two ways:
//   - direct: open(O_CREAT), one write, futimens, close;
//   - through a temporary name, as a crash-safe writer must: open a new
//     name in the destination directory with O_CREAT|O_EXCL, one write,
//     futimens, close, rename onto the final name.
// Each directory is made once, with mkdir, before its first file.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace bench {

struct FloorFile {
    std::string relative;  // "dir/name", one directory level
    std::size_t size;
};

class FloorWriter {
public:
    // `files` in the order they are written; sizes up to kMaxBytes.
    explicit FloorWriter(std::vector<FloorFile> files) : m_files(std::move(files)) {
        m_bytes.resize(kMaxBytes);
        for (std::size_t i = 0; i < m_bytes.size(); ++i) {
            m_bytes[i] = "key = value\n"[i % 12];
        }
    }

    static constexpr std::size_t kMaxBytes = 64 * 1024;

    std::size_t Count() const { return m_files.size(); }

    // Writes every file under `root` (an existing, empty directory) and
    // returns the seconds taken, or -1 when a call failed.
    double Write(const std::string& root, bool viaTemporary) const {
        const auto start = std::chrono::steady_clock::now();
        std::string lastDirectory;
        const struct timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
        for (const FloorFile& file : m_files) {
            const std::string path = root + "/" + file.relative;
            const std::string directory = path.substr(0, path.rfind('/'));
            if (directory != lastDirectory) {
                if (::mkdir(directory.c_str(), 0777) != 0 && errno != EEXIST) {
                    return -1;
                }
                lastDirectory = directory;
            }
            const std::string name = viaTemporary ? directory + "/.tmp-floor" : path;
            const int fd = ::open(
                name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (viaTemporary ? O_EXCL : 0), 0644);
            if (fd < 0) {
                return -1;
            }
            const std::size_t size = file.size < kMaxBytes ? file.size : kMaxBytes;
            const bool written = ::write(fd, m_bytes.data(), size) == static_cast<ssize_t>(size);
            const bool timed = ::futimens(fd, times) == 0;
            if (::close(fd) != 0 || !written || !timed) {
                return -1;
            }
            if (viaTemporary && ::rename(name.c_str(), path.c_str()) != 0) {
                return -1;
            }
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

private:
    std::vector<FloorFile> m_files;
    std::string m_bytes;
};

}  // namespace bench
