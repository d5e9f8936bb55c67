// Runs the built installer as a whole process, as a deployment does:
// "Setup usecwd /S --dir=TARGET" in the folder that holds qarn.pkd, in
// silent mode without a display, each run with a HOME and a TMPDIR of its
// own made fresh inside the work directory. Everything the process does
// counts: starting, finishing interrupted runs, loading the kit, the
// installation made durable, the launcher record, ending.
//
// The kits hold the small tree of bench/BenchKits.h (20,000 files of 1 to
// 8 KiB in 200 folders) in the orders grouped, interleaved and shuffled,
// each ending with the digest record `pkdtool create` writes. For each
// order, in interleaved rounds, every run after a sync:
//   (a) a fresh install into an empty template directory,
//   (b) a reinstall, all up to date (bench::kUpToDateRuns times in a row),
//   (c) a reinstall over files one second older (all replaced),
// against "tar -xzf" of the same files in the same rounds (each step on
// persistent storage settled as bench/FreshInodes.h has it) and, where the
// work directory keeps its data across a power cut, against "tar -xzf"
// followed by "sync -f" of its target, which is as durable as an
// installation. Then:
//   - a one-file silent install, fresh each time, median of 20 runs;
//   - the peak memory (max RSS, from /usr/bin/time -f %M, which sees the
//     installer alone: the rusage this process would get from wait4 also
//     holds its own memory, carried over the exec) of a fresh silent run
//     of the small kit and of the large kit (4 files of 256 MiB).
// The load average is printed at the start and at the end. Usage:
//   setup_bench [--setup=PATH] [work-directory [rounds]]
// PATH defaults to the Setup of the build this benchmark belongs to
// (../Setup.app/Contents/MacOS/Setup beside bench/); the work directory
// (default /dev/shm) gets a scratch directory, removed at the end; rounds
// default to 5.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchKits.h"
#include "bench/BenchReport.h"
#include "bench/BenchRun.h"
#include "bench/BenchTree.h"

using bench::Clock;
using bench::KitOrder;
using bench::KitShape;
using bench::Median;
using bench::SourceFile;

namespace {

constexpr KitOrder kOrders[] = {KitOrder::Grouped, KitOrder::Interleaved, KitOrder::Shuffled};
constexpr int kOneFileRuns = 20;
constexpr double kPeakTargetMiB = 16;
constexpr double kOneFileTargetSeconds = 0.015;

// The installer and where its runs live.
struct Installer {
    std::string setup;
    std::string work;  // the scratch directory: HOME and TMPDIR go below it
    std::string log;   // the runs' standard output and error
};

// One silent run of the installer with the kit in kitDirectory into target,
// after a sync, with a fresh HOME and TMPDIR; its seconds, or -1 when it
// did not end with status 0. With peakFile, the run goes through
// /usr/bin/time, which writes its max RSS in KiB there.
double RunSetup(const Installer& installer, const std::string& kitDirectory,
                const std::string& target, const std::string& peakFile = std::string()) {
    const std::string run = installer.work + "/run";
    std::filesystem::remove_all(run);
    std::filesystem::create_directories(run + "/home");
    std::filesystem::create_directories(run + "/tmp");
    bench::ProcessSetting setting;
    setting.directory = kitDirectory;
    setting.environment = {"HOME=" + run + "/home", "TMPDIR=" + run + "/tmp", "LANG=C",
                           "PATH=/usr/bin:/bin"};
    setting.output = installer.log;
    std::vector<std::string> arguments = {installer.setup, "usecwd", "/S", "--dir=" + target};
    if (!peakFile.empty()) {
        arguments.insert(arguments.begin(), {"/usr/bin/time", "-f", "%M", "-o", peakFile});
    }
    sync();
    const Clock::time_point start = Clock::now();
    const int status = bench::RunProcess(arguments, setting);
    const double seconds = bench::Since(start);
    if (status != 0) {
        std::fprintf(stderr, "Setup ended with status %d installing into %s; its output is in %s\n",
                     status, target.c_str(), installer.log.c_str());
        return -1;
    }
    return seconds;
}

// The max RSS /usr/bin/time wrote, in MiB; -1 when there is none.
double PeakMiB(const std::string& peakFile) {
    std::ifstream in(peakFile);
    long kib = -1;
    in >> kib;
    return kib < 0 ? -1 : static_cast<double>(kib) / 1024.0;
}

// The runs of bench::TimeKitRuns with one kit, each a whole process.
bool TimeRuns(const Installer& installer, const std::string& kitDirectory,
              const std::string& target, const std::vector<SourceFile>& files,
              bench::FreshInodes& space, bench::OrderTimes* times) {
    const auto run = [&] { return RunSetup(installer, kitDirectory, target); };
    return bench::TimeKitRuns(space, target, files, run, &times->runs[0], &times->runs[1],
                              &times->runs[2]);
}

// Writes a kit of a shape's tree (the files below source, in the order
// given) into its own folder as qarn.pkd; that folder, or empty.
std::string WriteKitFolder(const std::string& folder, const std::string& source,
                           const std::vector<SourceFile>& files, KitOrder order) {
    std::filesystem::create_directories(folder);
    kit::KitStats stats;
    std::string error;
    if (!bench::WriteOrderedKit(source, files, order, true, folder + "/qarn.pkd", &stats, &error)) {
        std::fprintf(stderr, "kit: %s\n", error.c_str());
        return std::string();
    }
    return folder;
}

// The peak memory of a fresh silent run and its time: "name: 7.8 MiB ...".
bool ReportPeak(const Installer& installer, const char* name, const std::string& kitDirectory,
                const std::string& target) {
    const std::string peakFile = installer.work + "/peak";
    const double seconds = RunSetup(installer, kitDirectory, target, peakFile);
    const double peak = PeakMiB(peakFile);
    if (seconds < 0 || peak < 0) {
        return false;
    }
    std::printf("peak memory, %-30s %6.1f MiB (target < %.0f MiB, %s); that run %.3f s\n", name,
                peak, kPeakTargetMiB, peak < kPeakTargetMiB ? "met" : "NOT MET", seconds);
    return true;
}

std::string DefaultSetup() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return (self.parent_path().parent_path() / "Setup.app/Contents/MacOS/Setup").string();
}

}  // namespace

