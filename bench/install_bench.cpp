// Installs a kit three ways and compares each with unpacking the same tree
// by tar:
//   (a) a fresh install into an empty template directory,
//   (b) a reinstall over the same files, all up to date (nothing written;
//       bench::kUpToDateRuns times in a row),
//   (c) a reinstall over files one second older (every file backed up and
//       replaced).
// Each run is timed from loading the kit to the 100 percent status, which
// a run posts only once it is durable; the pause after it is left out.
//
// The kit holds the small tree of bench/BenchKits.h (20,000 files in 200
// folders) or the large one (4 files of 256 MiB), with its records in each
// kit order asked for (grouped first; every other order is set against
// it), all with the same files, bytes and times. On a work directory that
// keeps its data across a power cut, tar is timed twice: as it is, and
// followed by "sync -f" of the target, which makes it as durable as an
// installation; on tmpfs only as it is. The first order's (a) and (c) also
// run over bench/NoSyncFileSystem.h, whose syncs do nothing: the difference
// is what making the run durable costs.
//
// For the small tree, two parts of the per-file cost are timed on their own
// as well: appending one journal entry, and the renames (a file into the
// backup directory without replacing, a temporary over its name). The
// extraction part of (a), the fresh install less the kit load, is also set
// per file against the floor of bench/FloorWriter.h, run on the same tree
// in the same rounds. Usage:
//   install_bench [--order=ORDER]... [--shape=small|large]
//                 [work-directory [rounds [writers]]]
// ORDER is grouped, interleaved, shuffled or reversed (default: all four);
// the large shape defaults to grouped alone, since its 4 records have no
// order to speak of. Writers are the worker's file-writing threads (default:
// as many as the installer itself uses on this machine).
// The work directory (default /var/tmp) gets a scratch directory that is
// removed at the end; TMPDIR is pointed into it so that the backups stay on
// the same file system as the templates, as they normally are. Every
// measurement starts after a sync, in rounds that take each once; on
// persistent storage also as bench/FreshInodes.h has it: no tree is removed
// before the end, and a step after one that removed many files waits until
// a file system without a journal hands out their inodes again.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchKits.h"
#include "bench/BenchReport.h"
#include "bench/BenchRun.h"
#include "bench/BenchTree.h"
#include "bench/FloorWriter.h"
#include "bench/NoSyncFileSystem.h"
#include "engine/InstallWorker.h"
#include "engine/RunJournal.h"
#include "kit/InstallData.h"
#include "kit/KitWriter.h"

using bench::Clock;
using bench::KitOrder;
using bench::KitShape;
using bench::Median;
using bench::Since;
using bench::SourceFile;
using bench::U16;

