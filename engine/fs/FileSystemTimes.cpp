// Times: the conversions between FileTime and the system's seconds, and the
// probe of what a file system keeps of a modification time.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <string>

#include "engine/fs/FileSystem.h"
#include "engine/fs/FileSystemInternal.h"
#include "engine/fs/FileSystemPlatform.h"

namespace {

constexpr std::int64_t kEpochDifferenceSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
constexpr FileTime kTicksPerSecond = 10000000;

// An odd second well inside every file system's range.
constexpr std::int64_t kOddProbeSeconds = 1000000001;

bool SetAndReadBack(int fd, std::int64_t seconds, std::int64_t* kept) {
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    struct stat status;
    if (::futimens(fd, times) != 0 || ::fstat(fd, &status) != 0) {
        return false;
    }
    *kept = status.st_mtime;
    return true;
}

// Sets the extreme times and an odd second on a new file in `directory` and
// reads back what stays. The file has no name where the platform allows
// that; otherwise a hidden exclusive one, removed at once.
bool ProbeKeptTimes(const std::string& directory, StoredTimeRule* kept) {
    std::string named;
    int fd = fs_platform::OpenUnnamed(directory.c_str(), O_WRONLY);
    if (fd < 0) {
        named = directory + "/.qa-time-XXXXXX";
        fd = ::mkostemp(&named[0], O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
    }
    std::int64_t odd = 0;
    const bool probed =
        SetAndReadBack(fd, FileSystem::ToUnixSeconds(0), &kept->earliest) &&
        SetAndReadBack(fd, FileSystem::ToUnixSeconds(std::numeric_limits<FileTime>::max()),
                       &kept->latest) &&
        SetAndReadBack(fd, kOddProbeSeconds, &odd);
    ::close(fd);
    if (!named.empty()) {
        ::unlink(named.c_str());
    }
    kept->oddShift = odd - kOddProbeSeconds;
    return probed && kept->earliest <= kept->latest && kept->oddShift >= -1 && kept->oddShift <= 1;
}

}  // namespace

FileTime StoredTimeRule::Apply(FileTime time) const {
    const FileTime whole = time - time % kTicksPerSecond;
    if (!known) {
        return whole;
    }
    std::int64_t seconds = FileSystem::ToUnixSeconds(whole);
    if (seconds % 2 != 0) {
        seconds += oddShift;
    }
    seconds = std::max(earliest, std::min(latest, seconds));
    return FileSystem::FromUnixSeconds(seconds);
}

StoredTimeRule FileSystem::StoredTimeRuleOf(const stdx::u16string& directory) {
    std::string existing = fs_internal::Narrow(directory);
    struct stat status;
    while (::stat(existing.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        const std::size_t slash = existing.find_last_of('/', existing.size() - 1);
        if (existing.size() <= 1 || slash == std::string::npos) {
            return StoredTimeRule();
        }
        existing.resize(slash == 0 ? 1 : slash);
    }
    StoredTimeRule rule;
    rule.known = ProbeKeptTimes(existing, &rule);
    return rule.known ? rule : StoredTimeRule();
}

FileTime FileSystem::FromUnixSeconds(std::int64_t seconds) {
    if (seconds <= -kEpochDifferenceSeconds) {
        return 0;
    }
    // Unsigned: the sum of a large time and the epoch difference does not
    // fit a signed 64-bit value, and it is never negative here.
    const std::uint64_t sinceEpoch =
        static_cast<std::uint64_t>(seconds) + static_cast<std::uint64_t>(kEpochDifferenceSeconds);
    if (sinceEpoch > std::numeric_limits<FileTime>::max() / kTicksPerSecond) {
        return std::numeric_limits<FileTime>::max();
    }
    return sinceEpoch * kTicksPerSecond;
}

std::int64_t FileSystem::ToUnixSeconds(FileTime time) {
    // At most 2^64 / 10^7 seconds, far inside the signed range.
    return static_cast<std::int64_t>(time / kTicksPerSecond) - kEpochDifferenceSeconds;
}
