// Measures the kit reader against outside anchors, on two kits:
//   (a) 1 GiB in 4 files, (b) 20,000 files of 1 to 8 KiB.
// For each kit:
//   - InstallData::Load (inflate into the stream file, read the tables)
//     against "gzip -dc", "pigz -dc" and "libdeflate-gunzip -c" of the same
//     DEFLATE data wrapped as a gzip file, written to a file on the same
//     file system;
//   - Load of the same kit signed (integrity record with digest and
//     signature, verified while inflating) against Load of the kit without
//     a record;
//   - extracting every file (as the install worker does: parent directories,
//     then ExtractFile) against "cp -r" of the source tree;
//   - the peak resident memory of each phase, from a fresh process each.
// Each measurement is taken three times, interleaved, and the fastest run
// counts; dirty data is written back before extraction and copy, and both
// start right after the same amount of memory was freed (see PrimeMemory).
// Beside the
// wall time, the processor time (user and system) of each phase is shown:
// on a machine shared with other work it is the steadier figure. Usage:
//   kit_bench [work-directory [a|b|ab]]
// The work directory (default /var/tmp) gets a scratch directory that is
// removed at the end; TMPDIR points into it.

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/fs/FileSystem.h"
#include "kit/InstallData.h"
#include "kit/KitSigning.h"
#include "kit/KitWriter.h"
#include "text/Encoding.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Kit = InstallData<LZCompressor, FileSystem>;

constexpr int kRounds = 3;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

stdx::u16string U16(const std::string& text) {
    return Utf8ToUtf16(stdx::string(text.c_str(), text.size()));
}

std::string U8(const stdx::u16string& text) {
    const stdx::string bytes = Utf16ToUtf8(text);
    return std::string(bytes.c_str(), bytes.size());
}

// Configuration-like text: deflate packs it about three to one, as it does
// real templates.
std::string MakeText(std::uint32_t* seed, std::size_t size) {
    static const char* const kWords[] = {
        "section", "key",    "value", " = ",      "true", "false", "path",   "name",
        "width",   "height", "0",     "1",        "100",  "\n",    "[main]", "color",
        "border",  "font",   "size",  "template", "\t",   "item",  "left",   "right"};
    std::string text;
    text.reserve(size + 16);
    while (text.size() < size) {
        *seed = *seed * 1103515245u + 12345u;
        text += kWords[(*seed >> 16) % (sizeof(kWords) / sizeof(kWords[0]))];
        if (((*seed >> 8) & 7) == 0) {
            text += std::to_string((*seed >> 4) & 0xFFFF);
        }
        text += ' ';
    }
    text.resize(size);
    return text;
}

struct Result {
    double seconds = 0;
    double cpuSeconds = 0;  // user and system
    long peakKiB = 0;
    int status = -1;
};

