#pragma once

// Keeps each step of a benchmark on persistent storage from paying for the
// files an earlier step removed.
//
// ext4 without a journal (as the disk of the machine these benchmarks were
// first run on is) does not hand out again an inode freed in the last
// minute, or in the last six while the block holding it has unwritten
// changes (as it has once a new file takes a neighbour), and on each file
// it creates it walks past every such inode of the group: right after a
// step that removed thousands of files, the next one's creates cost time
// that grows with both counts, all of it in the kernel, the disk idle.
// There, tar of the small tree took 10 to 21 s right after the tree before
// it was removed and synced, 9.4 s a minute later, 4.3 s two minutes later
// and 1.2 s five and a half minutes later (as on a quiet disk); a fresh
// install five minutes after the removal still took 4 s instead of 0.7 s.
// So a tree a step is done with is moved aside, not removed, until the
// benchmark ends; and a step that follows a removal of many files it could
// not move aside (the backups a replacing run removes at its end) first
// waits until those are over six minutes old. That makes a run on such a
// disk take a while: give it few rounds. With a journal, ext4 hands a freed
// inode out again at once, and nothing waits.

#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

namespace bench {

// Whether directory lies on an ext4 file system without a journal: one
// whose device has no entry under /proc/fs/jbd2. Read from the files the
// kernel shows, so that elsewhere (no /proc) the answer is no.
inline bool OnExt4WithoutJournal(const std::string& directory) {
    std::error_code error;
    const std::string path = std::filesystem::canonical(directory, error).string();
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    std::string device;
    std::string type;
    std::size_t longest = 0;
    // "id parent major:minor root mount-point options [tags] - type source ..."
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string id, parent, numbers, root, point, field;
        fields >> id >> parent >> numbers >> root >> point;
        while (fields >> field && field != "-") {
        }
        fields >> field;
        const bool under =
            path.compare(0, point.size(), point) == 0 &&
            (point == "/" || path.size() == point.size() || path[point.size()] == '/');
        if (!error && under && point.size() >= longest) {
            longest = point.size();
            device = numbers;
            type = field;
        }
    }
    if (type != "ext4") {
        return false;
    }
    std::ifstream uevent("/sys/dev/block/" + device + "/uevent");
    while (std::getline(uevent, line)) {
        if (line.rfind("DEVNAME=", 0) == 0) {
            return !std::filesystem::exists("/proc/fs/jbd2/" + line.substr(8) + "-8", error);
        }
    }
    // A device the kernel does not name: wait, to be safe.
    return true;
}

class FreshInodes {
public:
    // trash: a directory on the work directory's file system, made here and
    // removed with the work directory at the end; persistent: whether that
    // file system keeps its data across a power cut (elsewhere, in memory,
    // everything is removed at once and nothing waits).
    FreshInodes(const std::string& trash, bool persistent)
        : m_trash(trash), m_persistent(persistent) {
        std::error_code ignored;
        std::filesystem::create_directories(trash, ignored);
        m_waits = persistent && OnExt4WithoutJournal(trash);
    }

    // Empties the place of directory (which may not exist) and makes it
    // again, empty.
    void Clear(const std::string& directory) {
        std::error_code ignored;
        if (m_persistent && std::filesystem::exists(directory, ignored)) {
            std::filesystem::rename(directory, m_trash + "/" + std::to_string(m_moved++), ignored);
        }
        std::filesystem::remove_all(directory, ignored);
        std::filesystem::create_directories(directory, ignored);
    }

    // Notes that count files were removed just now; a few (the large
    // kit's) free too few inodes to slow anything.
    void NoteRemovals(std::size_t count) {
        if (count >= kManyRemovals) {
            m_lastRemoval = Clock::now();
        }
    }

    // Syncs, then waits until the removals noted are old enough not to
    // slow the files created next (on ext4 without a journal only).
    void Settle() {
        ::sync();
        if (!m_waits || m_lastRemoval == Clock::time_point()) {
            return;
        }
        const Clock::time_point quiet = m_lastRemoval + std::chrono::seconds(kQuietSeconds);
        if (Clock::now() < quiet) {
            std::this_thread::sleep_until(quiet);
        }
    }

private:
    using Clock = std::chrono::steady_clock;
    // The kernel's six minutes, and some seconds for its clock's steps.
    static constexpr int kQuietSeconds = 370;
    static constexpr std::size_t kManyRemovals = 1000;

    std::string m_trash;
    bool m_persistent;
    bool m_waits = false;
    int m_moved = 0;
    Clock::time_point m_lastRemoval;
};

}  // namespace bench
