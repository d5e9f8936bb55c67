#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/fs/FileSystemTestSupport.h"
#include "kit/InstallData.h"
#include "kit/KitRecords.h"
#include "kit/KitSigning.h"
#include "kit/KitWriter.h"
#include "tests/support/TestKits.h"

// Helpers for kit tests: a private temporary directory to watch for
// leftover stream files, hand-made kit streams, and keys made for the test
// to sign the kits that the shared builder writes.
namespace kit_test {

using Kit = InstallData<LZCompressor, FileSystem>;

// Points "TMPDIR" at a fresh directory for one test, made in `parent`.
class ScopedTempRoot {
public:
    explicit ScopedTempRoot(const std::string& parent = "/tmp")
        : m_dir(parent), m_env("TMPDIR", m_dir.path().c_str()) {}
    const std::string& path() const { return m_dir.path(); }
    // Files whose name starts with "pdk".
    std::size_t StreamFiles() const { return fs_test::EntriesWithPrefix(path(), "pdk").size(); }

private:
    fs_test::TempDir m_dir;
    fs_test::EnvOverride m_env;
};

struct TestFile {
    stdx::u16string name;
    FileTime time;
    std::string bytes;
};

// A multi-language stream (version `version`) laid out as the writer does:
// products, files, then each file's bytes in order.
inline std::string MultiStream(const std::vector<config::ProductInfo>& products,
                               const std::vector<TestFile>& files, std::uint32_t version = 1,
                               std::uint32_t extraBytes = 0) {
    std::string stream;
    kit::AppendU32(&stream, version);
    kit::AppendU32(&stream, static_cast<std::uint32_t>(products.size()));
    for (const config::ProductInfo& product : products) {
        kit::AppendProductRecord(&stream, product, extraBytes);
    }
    kit::AppendU32(&stream, static_cast<std::uint32_t>(files.size()));
    std::uint32_t offset = 0;
    std::string data;
    for (const TestFile& file : files) {
        kit::AppendFileRecord(&stream, file.name, file.time, offset,
                              static_cast<std::uint32_t>(file.bytes.size()), extraBytes);
        offset += static_cast<std::uint32_t>(file.bytes.size());
        data += file.bytes;
    }
    return stream + data;
}

inline void WriteKit(const std::string& path, const std::string& stream, int level = 6) {
    std::string error;
    ASSERT_TRUE(kit::KitWriter::WriteRawKit(path, stream, level, &error)) << error;
}

// An Ed25519 key pair made for one test.
struct KeyPair {
    kit::SecretKey secret;
    kit::PublicKey publicKey;
};

inline KeyPair NewKey() {
    KeyPair pair;
    EXPECT_TRUE(kit::GenerateKey(&pair.secret, &pair.publicKey));
    return pair;
}

// What an English kit with an integrity record signed by each of keys
// (none: the digest alone) holds besides its files; the bare format when
// record is false.
inline test_support::KitOptions Sealed(const std::vector<KeyPair>& keys, bool record = true) {
    std::vector<kit::SecretKey> secrets;
    for (const KeyPair& key : keys) {
        secrets.push_back(key.secret);
    }
    return test_support::KitOptions(
        {test_support::Product("en", "Templates", "Vendor", "doc.html")}, record, secrets);
}

// A directory in memory where the system has one (/dev/shm), else /tmp: for
// tests that load thousands of kits.
inline std::string MemoryDirectory() {
    struct stat status;
    return ::stat("/dev/shm", &status) == 0 && S_ISDIR(status.st_mode) ? "/dev/shm" : "/tmp";
}

inline std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(state >> 16);
    }
    return bytes;
}

}  // namespace kit_test
