// Installs a kit of 20,000 small files in 200 directories three ways and
// compares each with unpacking the same tree by tar:
//   (a) a fresh install into an empty template directory,
//   (b) a reinstall over the same files, all up to date (nothing written),
//   (c) a reinstall over files one second older (every file backed up and
//       replaced).
// Each run is timed from loading the kit to the 100 percent status; the
// pause after it is left out. Two parts of the per-file cost are timed on
// their own as well: appending one journal entry, and the renames (a file
// into the backup directory without replacing, a temporary over its name).
// The extraction part of (a), the fresh install less the kit load, is also
// set per file against the floor of bench/FloorWriter.h, run on the same
// tree in the same rounds. Usage:
//   install_bench [work-directory [rounds [writers]]]
// Writers are the worker's file-writing threads (default: as many as the
// installer itself uses on this machine).
// The work directory (default /var/tmp) gets a scratch directory that is
// removed at the end; TMPDIR is pointed into it so that the backups stay on
// the same file system as the templates, as they normally are.

#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchTree.h"
#include "bench/FloorWriter.h"
#include "engine/InstallProcessData.h"
#include "engine/InstallWorker.h"
#include "engine/RunJournal.h"
#include "kit/InstallData.h"
#include "kit/KitWriter.h"
#include "text/Encoding.h"

extern char** environ;

using bench::Median;

namespace {

constexpr std::int64_t kBaseSeconds = 1700000000;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

stdx::u16string U16(const std::string& text) {
    return Utf8ToUtf16(stdx::string(text.c_str(), text.size()));
}

void SetTimes(const std::string& path, std::int64_t seconds) {
    struct timeval times[2] = {{static_cast<time_t>(seconds), 0},
                               {static_cast<time_t>(seconds), 0}};
    utimes(path.c_str(), times);
}

std::vector<std::string> WriteSourceTree(const std::string& root) {
    std::vector<std::string> relative;
    for (int d = 0; d < bench::kTreeDirectoryCount; ++d) {
        std::filesystem::create_directories(root + "/dir" + std::to_string(d));
    }
    bench::ForEachTreeFile([&](const std::string& name, const std::string& contents) {
        {
            std::ofstream out(root + "/" + name, std::ios::binary);
            out << contents;
        }
        SetTimes(root + "/" + name, kBaseSeconds);
        relative.push_back(name);
    });
    return relative;
}

// Runs a program with an argument vector and waits for it; true on exit 0.
bool Spawn(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::size_t g_writers = InstallWorker<FileSystem>::DefaultWriters();

// Loads the kit and installs it into target; the time up to the 100
// percent status, or a negative value when the run failed.
double TimeInstall(const std::string& kitPath, const std::string& target, ErrorCode* result) {
    const Clock::time_point start = Clock::now();
    InstallData<LZCompressor, FileSystem> kit;
    *result = kit.Load(U16(kitPath));
    if (*result != kErrorSuccess) {
        return -1;
    }
    InstallProcessData data;
    data.Init();
    data.SetInstallData(&kit, U16(target));
    InstallWorker<FileSystem> worker;
    worker.SetFinishPause(std::chrono::milliseconds(0));
    worker.SetWriters(g_writers);
    *result = worker.Run(&data);
    const Clock::time_point end = Clock::now();
    return *result == kErrorSuccess ? Seconds(end - start) : -1;
}

// Loading alone: inflating the kit into its stream file and reading the
// tables, the part of every run that does not depend on the target.
double TimeLoad(const std::string& kitPath) {
    const Clock::time_point start = Clock::now();
    InstallData<LZCompressor, FileSystem> kit;
    const ErrorCode result = kit.Load(U16(kitPath));
    const Clock::time_point end = Clock::now();
    return result == kErrorSuccess ? Seconds(end - start) : -1;
}

// Appends one journal entry per file name to a fresh journal; seconds per
// entry.
double TimeJournal(const std::string& directory, const std::vector<std::string>& files) {
    FileSystem fileSystem;
    FileHandle journal = kInvalidHandle;
    if (fileSystem.CreateExclusive(U16(directory + "/journal"), true, &journal) != kErrorSuccess) {
        return -1;
    }
    const Clock::time_point start = Clock::now();
    for (const std::string& name : files) {
        run_journal::Entry entry;
        entry.step = run_journal::Step::Replace;
        entry.path = U16(name);
        run_journal::WriteRecords(fileSystem, journal, run_journal::EncodeEntry(entry));
    }
    const double seconds = Seconds(Clock::now() - start);
    fileSystem.Close(journal);
    std::filesystem::remove(directory + "/journal");
    return seconds / static_cast<double>(files.size());
}

// Renames every installed file into a backup tree without replacing, then
// back over a fresh file of its name; seconds per rename of each kind.
void TimeRenames(const std::string& target, const std::string& backup,
                 const std::vector<std::string>& files, double* noReplace, double* replace) {
    FileSystem fileSystem;
    for (int d = 0; d < bench::kTreeDirectoryCount; ++d) {
        std::filesystem::create_directories(backup + "/dir" + std::to_string(d));
    }
    Clock::time_point start = Clock::now();
    for (const std::string& name : files) {
        fileSystem.Rename(U16(target + "/" + name), U16(backup + "/" + name), false);
    }
    *noReplace = Seconds(Clock::now() - start) / static_cast<double>(files.size());
    for (const std::string& name : files) {
        std::ofstream(target + "/" + name).put('x');
    }
    start = Clock::now();
    for (const std::string& name : files) {
        fileSystem.Rename(U16(backup + "/" + name), U16(target + "/" + name), true);
    }
    *replace = Seconds(Clock::now() - start) / static_cast<double>(files.size());
    std::filesystem::remove_all(backup);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string base = argc > 1 ? argv[1] : "/var/tmp";
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    if (argc > 3) {
        g_writers = static_cast<std::size_t>(std::max(1, atoi(argv[3])));
    }
    std::string pattern = base + "/install-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a directory in %s\n", base.c_str());
        return 1;
    }
    const std::string work = pattern;
    const std::string source = work + "/source";
    const std::string temp = work + "/tmp";
    const std::string kitPath = work + "/qarn.pkd";
    const std::string tarPath = work + "/tree.tar.gz";
    std::filesystem::create_directories(temp);
    setenv("TMPDIR", temp.c_str(), 1);