double CpuSeconds(const struct rusage& usage) {
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double OwnCpuSeconds() {
    struct rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    return CpuSeconds(usage);
}

// Runs argv with stdout sent to `output` (when not empty).
Result RunProcess(const std::vector<std::string>& arguments, const std::string& output) {
    std::vector<char*> argv;
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies) {
        argv.push_back(&argument[0]);
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!output.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    Result result;
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return result;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage;
    ::wait4(pid, &status, 0, &usage);
    result.seconds = Since(start);
    result.cpuSeconds = CpuSeconds(usage);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// One run that must succeed.
Result MustRun(const std::vector<std::string>& arguments, const std::string& output) {
    const Result run = RunProcess(arguments, output);
    if (run.status != 0) {
        std::fprintf(stderr, "kit_bench: %s %s failed (%d)\n", arguments[0].c_str(),
                     arguments[1].c_str(), run.status);
        std::exit(1);
    }
    return run;
}

// The gzip form of the kit: its raw DEFLATE data between a gzip header and
// a trailer with the CRC-32 and the length of the inflated stream.
void WriteGzip(const std::string& kitPath, const kit::KitStats& stats, const std::string& path) {
    std::ifstream in(kitPath, std::ios::binary);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const unsigned char header[10] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 3};
    out.write(reinterpret_cast<const char*>(header), sizeof(header));
    out << in.rdbuf();
    unsigned char trailer[8];
    for (int i = 0; i < 4; ++i) {
        trailer[i] = static_cast<unsigned char>(stats.streamCrc >> (8 * i));
        trailer[4 + i] = static_cast<unsigned char>(stats.streamBytes >> (8 * i));
    }
    out.write(reinterpret_cast<const char*>(trailer), sizeof(trailer));
}

// The high-water mark of this process's own memory since exec. The
// ru_maxrss that wait4 reports would include the parent's, which Linux
// carries over an exec.
long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// Writes back everything dirty on the file system holding `path` (or its
// parent when it does not exist yet).
void FlushFileSystem(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fd = ::open(path.substr(0, path.rfind('/')).c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

// Writes `bytes` into a scratch file in `directory` and removes it at once,
// so that the next phase finds that much memory freed a moment ago. A
// virtual machine may hand memory that stays free for a while back to its
// host (free page reporting); a phase that then writes into it pays for the
// host's page faults, up to twice the processor time of the same copy into
// recently used memory. Without it cp -r runs right after the extraction's
// output is removed, while the extraction runs after the load has taken the
// freed memory: priming both the same way compares the copies and not the
// machine's memory history. Removed before any writeback, the file costs no
// disk writes.
void PrimeMemory(const std::string& directory, std::uint64_t bytes) {
    const std::string path = directory + "/prime";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    // Small, so that it barely shows in the extraction's peak memory.
    const std::vector<char> zeros(64 * 1024, 0);
    for (std::uint64_t done = 0; done < bytes; done += zeros.size()) {
        if (::write(fd, zeros.data(), zeros.size()) <= 0) {
            break;
        }
    }
    ::unlink(path.c_str());
    ::close(fd);
}

// The child side: "--load KIT" or "--extract KIT DIR [PRIME-BYTES]". Prints the seconds,
// the processor seconds and the peak memory of its measured phase.
int Child(int argc, char** argv) {
    Kit kit;
    Clock::time_point start = Clock::now();
    double cpuStart = OwnCpuSeconds();
    if (kit.Load(U16(argv[2])) != kErrorSuccess) {
        return 2;
    }
    if (std::strcmp(argv[1], "--load") == 0) {
        std::printf("%.6f %.6f %ld\n", Since(start), OwnCpuSeconds() - cpuStart, PeakKiB());
        return 0;
    }
    if (argc < 4) {
        return 3;
    }
    FileSystem fs;
    const std::string root = argv[3];
    std::string lastParent;
    // cp reads a tree that was written back long ago; let the stream file
    // be written back too, so that extraction is not timed while it is.
    FlushFileSystem(root);
    if (argc >= 5) {
        PrimeMemory(root.substr(0, root.rfind('/')), std::strtoull(argv[4], nullptr, 10));
    }
    start = Clock::now();
    cpuStart = OwnCpuSeconds();
    for (std::size_t i = 0; i < kit.m_files.size(); ++i) {
        std::string name = U8(kit.m_files[i].m_name);
        std::replace(name.begin(), name.end(), '\\', '/');
        const std::string path = root + "/" + name;
        const std::string parent = path.substr(0, path.rfind('/'));
        if (parent != lastParent) {
            const ErrorCode made = fs.MakeDirectory(U16(parent));
            if (made != kErrorSuccess && made != kErrorAlreadyExists) {
                return 4;
            }
            lastParent = parent;
        }
        if (kit.ExtractFile(i, U16(path)) != kErrorSuccess) {
            return 5;
        }
    }
    std::printf("%.6f %.6f %ld\n", Since(start), OwnCpuSeconds() - cpuStart, PeakKiB());
    return 0;
}

Result ReadReport(const std::string& path) {
    std::ifstream in(path);
    Result result;
    in >> result.seconds >> result.cpuSeconds >> result.peakKiB;
    return result;
}

// Runs this program as a child for one phase; the child reports the
// seconds and the peak memory of that phase.
Result ChildRun(const std::vector<std::string>& arguments, const std::string& report) {
    MustRun(arguments, report);
    return ReadReport(report);
}

void KeepBest(const Result& run, Result* best, int round) {
    if (round == 0 || run.seconds < best->seconds) {
        best->seconds = run.seconds;
    }
    if (round == 0 || run.cpuSeconds < best->cpuSeconds) {
        best->cpuSeconds = run.cpuSeconds;
    }
    best->peakKiB = std::max(best->peakKiB, run.peakKiB);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// (a): four files of 256 MiB. A 4 MiB block of text is written again and
// again; DEFLATE cannot see a repeat that lies further back than 32 KiB.
void MakeLargeTree(const std::string& tree) {
    std::uint32_t seed = 1;
    const std::string block = MakeText(&seed, 4u << 20);
    for (int part = 1; part <= 4; ++part) {
        std::ofstream out(tree + "/part" + std::to_string(part) + ".dat",
                          std::ios::binary | std::ios::trunc);
        for (int i = 0; i < 64; ++i) {
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
}

// (b): 20,000 files of 1 to 8 KiB in 200 directories.
void MakeSmallTree(const std::string& tree) {
    std::uint32_t seed = 7;
    for (int d = 0; d < 200; ++d) {
        const std::string directory = tree + "/dir" + std::to_string(d);
        std::filesystem::create_directories(directory);
        for (int f = 0; f < 100; ++f) {
            seed = seed * 1103515245u + 12345u;
            const std::size_t size = 1024 + (seed >> 8) % (7 * 1024 + 1);
            WriteFile(directory + "/file" + std::to_string(f) + ".cfg", MakeText(&seed, size));
        }
    }
}

double MiB(double bytes) {
    return bytes / (1024.0 * 1024.0);
}

void RunCase(const std::string& self, const std::string& work, char name) {
    const std::string base = work + "/" + name;
    const std::string tree = base + "/tree";
    std::filesystem::create_directories(tree);
    Clock::time_point start = Clock::now();
    if (name == 'a') {
        MakeLargeTree(tree);
    } else {
        MakeSmallTree(tree);
    }
    kit::KitWriter writer;
    writer.AddProduct({u"en", u"Bench", u"Bench", u""});
    std::string error;
    kit::KitStats stats;
    kit::KitStats signedStats;
    kit::SecretKey secret;
    kit::PublicKey publicKey;
    // The bare kit first: gzip's trailer must follow its DEFLATE data.
    writer.SetIntegrityRecord(false);
    bool made = kit::GenerateKey(&secret, &publicKey) &&
                writer.AddDirectory(tree, nullptr, &error) &&
                writer.Write(base + "/kit.pkd", &stats, &error);
    writer.AddSigningKey(secret);
    made = made && writer.Write(base + "/signed.pkd", &signedStats, &error);
    if (!made) {
        std::fprintf(stderr, "kit_bench: %s\n", error.empty() ? "no key" : error.c_str());
        std::exit(1);
    }
    WriteGzip(base + "/kit.pkd", stats, base + "/kit.gz");
    std::printf("case %c: %zu files, stream %.1f MiB, kit %.1f MiB (made in %.1f s)\n", name,
                stats.fileCount, MiB(stats.streamBytes), MiB(stats.kitBytes), Since(start));

    // The rounds interleave the runs, so that a busy moment of the machine
    // does not fall on one side only; the fastest run of each kind counts.
    // A quarter more than the stream, as a margin for what else the phase
    // allocates.
    const std::string prime = std::to_string(stats.streamBytes + stats.streamBytes / 4);
    Result gzip;
    Result pigz;
    Result libdeflate;
    Result load;
    Result loadSigned;
    Result extract;
    Result copy;
    std::error_code ignored;
    for (int round = 0; round < kRounds; ++round) {
        KeepBest(MustRun({"gzip", "-dc", base + "/kit.gz"}, base + "/gz.out"), &gzip, round);
        std::filesystem::remove(base + "/gz.out", ignored);
        KeepBest(MustRun({"pigz", "-dc", base + "/kit.gz"}, base + "/gz.out"), &pigz, round);
        std::filesystem::remove(base + "/gz.out", ignored);
        KeepBest(MustRun({"libdeflate-gunzip", "-c", base + "/kit.gz"}, base + "/gz.out"),
                 &libdeflate, round);
        std::filesystem::remove(base + "/gz.out", ignored);
        KeepBest(ChildRun({self, "--load", base + "/kit.pkd"}, base + "/report"), &load, round);
        KeepBest(ChildRun({self, "--load", base + "/signed.pkd"}, base + "/report"), &loadSigned,
                 round);
        KeepBest(ChildRun({self, "--extract", base + "/kit.pkd", base + "/out", prime},
                          base + "/report"),
                 &extract, round);
        std::filesystem::remove_all(base + "/out", ignored);
        FlushFileSystem(base);
        PrimeMemory(base, std::strtoull(prime.c_str(), nullptr, 10));
        KeepBest(MustRun({"cp", "-r", tree, base + "/cp"}, ""), &copy, round);
        std::filesystem::remove_all(base + "/cp", ignored);
    }

    const double stream = MiB(stats.streamBytes);
    const struct {
        const char* name;
        const Result& result;
    } rows[] = {{"Load", load},     {"Load, signed", loadSigned},  {"gzip -dc", gzip},
                {"pigz -dc", pigz}, {"libdeflate -c", libdeflate}, {"extract all", extract},
                {"cp -r", copy}};
    std::printf("  %-14s %8s %10s %8s %9s\n", "", "wall s", "MiB/s", "cpu s", "peak MiB");
    for (const auto& row : rows) {
        std::printf("  %-14s %8.3f %10.1f %8.3f", row.name, row.result.seconds,
                    stream / row.result.seconds, row.result.cpuSeconds);
        if (row.result.peakKiB > 0) {
            std::printf(" %9.1f", row.result.peakKiB / 1024.0);
        }
        std::printf("\n");
    }
    std::printf(
        "  Load (signed, verified) speed against gzip -dc: %.2f (target >= 2.5), pigz -dc: "
        "%.2f, libdeflate-gunzip -c: %.2f\n",
        gzip.seconds / loadSigned.seconds, pigz.seconds / loadSigned.seconds,
        libdeflate.seconds / loadSigned.seconds);
    std::printf("  Load signed / Load without record: %.3f (target <= 1.15)\n",
                loadSigned.seconds / load.seconds);
    std::printf("  extraction speed / cp -r speed: %.2f wall, %.2f processor time%s\n",
                copy.seconds / extract.seconds, copy.cpuSeconds / extract.cpuSeconds,
                name == 'a' ? " (target >= 0.8)" : "");
    std::printf("  peak memory of the reader: %.1f MiB (target < 16)\n",
                std::max({load.peakKiB, loadSigned.peakKiB, extract.peakKiB}) / 1024.0);
    std::fflush(stdout);
    std::filesystem::remove_all(base);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 &&
        (std::strcmp(argv[1], "--load") == 0 || std::strcmp(argv[1], "--extract") == 0)) {
        return Child(argc, argv);
    }
    const std::string parent = argc >= 2 ? argv[1] : "/var/tmp";
    const std::string cases = argc >= 3 ? argv[2] : "ab";
    std::string work = parent + "/kit-bench-XXXXXX";
    if (::mkdtemp(&work[0]) == nullptr) {
        std::fprintf(stderr, "kit_bench: cannot create a directory in %s\n", parent.c_str());
        return 1;
    }
    // The stream files go to the same file system as everything else.
    ::setenv("TMPDIR", work.c_str(), 1);
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0) {
        return 1;
    }
    self[length] = '\0';
    for (char name : cases) {
        if (name == 'a' || name == 'b') {
            RunCase(self, work, name);
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(work, ignored);
    return 0;
}