namespace {

std::size_t g_writers = InstallWorker<FileSystem>::DefaultWriters();

// The time of bench::InstallKit up to the 100 percent status, or a
// negative value when the run failed.
template <class FS>
double TimeInstall(const std::string& kitPath, const std::string& target, ErrorCode* result) {
    const Clock::time_point start = Clock::now();
    *result = bench::InstallKit<FS>(kitPath, target, g_writers);
    return *result == kErrorSuccess ? Since(start) : -1;
}

// The runs of bench::TimeKitRuns over FS; (b) only when upToDate is given.
template <class FS>
bool TimeRuns(const std::string& kitPath, const std::string& target,
              const std::vector<SourceFile>& files, bench::FreshInodes& space,
              std::vector<double>* fresh, std::vector<double>* upToDate,
              std::vector<double>* replace) {
    const auto run = [&] {
        ErrorCode result = kErrorSuccess;
        const double seconds = TimeInstall<FS>(kitPath, target, &result);
        if (result != kErrorSuccess) {
            std::fprintf(stderr, "install failed with code %u\n", static_cast<unsigned>(result));
        }
        return seconds;
    };
    return bench::TimeKitRuns(space, target, files, run, fresh, upToDate, replace);
}

// Loading alone: inflating the kit into its stream file and reading the
// tables, the part of every run that does not depend on the target.
double TimeLoad(const std::string& kitPath) {
    const Clock::time_point start = Clock::now();
    InstallData<LZCompressor, FileSystem> kit;
    const ErrorCode result = kit.Load(U16(kitPath));
    return result == kErrorSuccess ? Since(start) : -1;
}

// Appends one journal entry per file name to a fresh journal; seconds per
// entry.
double TimeJournal(const std::string& directory, const std::vector<SourceFile>& files) {
    FileSystem fileSystem;
    FileHandle journal = kInvalidHandle;
    if (fileSystem.CreateExclusive(U16(directory + "/journal"), true, &journal) != kErrorSuccess) {
        return -1;
    }
    const Clock::time_point start = Clock::now();
    for (const SourceFile& file : files) {
        run_journal::Entry entry;
        entry.step = run_journal::Step::Replace;
        entry.path = U16(file.relative);
        run_journal::WriteRecords(fileSystem, journal, run_journal::EncodeEntry(entry));
    }
    const double seconds = Since(start);
    fileSystem.Close(journal);
    std::filesystem::remove(directory + "/journal");
    return seconds / static_cast<double>(files.size());
}

// Renames every installed file into a backup tree without replacing, then
// back over a fresh file of its name; seconds per rename of each kind.
void TimeRenames(const std::string& target, const std::string& backup,
                 const std::vector<SourceFile>& files, double* noReplace, double* replace) {
    FileSystem fileSystem;
    for (int d = 0; d < bench::kTreeDirectoryCount; ++d) {
        std::filesystem::create_directories(backup + "/dir" + std::to_string(d));
    }
    Clock::time_point start = Clock::now();
    for (const SourceFile& file : files) {
        fileSystem.Rename(U16(target + "/" + file.relative), U16(backup + "/" + file.relative),
                          false);
    }
    *noReplace = Since(start) / static_cast<double>(files.size());
    for (const SourceFile& file : files) {
        std::ofstream(target + "/" + file.relative).put('x');
    }
    start = Clock::now();
    for (const SourceFile& file : files) {
        fileSystem.Rename(U16(backup + "/" + file.relative), U16(target + "/" + file.relative),
                          true);
    }
    *replace = Since(start) / static_cast<double>(files.size());
    std::filesystem::remove_all(backup);
}

struct Options {
    KitShape shape = KitShape::Small;
    std::vector<KitOrder> orders;
    std::string base = "/var/tmp";
    int rounds = 3;
};

bool ParseArguments(int argc, char** argv, Options* options) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        KitOrder order = KitOrder::Grouped;
        if (argument.rfind("--order=", 0) == 0 && bench::ParseOrder(argument.substr(8), &order)) {
            options->orders.push_back(order);
        } else if (argument.rfind("--shape=", 0) == 0 &&
                   bench::ParseShape(argument.substr(8), &options->shape)) {
        } else if (argument.rfind("--", 0) == 0 || positional.size() == 3) {
            return false;
        } else {
            positional.push_back(argument);
        }
    }
    if (options->orders.empty() && options->shape == KitShape::Large) {
        options->orders.push_back(KitOrder::Grouped);
    } else if (options->orders.empty()) {
        options->orders.assign(std::begin(bench::kKitOrders), std::end(bench::kKitOrders));
    }
    if (!positional.empty()) {
        options->base = positional[0];
    }
    if (positional.size() > 1) {
        options->rounds = std::max(1, atoi(positional[1].c_str()));
    }
    if (positional.size() > 2) {
        g_writers = static_cast<std::size_t>(std::max(1, atoi(positional[2].c_str())));
    }
    return true;
}

