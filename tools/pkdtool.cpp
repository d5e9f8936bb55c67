// pkdtool: builds distribution kits from a directory and lists them.

#include <errno.h>
#include <string.h>
#include <time.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/FileSystem.h"
#include "kit/InstallData.h"
#include "kit/KitWriter.h"
#include "text/Encoding.h"
#include "tools/PkdOptions.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

std::string Narrow(const stdx::u16string& text) {
    const stdx::string bytes = Utf16ToUtf8(text);
    return std::string(bytes.c_str(), bytes.size());
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "pkdtool: %s\n", message.c_str());
    return kExitFailure;
}

std::string IsoTime(FileTime time) {
    const time_t seconds = static_cast<time_t>(FileSystem::ToUnixSeconds(time));
    struct tm parts;
    char text[64];
    if (gmtime_r(&seconds, &parts) == nullptr ||
        strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) {
        return "?";
    }
    return text;
}

const char* LoadFailure(ErrorCode code) {
    switch (code) {
        case kErrorNotFound:
            return "no such file";
        case kErrorInflate:
            return "damaged or not a kit: not a complete raw DEFLATE stream, or its tables are "
                   "cut short, malformed or name an unsafe path";
        case kErrorTempFile:
            return "cannot create the temporary stream file in the temporary directory (TMPDIR)";
        default:
            return "cannot be read or inflated";
    }
}

int Create(const pkdtool::Options& options) {
    std::vector<config::ProductInfo> products = options.products;
    std::string error;
    if (!options.manifest.empty()) {
        std::ifstream in(options.manifest, std::ios::binary);
        if (!in) {
            return Fail(options.manifest + ": " + strerror(errno));
        }
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        if (!pkdtool::ParseManifest(text, &products, &error)) {
            return Fail(options.manifest + ": " + error);
        }
    }
    if (options.single && products.size() > 1) {
        return Fail("--single allows one product, " + std::to_string(products.size()) +
                    " were given");
    }
    kit::KitWriter writer;
    writer.SetLevel(options.level);
    writer.SetSingleProduct(options.single);
    for (const config::ProductInfo& product : products) {
        writer.AddProduct(product);
    }
    std::vector<std::string> skipped;
    if (!writer.AddDirectory(options.source, &skipped, &error)) {
        return Fail(error);
    }
    for (const std::string& path : skipped) {
        std::fprintf(stderr, "pkdtool: skipped %s: not a regular file\n", path.c_str());
    }
    kit::KitStats stats;
    if (!writer.Write(options.output, &stats, &error)) {
        return Fail(error);
    }
    std::printf("%s: %zu files, %" PRIu64 " bytes inflated, %" PRIu64 " bytes written\n",
                options.output.c_str(), stats.fileCount, stats.streamBytes, stats.kitBytes);
    return 0;
}

int List(const pkdtool::Options& options) {
    InstallData<LZCompressor, FileSystem> kit;
    const stdx::string path(options.source.data(), options.source.size());
    const ErrorCode code = kit.Load(Utf8ToUtf16(path));
    if (code != kErrorSuccess) {
        return Fail(options.source + ": " + LoadFailure(code) + " (code " + std::to_string(code) +
                    ")");
    }
    std::printf("products: %zu\n", kit.m_products.size());
    for (const config::ProductInfo& product : kit.m_products) {
        std::printf("  %s: name \"%s\", provider \"%s\", description \"%s\"\n",
                    Narrow(product.m_language).c_str(), Narrow(product.m_productName).c_str(),
                    Narrow(product.m_providerName).c_str(),
                    Narrow(product.m_descriptionPath).c_str());
    }
    std::printf("files: %zu\n", kit.m_files.size());
    for (const auto& file : kit.m_files) {
        std::printf("%12" PRIu32 "  %s  %s\n", file.m_size, IsoTime(file.m_lastWriteTime).c_str(),
                    Narrow(file.m_name).c_str());
    }
    if (std::fflush(stdout) != 0) {
        return Fail(std::string("standard output: ") + strerror(errno));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    pkdtool::Options options;
    std::string error;
    if (!pkdtool::ParseArguments(argc, argv, &options, &error)) {
        std::fprintf(stderr, "pkdtool: %s\n", error.c_str());
        return kExitUsage;
    }
    switch (options.command) {
        case pkdtool::Command::kHelp:
            std::fputs(pkdtool::UsageText(), stdout);
            return 0;
        case pkdtool::Command::kCreate:
            return Create(options);
        case pkdtool::Command::kList:
            return List(options);
    }
    return kExitUsage;
}
