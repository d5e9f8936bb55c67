#pragma once

// The kits the installation benchmarks measure: a tree of files written
// once as the source (for tar as much as for the kit), and kits of the same
// files, bytes and times with their records in one of several orders.
//
// Shapes:
//   small  the tree of bench/BenchTree.h: 20,000 files of 1 to 8 KiB in 200
//          folders;
//   large  4 files of 256 MiB, one per folder, so that what grows with a
//          kit's bytes (inflating, writing, making the data durable) can be
//          told from what grows with its files.
// Orders:
//   grouped      records grouped by folder, sorted by path: what
//                `pkdtool create` (KitWriter::AddDirectory) writes;
//   interleaved  consecutive records in different folders: round robin over
//                the folders, the order ForEachTreeFile makes the tree in;
//   shuffled     a random order from a fixed seed, the same in every run;
//   reversed     grouped, backwards.

#include <sys/time.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "bench/BenchTree.h"
#include "engine/fs/FileSystem.h"
#include "kit/KitWriter.h"
#include "text/Encoding.h"

namespace bench {

// The time of every file of the source tree and every kit record.
constexpr std::int64_t kKitSeconds = 1700000000;

constexpr int kLargeFileCount = 4;
constexpr std::uint64_t kLargeFileBytes = 256ull << 20;

enum class KitShape { Small, Large };
enum class KitOrder { Grouped, Interleaved, Shuffled, Reversed };

constexpr KitOrder kKitOrders[] = {KitOrder::Grouped, KitOrder::Interleaved, KitOrder::Shuffled,
                                   KitOrder::Reversed};

inline const char* OrderName(KitOrder order) {
    static const char* const kNames[] = {"grouped", "interleaved", "shuffled", "reversed"};
    return kNames[static_cast<int>(order)];
}

inline const char* ShapeName(KitShape shape) {
    return shape == KitShape::Small ? "small" : "large";
}

// False, leaving *order alone, for a name that is not an order's.
inline bool ParseOrder(const std::string& name, KitOrder* order) {
    for (KitOrder candidate : kKitOrders) {
        if (name == OrderName(candidate)) {
            *order = candidate;
            return true;
        }
    }
    return false;
}

inline bool ParseShape(const std::string& name, KitShape* shape) {
    for (KitShape candidate : {KitShape::Small, KitShape::Large}) {
        if (name == ShapeName(candidate)) {
            *shape = candidate;
            return true;
        }
    }
    return false;
}

// One file of a source tree: "folder/name" and its size.
struct SourceFile {
    std::string relative;
    std::uint64_t size = 0;
};

// Sets the access and modification times of path to whole seconds.
inline bool SetFileTime(const std::string& path, std::int64_t seconds) {
    const struct timeval times[2] = {{static_cast<time_t>(seconds), 0},
                                     {static_cast<time_t>(seconds), 0}};
    return ::utimes(path.c_str(), times) == 0;
}

// Gives every file of a tree installed under root the same time; false when
// one could not be set.
inline bool SetTreeTime(const std::string& root, const std::vector<SourceFile>& files,
                        std::int64_t seconds) {
    bool all = true;
    for (const SourceFile& file : files) {
        all = SetFileTime(root + "/" + file.relative, seconds) && all;
    }
    return all;
}

// Calls visit(relative, size, write) for each file of the large shape, where
// write(std::ofstream&) puts its bytes. The bytes are 1 MiB pieces of
// TreeContents picked in a fixed sequence from a pool of 16: gigabytes at
// the speed of copying, while DEFLATE, whose window is 32 KiB, still sees
// text like the small tree's.
template <typename Visit>
void ForEachLargeFile(Visit visit) {
    constexpr std::size_t kPiece = 1 << 20;
    std::vector<std::string> pieces;
    std::uint32_t seed = 54321;
    for (int i = 0; i < 16; ++i) {
        pieces.push_back(TreeContents(&seed, kPiece));
    }
    for (int i = 0; i < kLargeFileCount; ++i) {
        const std::string name = "dir" + std::to_string(i) + "/large" + std::to_string(i) + ".cfg";
        visit(name, kLargeFileBytes, [&](std::ofstream& out) {
            for (std::uint64_t done = 0; done < kLargeFileBytes; done += kPiece) {
                seed = seed * 1664525u + 1013904223u;
                out.write(pieces[(seed >> 16) % pieces.size()].data(), kPiece);
            }
        });
    }
}

// Writes the files of a shape under root (made here), each with the time
// kKitSeconds, and returns them in the order they were made; empty when one
// could not be written.
inline std::vector<SourceFile> WriteSourceTree(KitShape shape, const std::string& root) {
    std::vector<SourceFile> files;
    bool failed = false;
    const auto put = [&](const std::string& relative, std::uint64_t size, auto write) {
        const std::string path = root + "/" + relative;
        std::error_code ignored;
        std::filesystem::create_directories(path.substr(0, path.rfind('/')), ignored);
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            write(out);
            failed = failed || !out.good();
        }
        failed = !SetFileTime(path, kKitSeconds) || failed;
        files.push_back({relative, size});
    };
    if (shape == KitShape::Small) {
        ForEachTreeFile([&](const std::string& relative, const std::string& contents) {
            put(relative, contents.size(), [&](std::ofstream& out) { out << contents; });
        });
    } else {
        ForEachLargeFile(put);
    }
    return failed ? std::vector<SourceFile>() : files;
}

// The files, given in the order they were made, in the kit order asked for.
inline std::vector<SourceFile> InKitOrder(std::vector<SourceFile> files, KitOrder order) {
    const auto byPath = [](const SourceFile& a, const SourceFile& b) {
        return a.relative < b.relative;
    };
    switch (order) {
        case KitOrder::Grouped:
            std::sort(files.begin(), files.end(), byPath);
            break;
        case KitOrder::Interleaved:
            break;
        case KitOrder::Shuffled: {
            // Fisher-Yates over our own generator: std::shuffle may differ
            // between standard libraries, and the order must not.
            std::uint32_t seed = 2024;
            for (std::size_t i = files.size(); i > 1; --i) {
                seed = seed * 1664525u + 1013904223u;
                std::swap(files[i - 1], files[(seed >> 8) % i]);
            }
            break;
        }
        case KitOrder::Reversed:
            std::sort(files.begin(), files.end(), byPath);
            std::reverse(files.begin(), files.end());
            break;
    }
    return files;
}

// Writes a kit of the source tree's files in the kit order, each record
// with the time kKitSeconds and its bytes read from below source. With
// integrity, the kit ends with the digest record `pkdtool create` writes by
// default. False with the writer's error.
inline bool WriteOrderedKit(const std::string& source, const std::vector<SourceFile>& files,
                            KitOrder order, bool integrity, const std::string& kitPath,
                            kit::KitStats* stats, std::string* error) {
    kit::KitWriter writer;
    writer.SetIntegrityRecord(integrity);
    for (const SourceFile& file : InKitOrder(files, order)) {
        std::string name = file.relative;
        std::replace(name.begin(), name.end(), '/', '\\');
        writer.AddFile(Utf8ToUtf16(stdx::string(name.c_str(), name.size())),
                       FileSystem::FromUnixSeconds(kKitSeconds), source + "/" + file.relative);
    }
    return writer.Write(kitPath, stats, error);
}

}  // namespace bench
