// The floor for extracting many small files: the tree of bench/BenchTree.h
// that install_bench installs, 20,000 files of 1 to 8 KiB in 200
// directories, written by the minimal writer
// of bench/FloorWriter.h directly and through temporary names. Reports
// microseconds per file, median of the rounds. Usage:
//   floor_bench [work-directory [rounds]]
// The work directory (default /var/tmp) gets a scratch directory that is
// removed at the end.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchTree.h"
#include "bench/FloorWriter.h"

using bench::Median;

namespace {

// The tree's names and sizes; the floor writes its own bytes.
std::vector<bench::FloorFile> TreeFiles() {
    std::vector<bench::FloorFile> files;
    bench::ForEachTreeFile([&](const std::string& name, const std::string& contents) {
        files.push_back({name, contents.size()});
    });
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string base = argc > 1 ? argv[1] : "/var/tmp";
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    std::string work = base + "/floor-bench-XXXXXX";
    if (mkdtemp(work.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a directory in %s\n", base.c_str());
        return 1;
    }
    const bench::FloorWriter writer(TreeFiles());
    std::vector<double> direct;
    std::vector<double> viaTemporary;
    for (int round = 0; round < rounds; ++round) {
        for (bool temporary : {false, true}) {
            const std::string target = work + "/out";
            std::filesystem::remove_all(target);
            std::filesystem::create_directories(target);
            sync();
            const double seconds = writer.Write(target, temporary);
            if (seconds < 0) {
                std::fprintf(stderr, "floor writer failed under %s\n", target.c_str());
                std::filesystem::remove_all(work);
                return 1;
            }
            (temporary ? viaTemporary : direct).push_back(seconds);
        }
        std::printf("round %d: direct %.3f s, through a temporary name %.3f s\n", round + 1,
                    direct.back(), viaTemporary.back());
    }
    std::filesystem::remove_all(work);
    const double count = static_cast<double>(writer.Count());
    std::printf("\nmedian of %d rounds, %zu files in %d directories under %s\n", rounds,
                writer.Count(), bench::kTreeDirectoryCount, base.c_str());
    std::printf("%-44s %8.3f s %8.1f us/file\n", "open, write, futimens, close", Median(direct),
                Median(direct) * 1e6 / count);
    std::printf("%-44s %8.3f s %8.1f us/file\n", "the same through a temporary name and rename",
                Median(viaTemporary), Median(viaTemporary) * 1e6 / count);
    return 0;
}