    std::printf("preparing %d files in %d directories under %s\n", bench::kTreeFileCount,
                bench::kTreeDirectoryCount, work.c_str());
    const std::vector<std::string> files = WriteSourceTree(source);
    kit::KitWriter writer;
    std::string error;
    kit::KitStats stats;
    if (!writer.AddDirectory(source, nullptr, &error) || !writer.Write(kitPath, &stats, &error)) {
        std::fprintf(stderr, "kit: %s\n", error.c_str());
        return 1;
    }
    if (!Spawn({"tar", "-czf", tarPath, "-C", source, "."})) {
        std::fprintf(stderr, "tar -czf failed\n");
        return 1;
    }
    std::printf("kit %.1f MiB (stream %.1f MiB), tar.gz %.1f MiB\n", stats.kitBytes / 1048576.0,
                stats.streamBytes / 1048576.0, std::filesystem::file_size(tarPath) / 1048576.0);

    std::vector<bench::FloorFile> floorFiles;
    for (const std::string& name : files) {
        floorFiles.push_back(
            {name, static_cast<std::size_t>(std::filesystem::file_size(source + "/" + name))});
    }
    const bench::FloorWriter floor(floorFiles);
    std::vector<double> tarTimes, loads, fresh, upToDate, replace, journal, noReplaceRenames,
        replaceRenames, floorDirect, floorRename, floorRenameThreads;
    for (int round = 0; round < rounds; ++round) {
        const std::string tarTarget = work + "/tar-out";
        const std::string target = work + "/templates";
        std::filesystem::remove_all(tarTarget);
        std::filesystem::remove_all(target);
        std::filesystem::create_directories(tarTarget);
        std::filesystem::create_directories(target);

        // Every measurement starts without dirty pages of the one before.
        sync();
        Clock::time_point start = Clock::now();
        if (!Spawn({"tar", "-xzf", tarPath, "-C", tarTarget})) {
            std::fprintf(stderr, "tar -xzf failed\n");
            return 1;
        }
        tarTimes.push_back(Seconds(Clock::now() - start));

        ErrorCode result = 0;
        sync();
        loads.push_back(TimeLoad(kitPath));
        sync();
        fresh.push_back(TimeInstall(kitPath, target, &result));
        sync();
        upToDate.push_back(TimeInstall(kitPath, target, &result));
        for (const std::string& name : files) {
            SetTimes(target + "/" + name, kBaseSeconds - 1);
        }
        sync();
        replace.push_back(TimeInstall(kitPath, target, &result));
        if (result != kErrorSuccess || fresh.back() < 0 || upToDate.back() < 0) {
            std::fprintf(stderr, "install failed with code %u\n", static_cast<unsigned>(result));
            return 1;
        }
        journal.push_back(TimeJournal(temp, files));
        double noReplace = 0;
        double replaceOver = 0;
        TimeRenames(target, work + "/backup", files, &noReplace, &replaceOver);
        noReplaceRenames.push_back(noReplace);
        replaceRenames.push_back(replaceOver);
        // The floors on as many threads as the worker writes with, too.
        const unsigned threads = static_cast<unsigned>(g_writers);
        for (int variant = 0; variant < 3; ++variant) {
            const std::string floorTarget = work + "/floor-out";
            std::filesystem::remove_all(floorTarget);
            std::filesystem::create_directories(floorTarget);
            sync();
            const double seconds =
                floor.Write(floorTarget, variant != 0, variant == 2 ? threads : 1);
            if (seconds < 0) {
                std::fprintf(stderr, "floor writer failed under %s\n", floorTarget.c_str());
                return 1;
            }
            (variant == 0   ? floorDirect
             : variant == 1 ? floorRename
                            : floorRenameThreads)
                .push_back(seconds);
        }
        std::printf(
            "round %d: tar %.3f s, load %.3f s, fresh %.3f s, up to date %.3f s, replace %.3f s, "
            "floor %.3f s, floor with rename %.3f s (%.3f s on threads)\n",
            round + 1, tarTimes.back(), loads.back(), fresh.back(), upToDate.back(), replace.back(),
            floorDirect.back(), floorRename.back(), floorRenameThreads.back());
    }
    std::filesystem::remove_all(work);