// Prints the durability step's cost in one kind of run: with and without
// syncs, their difference in all, per file and per MiB of the kit's files.
void PrintDurability(const char* name, double with, double without, std::size_t files,
                     double mebibytes) {
    const double cost = with - without;
    std::printf("  %-36s %8.3f s with, %8.3f s without: %+.3f s, %s, %+.1f ms/GiB\n", name, with,
                without, cost, bench::PerFile(cost, files).c_str(), cost * 1e3 * 1024 / mebibytes);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArguments(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: install_bench [--order=grouped|interleaved|shuffled|reversed]... "
                     "[--shape=small|large] [work-directory [rounds [writers]]]\n");
        return 2;
    }
    bench::PrintLoadAverage("at the start");
    std::string pattern = options.base + "/install-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a directory in %s\n", options.base.c_str());
        return 1;
    }
    const std::string work = pattern;
    const std::string source = work + "/source";
    const std::string temp = work + "/tmp";
    const std::string tarPath = work + "/tree.tar.gz";
    std::filesystem::create_directories(temp);
    setenv("TMPDIR", temp.c_str(), 1);
    const bool persistent = bench::OnPersistentStorage(work);
    const bool small = options.shape == KitShape::Small;

    std::printf("preparing the %s tree under %s (%s)\n", bench::ShapeName(options.shape),
                work.c_str(), persistent ? "persistent storage" : "held in memory");
    const std::vector<SourceFile> files = bench::WriteSourceTree(options.shape, source);
    if (files.empty() || !bench::Spawn({"tar", "-czf", tarPath, "-C", source, "."})) {
        std::fprintf(stderr, "cannot write the tree or its tar.gz under %s\n", source.c_str());
        return 1;
    }
    double mebibytes = 0;
    for (const SourceFile& file : files) {
        mebibytes += static_cast<double>(file.size) / 1048576.0;
    }
    std::vector<std::string> kits;
    for (KitOrder order : options.orders) {
        kits.push_back(work + "/" + bench::OrderName(order) + ".pkd");
        kit::KitStats stats;
        std::string error;
        if (!bench::WriteOrderedKit(source, files, order, false, kits.back(), &stats, &error)) {
            std::fprintf(stderr, "kit: %s\n", error.c_str());
            return 1;
        }
        std::printf("%s kit %.1f MiB (stream %.1f MiB)\n", bench::OrderName(order),
                    stats.kitBytes / 1048576.0, stats.streamBytes / 1048576.0);
    }
    std::printf("%zu files, %.1f MiB, tar.gz %.1f MiB\n", files.size(), mebibytes,
                std::filesystem::file_size(tarPath) / 1048576.0);

    std::vector<bench::FloorFile> floorFiles;
    for (const SourceFile& file : bench::InKitOrder(files, KitOrder::Grouped)) {
        floorFiles.push_back({file.relative, static_cast<std::size_t>(file.size)});
    }
    const bench::FloorWriter floor(floorFiles);
    std::vector<bench::OrderTimes> times(options.orders.size());
    bench::OrderTimes off;  // the first order's runs without syncs, (b) left out
    std::vector<double> tarTimes, durableTarTimes, loads, journal, noReplaceRenames, replaceRenames,
        floorDirect, floorRename, floorRenameThreads;
    const std::string target = work + "/templates";
    bench::FreshInodes space(work + "/trash", persistent);
    for (int round = 0; round < options.rounds; ++round) {
        if (!bench::TimeTarRound(tarPath, work + "/tar-out", space, persistent, &tarTimes,
                                 &durableTarTimes)) {
            std::fprintf(stderr, "tar -xzf failed\n");
            return 1;
        }
        sync();
        loads.push_back(TimeLoad(kits[0]));
        std::printf("round %d: tar %.3f s", round + 1, tarTimes.back());
        if (persistent) {
            std::printf(", tar and sync -f %.3f s", durableTarTimes.back());
        }
        std::printf(", load %.3f s\n", loads.back());
        // The runs without syncs come last in one round and first in the
        // next, and each round starts its orders with the next one, so that
        // no run always finds the memory or the disk as the same other one
        // left it.
        const std::size_t offStep = round % 2 == 0 ? kits.size() : 0;
        for (std::size_t step = 0; step <= kits.size(); ++step) {
            if (step == offStep) {
                if (!TimeRuns<bench::NoSyncFileSystem>(kits[0], target, files, space, &off.runs[0],
                                                       nullptr, &off.runs[2])) {
                    return 1;
                }
                std::printf("  without syncs, %s: fresh %.3f s, replace %.3f s\n",
                            bench::OrderName(options.orders[0]), off.runs[0].back(),
                            off.runs[2].back());
                continue;
            }
            const std::size_t k =
                ((step < offStep ? step : step - 1) + static_cast<std::size_t>(round)) %
                kits.size();
            std::vector<double>* runs = times[k].runs;
            if (!TimeRuns<FileSystem>(kits[k], target, files, space, &runs[0], &runs[1],
                                      &runs[2])) {
                return 1;
            }
            std::printf("  %-12s fresh %.3f s, up to date %.3f s, replace %.3f s\n",
                        bench::OrderName(options.orders[k]), runs[0].back(),
                        bench::LastRound(runs[1], bench::kUpToDateRuns), runs[2].back());
        }
        if (!small) {
            continue;
        }
        journal.push_back(TimeJournal(temp, files));
        double noReplace = 0;
        double replaceOver = 0;
        TimeRenames(target, work + "/backup", files, &noReplace, &replaceOver);
        // Each rename over a name removed the file it replaced.
        space.NoteRemovals(files.size());
        noReplaceRenames.push_back(noReplace);
        replaceRenames.push_back(replaceOver);
        // The floors on as many threads as the worker writes with, too.
        const unsigned threads = static_cast<unsigned>(g_writers);
        for (int variant = 0; variant < 3; ++variant) {
            const std::string floorTarget = work + "/floor-out";
            space.Clear(floorTarget);
            space.Settle();
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
        std::printf("  floor %.3f s, floor with rename %.3f s (%.3f s on threads)\n",
                    floorDirect.back(), floorRename.back(), floorRenameThreads.back());
    }
    bench::PrintLoadAverage("at the end");
    std::filesystem::remove_all(work);

    const std::size_t count = files.size();
    const double perFile = 1e6 / static_cast<double>(count);
    bench::RunTargets targets;
    targets.tar = Median(tarTimes);
    std::printf("\nmedian of %d rounds, %zu files (%s tree, %.1f MiB), %zu writers, %s\n",
                options.rounds, count, bench::ShapeName(options.shape), mebibytes, g_writers,
                persistent ? "on persistent storage" : "held in memory");
    // On persistent storage (a) and (c) answer to the durable tar, which
    // does what they do; in memory, where a sync costs nothing, to tar.
    if (persistent) {
        targets.durableTar = Median(durableTarTimes);
        targets.durableTargets[0] = 1.0;
        targets.durableTargets[2] = 1.3;
    } else {
        targets.tarTargets[0] = 0.6;
        targets.tarTargets[2] = 1.0;
    }
    targets.tarTargets[1] = 0.25;
    bench::PrintTarRows(targets, count);
    std::printf("%-38s %8.3f s (part of each run below)\n", "kit load alone", Median(loads));
    std::vector<const char*> orderNames;
    for (KitOrder order : options.orders) {
        orderNames.push_back(bench::OrderName(order));
    }
    bench::PrintOrderRows(orderNames, times, count, targets);
    std::printf("durability, %s order (the same runs with every sync left out):\n",
                bench::OrderName(options.orders[0]));
    PrintDurability("(a) fresh install", Median(times[0].runs[0]), Median(off.runs[0]), count,
                    mebibytes);
    PrintDurability("(c) reinstall, all one second older", Median(times[0].runs[2]),
                    Median(off.runs[2]), count, mebibytes);
    if (!small) {
        return 0;
    }
    std::printf("%-38s %8.2f us/entry\n", "journal entry (write)", Median(journal) * 1e6);
    std::printf("%-38s %8.2f us/file\n", "rename into backup (no replace)",
                Median(noReplaceRenames) * 1e6);
    std::printf("%-38s %8.2f us/file\n", "rename over a name (replace)",
                Median(replaceRenames) * 1e6);
    // The load overlaps the writing now: what (a) spends beyond the load is
    // no longer its extraction alone, but still the part that grows with
    // the writing.
    const double extraction = (Median(times[0].runs[0]) - Median(loads)) * perFile;
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
    // The kit inflates while the files are written: the least a fresh
    // install can take is the longer of the two.
    const double least = std::max(Median(loads), Median(floorRenameThreads));
    std::printf(
        "the least (a) can take here: the longer of the load and the threaded floor, %.3f s "
        "(%.2f x tar); (a) takes %.2f x that\n",
        least, least / targets.tar, Median(times[0].runs[0]) / least);
    return 0;
}
