// Fuzzes the kit reader end to end: inflate, table parsing, range checks and
// extraction. The first input byte picks what the rest is: even, the inflated
// kit stream (deflated here first, so that mutations reach the tables); odd,
// the kit file itself (so that they reach the inflater).

#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "kit/InstallData.h"
#include "kit/KitName.h"
#include "kit/KitRecords.h"
#include "kit/KitWriter.h"
#include "text/Encoding.h"

namespace {

// A run removes its directory at exit; libFuzzer may end the process
// without running exit handlers (a crash), so the first run also sweeps
// away the directories of fuzzer processes that are gone.
std::string g_directory;

std::string BaseDirectory() {
    struct stat status;
    return ::stat("/dev/shm", &status) == 0 && S_ISDIR(status.st_mode) ? "/dev/shm" : "/tmp";
}

void SweepStaleDirectories(const std::string& base) {
    DIR* listing = ::opendir(base.c_str());
    if (listing == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.rfind("kit-fuzz-", 0) != 0) {
            continue;
        }
        const long pid = std::strtol(name.c_str() + 9, nullptr, 10);
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            const std::string stale = base + "/" + name;
            ::unlink((stale + "/kit").c_str());
            ::unlink((stale + "/out").c_str());
            ::rmdir(stale.c_str());
        }
    }
    ::closedir(listing);
}

void RemoveWorkDirectory() {
    ::unlink((g_directory + "/kit").c_str());
    ::unlink((g_directory + "/out").c_str());
    ::rmdir(g_directory.c_str());
}

const std::string& WorkDirectory() {
    if (g_directory.empty()) {
        const std::string base = BaseDirectory();
        SweepStaleDirectories(base);
        g_directory = base + "/kit-fuzz-" + std::to_string(::getpid());
        if (::mkdir(g_directory.c_str(), 0700) != 0 && errno != EEXIST) {
            std::abort();
        }
        // Stream files go here too, so that a leftover one can be seen.
        ::setenv("TMPDIR", g_directory.c_str(), 1);
        // A run that ends normally (the time limit) leaves nothing behind.
        ::atexit(RemoveWorkDirectory);
    }
    return g_directory;
}

stdx::u16string Wide(const std::string& path) {
    return Utf8ToUtf16(stdx::string(path.data(), path.size()));
}

// The pure decoders over the raw input as a record body.
void DecodeDirectly(const unsigned char* data, std::size_t size) {
    config::ProductInfo product;
    kit::DecodeProductRecord(data, size, &product);
    config::FileData<FileSystem> file;
    if (kit::DecodeFileRecord(data, size, &file)) {
        kit::IsSafeKitName(file.m_name);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    DecodeDirectly(data + 1, size - 1);
    const std::string directory = WorkDirectory();
    const std::string kitPath = directory + "/kit";
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 1) == 0) {
        std::string error;
        if (!kit::KitWriter::WriteRawKit(kitPath, body, 1, &error)) {
            std::abort();
        }
    } else {
        FILE* out = std::fopen(kitPath.c_str(), "wb");
        if (out == nullptr || std::fwrite(body.data(), 1, body.size(), out) != body.size()) {
            std::abort();
        }
        std::fclose(out);
    }

    {
        InstallData<LZCompressor, FileSystem> kit;
        if (kit.Load(Wide(kitPath)) == kErrorSuccess) {
            const std::size_t count = kit.m_files.size() < 16 ? kit.m_files.size() : 16;
            for (std::size_t i = 0; i < count; ++i) {
                const std::string target = directory + "/out";
                if (kit.ExtractFile(i, Wide(target)) != kErrorSuccess) {
                    std::abort();  // every range was checked at load time
                }
                struct stat status;
                if (::stat(target.c_str(), &status) != 0 ||
                    static_cast<std::uint64_t>(status.st_size) != kit.m_files[i].m_size ||
                    !kit::IsSafeKitName(kit.m_files[i].m_name)) {
                    std::abort();
                }
            }
        } else if (!kit.m_files.empty() || kit.IsLoaded()) {
            std::abort();
        }
    }
    // No stream file may outlive the kit, however the load ended.
    DIR* listing = ::opendir(directory.c_str());
    if (listing != nullptr) {
        while (const dirent* entry = ::readdir(listing)) {
            if (std::string(entry->d_name).rfind("pdk", 0) == 0) {
                std::abort();
            }
        }
        ::closedir(listing);
    }
    ::unlink(kitPath.c_str());
    ::unlink((directory + "/out").c_str());
    return 0;
}
