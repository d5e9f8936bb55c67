// The floor for extracting many small files: the same 20,000 files of 1 to
// 8 KiB in 200 directories as install_bench, written by the minimal writer
// of bench/FloorWriter.h directly and through temporary names. Reports
// microseconds per file, median of the rounds. Usage:
//   floor_bench [work-directory [rounds]]
// The work directory (default /var/tmp) gets a scratch directory that is
// removed at the end.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/FloorWriter.h"

namespace {

constexpr int kFileCount = 20000;
constexpr int kDirectoryCount = 200;

// install_bench's names and sizes: its generator, with the contents only
// counted, since the floor writes its own bytes.
std::vector<bench::FloorFile> InstallBenchFiles() {
    static const char* const kWords[] = {
        "section", "key", "value", "=",  "true",   "false", "path",   "name", "width", "height",
        "0",       "1",   "100",   "\n", "[main]", "color", "border", "font", "size",  "template"};
    std::vector<bench::FloorFile> files;
    std::uint32_t seed = 12345;
    for (int i = 0; i < kFileCount; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const std::size_t size = 1024 + (seed >> 8) % (7 * 1024 + 1);
        std::size_t made = 0;
        while (made < size) {
            seed = seed * 1664525u + 1013904223u;
            made += std::char_traits<char>::length(
                        kWords[(seed >> 16) % (sizeof(kWords) / sizeof(kWords[0]))]) +
                    1;
        }
        files.push_back(
            {"dir" + std::to_string(i % kDirectoryCount) + "/file" + std::to_string(i) + ".cfg",
             size});
    }
    return files;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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
    const bench::FloorWriter writer(InstallBenchFiles());
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
                writer.Count(), kDirectoryCount, base.c_str());
    std::printf("%-44s %8.3f s %8.1f us/file\n", "open, write, futimens, close", Median(direct),
                Median(direct) * 1e6 / count);
    std::printf("%-44s %8.3f s %8.1f us/file\n", "the same through a temporary name and rename",
                Median(viaTemporary), Median(viaTemporary) * 1e6 / count);
    return 0;
}