int main(int argc, char** argv) {
    Installer installer;
    installer.setup = DefaultSetup();
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--setup=", 0) == 0) {
            installer.setup = argument.substr(8);
        } else if (argument.rfind("--", 0) == 0 || positional.size() == 2) {
            std::fprintf(stderr, "usage: setup_bench [--setup=PATH] [work-directory [rounds]]\n");
            return 2;
        } else {
            positional.push_back(argument);
        }
    }
    const std::string base = positional.empty() ? "/dev/shm" : positional[0];
    const int rounds = positional.size() > 1 ? std::max(1, atoi(positional[1].c_str())) : 5;
    if (::access(installer.setup.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "no installer at %s (give --setup=PATH)\n", installer.setup.c_str());
        return 1;
    }
    bench::PrintLoadAverage("at the start");
    std::string pattern = base + "/setup-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a directory in %s\n", base.c_str());
        return 1;
    }
    installer.work = pattern;
    installer.log = installer.work + "/setup.log";
    const std::string& work = installer.work;
    const bool persistent = bench::OnPersistentStorage(work);
    const std::string source = work + "/source";
    const std::string tarPath = work + "/tree.tar.gz";
    std::printf("installer %s\npreparing the small tree under %s (%s)\n", installer.setup.c_str(),
                work.c_str(), persistent ? "persistent storage" : "held in memory");
    const std::vector<SourceFile> files = bench::WriteSourceTree(KitShape::Small, source);
    if (files.empty() || !bench::Spawn({"tar", "-czf", tarPath, "-C", source, "."})) {
        std::fprintf(stderr, "cannot write the tree or its tar.gz under %s\n", source.c_str());
        return 1;
    }
    std::vector<std::string> kitFolders;
    for (KitOrder order : kOrders) {
        kitFolders.push_back(
            WriteKitFolder(work + "/kit-" + bench::OrderName(order), source, files, order));
    }
    const std::string oneFileKit =
        WriteKitFolder(work + "/kit-one", source, {files.front()}, KitOrder::Grouped);
    if (oneFileKit.empty() || std::count(kitFolders.begin(), kitFolders.end(), "") > 0) {
        return 1;
    }

    const std::string target = work + "/templates";
    std::vector<double> tarTimes, durableTarTimes;
    std::vector<bench::OrderTimes> times(kitFolders.size());
    bench::FreshInodes space(work + "/trash", persistent);
    for (int round = 0; round < rounds; ++round) {
        if (!bench::TimeTarRound(tarPath, work + "/tar-out", space, persistent, &tarTimes,
                                 &durableTarTimes)) {
            std::fprintf(stderr, "tar -xzf failed\n");
            return 1;
        }
        std::printf("round %d: tar %.3f s", round + 1, tarTimes.back());
        if (persistent) {
            std::printf(", tar and sync -f %.3f s", durableTarTimes.back());
        }
        std::printf("\n");
        // Each round starts with the next order, so that no order always
        // comes first after the anchors or after the same other order.
        for (std::size_t step = 0; step < kitFolders.size(); ++step) {
            const std::size_t k = (step + static_cast<std::size_t>(round)) % kitFolders.size();
            if (!TimeRuns(installer, kitFolders[k], target, files, space, &times[k])) {
                return 1;
            }
            std::printf("  %-12s fresh %.3f s, up to date %.3f s, replace %.3f s\n",
                        bench::OrderName(kOrders[k]), times[k].runs[0].back(),
                        bench::LastRound(times[k].runs[1], bench::kUpToDateRuns),
                        times[k].runs[2].back());
        }
    }
    // The one-file runs, each beside a start that installs nothing: what
    // starting and ending the process costs on this machine.
    std::vector<double> oneFile, starts;
    bench::ProcessSetting quiet;
    quiet.output = installer.log;
    for (int run = 0; run < kOneFileRuns; ++run) {
        std::filesystem::remove_all(target);
        oneFile.push_back(RunSetup(installer, oneFileKit, target));
        const Clock::time_point start = Clock::now();
        const int status = bench::RunProcess({installer.setup, "--version"}, quiet);
        starts.push_back(bench::Since(start));
        if (oneFile.back() < 0 || status != 0) {
            return 1;
        }
    }

    bench::RunTargets targets;
    targets.tar = Median(tarTimes);
    const double tarTargets[] = {0.55, 0.2, 1.0};
    std::copy(std::begin(tarTargets), std::end(tarTargets), targets.tarTargets);
    // Where a sync writes to a disk, against the tar as durable as a run
    // too, with install_bench's targets for it.
    if (persistent) {
        targets.durableTar = Median(durableTarTimes);
        targets.durableTargets[0] = 1.0;
        targets.durableTargets[2] = 1.3;
    }
    std::printf("\nmedian of %d rounds, %zu files, Setup as a whole process, %s\n", rounds,
                files.size(), persistent ? "on persistent storage" : "held in memory");
    bench::PrintTarRows(targets, files.size());
    std::vector<const char*> orderNames;
    for (KitOrder order : kOrders) {
        orderNames.push_back(bench::OrderName(order));
    }
    bench::PrintOrderRows(orderNames, times, files.size(), targets);
    const double one = Median(oneFile);
    std::printf("one-file silent install, median of %d  %8.1f ms (target < %.0f ms, %s)\n",
                kOneFileRuns, one * 1e3, kOneFileTargetSeconds * 1e3,
                one < kOneFileTargetSeconds ? "met" : "NOT MET");
    std::printf("%-38s %8.1f ms (no target: the start's share of the line above)\n",
                "Setup --version, same runs", Median(starts) * 1e3);

    // The peak memory last: the large tree is written only now.
    std::filesystem::remove_all(target);
    if (!ReportPeak(installer, "20,000-file kit, fresh:", kitFolders[0], target)) {
        return 1;
    }
    std::filesystem::remove_all(target);
    std::filesystem::remove_all(source);
    const std::vector<SourceFile> large = bench::WriteSourceTree(KitShape::Large, source);
    const std::string largeKit =
        large.empty() ? std::string()
                      : WriteKitFolder(work + "/kit-large", source, large, KitOrder::Grouped);
    std::filesystem::remove_all(source);
    if (largeKit.empty() || !ReportPeak(installer, "4 x 256 MiB kit, fresh:", largeKit, target)) {
        return 1;
    }
    bench::PrintLoadAverage("at the end");
    std::filesystem::remove_all(work);
    return 0;
}
