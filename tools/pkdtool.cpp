// pkdtool: builds distribution kits from a directory, lists, verifies and
// extracts them, and makes signing keys.

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/fs/FileSystem.h"
#include "kit/InstallData.h"
#include "kit/KitWriter.h"
#include "text/Encoding.h"
#include "tools/KitExtractor.h"
#include "tools/KitVerify.h"
#include "tools/PkdOptions.h"
#include "tools/TerminalText.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

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
    writer.SetIntegrityRecord(options.integrity);
    if (!options.signingKey.empty()) {
        kit::SecretKey secret;
        if (!pkdtool::ReadSecretKeyFile(options.signingKey, &secret, &error)) {
            return Fail(error);
        }
        writer.AddSigningKey(secret);
    }
    // An earlier kit at the output path inside DIR is not a template.
    writer.ExcludeFile(options.output);
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

// Loads the kit named on the command line for list and extract: any intact
// kit, signed or not, with or without a record.
bool LoadForTool(const std::string& path, pkdtool::ToolKit* kit, pkdtool::Verdict* verdict) {
    *verdict = pkdtool::VerifyKit(path, {}, kit);
    if (!kit->IsLoaded()) {
        // Without keys every verdict of a kit that did not load is damaged
        // or a failure to read it.
        Fail(path + ": " + (verdict->line.empty() ? verdict->failure : verdict->line));
        return false;
    }
    return true;
}

int List(const pkdtool::Options& options) {
    pkdtool::ToolKit kit;
    pkdtool::Verdict verdict;
    if (!LoadForTool(options.source, &kit, &verdict)) {
        return kExitFailure;
    }
    std::printf("products: %zu\n", kit.m_products.size());
    for (const config::ProductInfo& product : kit.m_products) {
        std::printf("  %s: name \"%s\", provider \"%s\", description \"%s\"\n",
                    pkdtool::EscapeForTerminal(product.m_language).c_str(),
                    pkdtool::EscapeForTerminal(product.m_productName).c_str(),
                    pkdtool::EscapeForTerminal(product.m_providerName).c_str(),
                    pkdtool::EscapeForTerminal(product.m_descriptionPath).c_str());
    }
    std::printf("integrity: %s\n", verdict.line.c_str());
    std::printf("files: %zu\n", kit.m_files.size());
    for (const auto& file : kit.m_files) {
        std::printf("%12" PRIu32 "  %s  %s\n", file.m_size, IsoTime(file.m_lastWriteTime).c_str(),
                    pkdtool::EscapeForTerminal(file.m_name).c_str());
    }
    if (std::fflush(stdout) != 0) {
        return Fail(std::string("standard output: ") + strerror(errno));
    }
    return 0;
}

int Verify(const pkdtool::Options& options) {
    std::vector<kit::PublicKey> keys;
    std::string error;
    for (const std::string& file : options.keyFiles) {
        kit::PublicKey key;
        if (!pkdtool::ReadPublicKeyFile(file, &key, &error)) {
            std::fprintf(stderr, "pkdtool: %s\n", error.c_str());
            return kExitUsage;
        }
        keys.push_back(key);
    }
    pkdtool::ToolKit kit;
    const pkdtool::Verdict verdict = pkdtool::VerifyKit(options.source, keys, &kit);
    if (verdict.line.empty()) {
        return Fail(options.source + ": " + verdict.failure);
    }
    std::printf("%s\n", verdict.line.c_str());
    return verdict.status;
}

int Extract(const pkdtool::Options& options) {
    pkdtool::ToolKit kit;
    pkdtool::Verdict verdict;
    if (!LoadForTool(options.source, &kit, &verdict)) {
        return kExitFailure;
    }
    std::size_t written = 0;
    std::string error;
    if (!pkdtool::ExtractKit(kit, options.output, &written, &error)) {
        return Fail(error);
    }
    std::printf("%s: %zu files written (integrity: %s)\n", options.output.c_str(), written,
                verdict.line.c_str());
    return 0;
}

// Creates `path` for writing with `mode`; never replaces anything there,
// never through a link.
int CreateNew(const std::string& path, mode_t mode) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

bool WriteLine(int fd, const std::string& line) {
    const std::string text = line + "\n";
    return ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

int Keygen(const pkdtool::Options& options) {
    kit::SecretKey secret;
    kit::PublicKey publicKey;
    if (!kit::GenerateKey(&secret, &publicKey)) {
        return Fail("no random source for a new key");
    }
    const int secretFd = CreateNew(options.output, 0600);
    if (secretFd < 0) {
        return Fail(options.output + ": " + strerror(errno) +
                    (errno == EEXIST ? " (an existing key is never overwritten)" : ""));
    }
    // The mode asked for may have been narrowed by the umask, never widened;
    // this makes it exactly owner read and write.
    bool ok = ::fchmod(secretFd, 0600) == 0 && WriteLine(secretFd, kit::SecretKeyText(secret));
    ok = ::close(secretFd) == 0 && ok;
    if (!ok) {
        ::unlink(options.output.c_str());
        return Fail(options.output + ": " + strerror(errno));
    }
    if (!options.publicKey.empty()) {
        const int publicFd = CreateNew(options.publicKey, 0644);
        bool written = publicFd >= 0 && WriteLine(publicFd, kit::PublicKeyText(publicKey));
        written = publicFd >= 0 && ::close(publicFd) == 0 && written;
        if (!written) {
            const std::string reason = strerror(errno);
            ::unlink(options.output.c_str());
            return Fail(options.publicKey + ": " + reason);
        }
    }
    std::printf("%s\n", kit::PublicKeyText(publicKey).c_str());
    return std::fflush(stdout) == 0 ? 0 : kExitFailure;
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
        case pkdtool::Command::kVerify:
            return Verify(options);
        case pkdtool::Command::kExtract:
            return Extract(options);
        case pkdtool::Command::kKeygen:
            return Keygen(options);
    }
    return kExitUsage;
}