    const double tar = Median(tarTimes);
    const struct {
        const char* name;
        double seconds;
        double target;
    } rows[] = {{"(a) fresh install", Median(fresh), 0.6},
                {"(b) reinstall, all up to date", Median(upToDate), 0.25},
                {"(c) reinstall, all one second older", Median(replace), 1.0}};
    std::printf("\nmedian of %d rounds, %d files, %zu writers\n", rounds, bench::kTreeFileCount,
                g_writers);
    std::printf("%-38s %8.3f s %8.1f us/file\n", "tar -xzf", tar,
                tar * 1e6 / bench::kTreeFileCount);
    std::printf("%-38s %8.3f s (part of each run below)\n", "kit load alone", Median(loads));
    for (const auto& row : rows) {
        std::printf("%-38s %8.3f s %8.1f us/file  %.2f x tar (target <= %.2f)\n", row.name,
                    row.seconds, row.seconds * 1e6 / bench::kTreeFileCount, row.seconds / tar,
                    row.target);
    }
    std::printf("%-38s %8.2f us/entry\n", "journal entry (write)", Median(journal) * 1e6);
    std::printf("%-38s %8.2f us/file\n", "rename into backup (no replace)",
                Median(noReplaceRenames) * 1e6);
    std::printf("%-38s %8.2f us/file\n", "rename over a name (replace)",
                Median(replaceRenames) * 1e6);
    const double perFile = 1e6 / bench::kTreeFileCount;
    const double extraction = (Median(fresh) - Median(loads)) * perFile;
    std::printf("%-38s %8.3f s %8.1f us/file\n", "floor: open, write, futimens, close",
                Median(floorDirect), Median(floorDirect) * perFile);
    std::printf("%-38s %8.3f s %8.1f us/file\n", "floor through a temporary name",
                Median(floorRename), Median(floorRename) * perFile);
    std::printf("%-38s %8.3f s %8.1f us/file\n", "floor through a temporary name, threads",
                Median(floorRenameThreads), Median(floorRenameThreads) * perFile);
    std::printf(
        "extraction of (a) less the load: %.1f us/file, %.2f x the floor, %.2f x the "
        "floor with rename (target <= 1.5), %.2f x that floor on %zu threads\n",
        extraction, extraction / (Median(floorDirect) * perFile),
        extraction / (Median(floorRename) * perFile),
        extraction / (Median(floorRenameThreads) * perFile), g_writers);
    std::printf(
        "the least (a) can take here: the load and the threaded floor, %.3f s, %.2f x tar\n",
        Median(loads) + Median(floorRenameThreads),
        (Median(loads) + Median(floorRenameThreads)) / tar);
    return 0;
}