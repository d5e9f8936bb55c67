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

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
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
    // returns the seconds taken, or -1 when a call failed. With more than
    // one thread, each writes whole directories of its own (every
    // threads-th one, in order), under a temporary name of its own.
    double Write(const std::string& root, bool viaTemporary, unsigned threads = 1) const {
        std::vector<std::vector<const FloorFile*>> groups;
        std::string lastDirectory;
        for (const FloorFile& file : m_files) {
            const std::string directory = file.relative.substr(0, file.relative.rfind('/'));
            if (groups.empty() || directory != lastDirectory) {
                groups.emplace_back();
                lastDirectory = directory;
            }
            groups.back().push_back(&file);
        }
        const auto start = std::chrono::steady_clock::now();
        std::atomic<bool> failed{false};
        auto work = [&](unsigned number) {
            for (std::size_t g = number; g < groups.size(); g += threads) {
                if (!WriteDirectory(root, groups[g], viaTemporary, number)) {
                    failed = true;
                    return;
                }
            }
        };
        std::vector<std::thread> helpers;
        for (unsigned number = 1; number < threads; ++number) {
            helpers.emplace_back(work, number);
        }
        work(0);
        for (std::thread& helper : helpers) {
            helper.join();
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return failed ? -1 : seconds;
    }

private:
    bool WriteDirectory(const std::string& root, const std::vector<const FloorFile*>& files,
                        bool viaTemporary, unsigned number) const {
        const struct timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
        const std::string& first = files.front()->relative;
        const std::string directory = root + "/" + first.substr(0, first.rfind('/'));
        if (::mkdir(directory.c_str(), 0777) != 0 && errno != EEXIST) {
            return false;
        }
        const std::string temporary = directory + "/.tmp-floor-" + std::to_string(number);
        for (const FloorFile* file : files) {
            const std::string path = root + "/" + file->relative;
            const std::string& name = viaTemporary ? temporary : path;
            const int fd = ::open(
                name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (viaTemporary ? O_EXCL : 0), 0644);
            if (fd < 0) {
                return false;
            }
            const std::size_t size = file->size < kMaxBytes ? file->size : kMaxBytes;
            const bool written = ::write(fd, m_bytes.data(), size) == static_cast<ssize_t>(size);
            const bool timed = ::futimens(fd, times) == 0;
            if (::close(fd) != 0 || !written || !timed) {
                return false;
            }
            if (viaTemporary && ::rename(name.c_str(), path.c_str()) != 0) {
                return false;
            }
        }
        return true;
    }

    std::vector<FloorFile> m_files;
    std::string m_bytes;
};

}  // namespace bench
