#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/fs/FileSystem.h"
#include "kit/KitSigning.h"
#include "kit/ProductInfo.h"
#include "text/String.h"

namespace kit {

// What a written kit holds, for callers that report or check it.
struct KitStats {
    std::uint64_t streamBytes = 0;  // the inflated kit stream
    std::uint32_t streamCrc = 0;    // CRC-32 of the inflated stream
    std::uint64_t kitBytes = 0;     // the kit file on disk, integrity record included
    std::size_t fileCount = 0;
};

// Builds a kit file: a header, the product and file tables and the file
// contents, all in one raw DEFLATE stream. Paths given to it are UTF-8.
// Errors come back as one line of text naming the path and the reason.
class KitWriter {
public:
    KitWriter();

    // 0 (store) to 9 (smallest); -1 is zlib's default. False when out of range.
    bool SetLevel(int level);
    // The single-product layout (format version 0): one product whose
    // language is implicitly "en"; its m_language is not stored.
    void SetSingleProduct(bool single);
    void AddProduct(const config::ProductInfo& product);
    // `name` uses backslash separators. The bytes come from `sourcePath`
    // when the kit is written.
    void AddFile(const stdx::u16string& name, FileTime lastWriteTime,
                 const std::string& sourcePath);
    void AddFileBytes(const stdx::u16string& name, FileTime lastWriteTime,
                      const std::string& bytes);
    // Whether Write appends an integrity record with the kit's digest (off:
    // the bare format, with nothing after the DEFLATE stream). With a
    // record, a multi-language stream starts with kit::kSealedStreamVersion
    // instead of 1.
    void SetIntegrityRecord(bool on);
    // Adds a signature by `secret` to the record, and turns the record on.
    void AddSigningKey(const SecretKey& secret);
    // Leaves `path` out of AddDirectory's walk when it names an existing
    // file: the kit being replaced when it is written into its own source
    // tree. The file is recognised by its device and inode, however the
    // path is spelt.
    void ExcludeFile(const std::string& path);
    // Adds every regular file below `directory`, sorted by relative path, with
    // that path (backslash separators) as name and its modification time.
    // Symbolic links and other special entries are not followed; their paths
    // go to `skipped` when given. False when the tree cannot be read or a
    // name cannot be stored in a kit (not UTF-8, a backslash in a name, a
    // name the installer would refuse).
    bool AddDirectory(const std::string& directory, std::vector<std::string>* skipped,
                      std::string* error);

    // Writes the kit through a temporary file beside `kitPath`, renamed into
    // place when complete. False when a source cannot be read or changed
    // size, when the stream would reach 4 GiB, or on any write failure.
    bool Write(const std::string& kitPath, KitStats* stats, std::string* error) const;

    // Deflates `stream` as it is into a kit file: the way to build damaged
    // or hand-made kits.
    static bool WriteRawKit(const std::string& kitPath, const std::string& stream, int level,
                            std::string* error);

private:
    struct Entry {
        stdx::u16string name;
        FileTime lastWriteTime;
        std::string sourcePath;
        std::string bytes;
        bool fromBytes;
    };

    int m_level;
    bool m_single;
    bool m_integrity;
    std::vector<SecretKey> m_signingKeys;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> m_excluded;  // device, inode
    std::vector<config::ProductInfo> m_products;
    std::vector<Entry> m_entries;
};

}  // namespace kit
