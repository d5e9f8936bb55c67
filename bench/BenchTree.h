#pragma once

// The tree of small template files the extraction benchmarks measure, and
// the median they report. Every benchmark that names this tree gets the
// same names, sizes and bytes from one generator, so that their figures
// can be set against each other.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

constexpr int kTreeFileCount = 20000;
constexpr int kTreeDirectoryCount = 200;

// Text-like contents of exactly `size` bytes, so that both DEFLATE and gzip
// see what templates are; advances `seed`.
inline std::string TreeContents(std::uint32_t* seed, std::size_t size) {
    static const char* const kWords[] = {
        "section", "key", "value", "=",  "true",   "false", "path",   "name", "width", "height",
        "0",       "1",   "100",   "\n", "[main]", "color", "border", "font", "size",  "template"};
    std::string text;
    text.reserve(size + 16);
    while (text.size() < size) {
        *seed = *seed * 1664525u + 1013904223u;
        text += kWords[(*seed >> 16) % (sizeof(kWords) / sizeof(kWords[0]))];
        text += ' ';
    }
    text.resize(size);
    return text;
}

// Calls visit(relative, contents) for each file of the tree in order:
// kTreeFileCount files of 1 to 8 KiB, "dirD/fileN.cfg" spread round robin
// over kTreeDirectoryCount directories.
template <typename Visit>
void ForEachTreeFile(Visit visit) {
    std::uint32_t seed = 12345;
    for (int i = 0; i < kTreeFileCount; ++i) {
        const std::string name =
            "dir" + std::to_string(i % kTreeDirectoryCount) + "/file" + std::to_string(i) + ".cfg";
        seed = seed * 1664525u + 1013904223u;
        const std::size_t size = 1024 + (seed >> 8) % (7 * 1024 + 1);
        visit(name, TreeContents(&seed, size));
    }
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace bench
