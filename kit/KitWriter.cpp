#include "kit/KitWriter.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "kit/IntegrityRecord.h"
#include "kit/KitDigest.h"
#include "kit/KitName.h"
#include "kit/KitRecords.h"
#include "text/Encoding.h"

namespace kit {

namespace {

constexpr std::size_t kChunkBytes = 256 * 1024;

std::string SystemError(const char* call, const std::string& path) {
    return std::string(call) + "(" + path + "): " + strerror(errno);
}

// Streams bytes through raw DEFLATE into a temporary file beside the kit,
// which Finish renames into place; anything unfinished is removed.
class KitOutput {
public:
    explicit KitOutput(std::string kitPath) : m_kitPath(std::move(kitPath)) {
        std::memset(&m_stream, 0, sizeof(m_stream));
    }
    ~KitOutput() {
        if (m_deflating) {
            deflateEnd(&m_stream);
        }
        if (m_fd >= 0) {
            ::close(m_fd);
            ::unlink(m_temporary.c_str());
        }
    }

    bool Open(int level, std::string* error) {
        m_temporary = m_kitPath + ".XXXXXX";
        m_fd = ::mkostemp(&m_temporary[0], O_CLOEXEC);
        if (m_fd < 0) {
            *error = SystemError("mkostemp", m_temporary);
            return false;
        }
        // Negative window bits: raw DEFLATE, as the reader expects.
        if (deflateInit2(&m_stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            *error = "deflateInit2: cannot start the compressor";
            return false;
        }
        m_deflating = true;
        m_output.resize(kChunkBytes);
        return true;
    }

    bool Add(const void* bytes, std::size_t count, std::string* error) {
        m_crc = crc32(m_crc, static_cast<const Bytef*>(bytes), static_cast<uInt>(count));
        m_streamBytes += count;
        m_stream.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
        m_stream.avail_in = static_cast<uInt>(count);
        return Pump(Z_NO_FLUSH, error);
    }

    // Ends the stream and, when `sealed`, appends the integrity record with
    // the digest of every byte written before it and a signature per key.
    bool Finish(bool sealed, const std::vector<SecretKey>& keys, KitStats* stats,
                std::string* error) {
        if (!Pump(Z_FINISH, error)) {
            return false;
        }
        if (sealed && !AppendRecord(keys, error)) {
            return false;
        }
        if (::fchmod(m_fd, 0644) != 0) {
            *error = SystemError("fchmod", m_temporary);
            return false;
        }
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0) {
            *error = SystemError("close", m_temporary);
            ::unlink(m_temporary.c_str());
            return false;
        }
        if (::rename(m_temporary.c_str(), m_kitPath.c_str()) != 0) {
            *error = SystemError("rename", m_kitPath);
            ::unlink(m_temporary.c_str());
            return false;
        }
        if (stats != nullptr) {
            stats->streamBytes = m_streamBytes;
            stats->streamCrc = static_cast<std::uint32_t>(m_crc);
            stats->kitBytes = m_kitBytes;
        }
        return true;
    }

private:
    bool AppendRecord(const std::vector<SecretKey>& keys, std::string* error) {
        IntegrityRecord record;
        if (!m_digest.Finish(record.digest.data())) {
            *error = "SHA-256: the digest cannot be computed";
            return false;
        }
        for (const SecretKey& key : keys) {
            RecordSignature entry;
            if (!PublicKeyOf(key, &entry.publicKey) ||
                !SignDigest(key, record.digest, &entry.signature)) {
                *error = "Ed25519: the kit cannot be signed with this key";
                return false;
            }
            record.signatures.push_back(entry);
        }
        const std::string bytes = EncodeIntegrityRecord(record);
        return WriteAll(bytes.data(), bytes.size(), error);
    }

    bool Pump(int flush, std::string* error) {
        for (;;) {
            m_stream.next_out = reinterpret_cast<Bytef*>(m_output.data());
            m_stream.avail_out = static_cast<uInt>(m_output.size());
            const int result = deflate(&m_stream, flush);
            if (result == Z_STREAM_ERROR) {
                *error = "deflate: compressor failed";
                return false;
            }
            const std::size_t produced = m_output.size() - m_stream.avail_out;
            m_digest.Update(m_output.data(), produced);
            if (!WriteAll(m_output.data(), produced, error)) {
                return false;
            }
            if (flush == Z_FINISH ? result == Z_STREAM_END
                                  : m_stream.avail_in == 0 && m_stream.avail_out != 0) {
                return true;
            }
        }
    }

    bool WriteAll(const char* bytes, std::size_t count, std::string* error) {
        while (count != 0) {
            const ssize_t put = ::write(m_fd, bytes, count);
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                *error = SystemError("write", m_temporary);
                return false;
            }
            bytes += put;
            count -= static_cast<std::size_t>(put);
            m_kitBytes += static_cast<std::uint64_t>(put);
        }
        return true;
    }

    std::string m_kitPath;
    std::string m_temporary;
    int m_fd = -1;
    z_stream m_stream;
    bool m_deflating = false;
    std::vector<char> m_output;
    KitDigest m_digest;  // of the DEFLATE stream as written
    uLong m_crc = crc32(0, Z_NULL, 0);
    std::uint64_t m_streamBytes = 0;
    std::uint64_t m_kitBytes = 0;
};

using FileIds = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

bool IsExcluded(const FileIds& excluded, const struct stat& status) {
    const std::pair<std::uint64_t, std::uint64_t> id(status.st_dev, status.st_ino);
    return std::find(excluded.begin(), excluded.end(), id) != excluded.end();
}

struct FoundFile {
    std::string relative;  // UTF-8, "/" separators
    std::string full;
    FileTime lastWriteTime;
};

bool Walk(const std::string& directory, const std::string& relative, const FileIds& excluded,
          std::vector<FoundFile>* found, std::vector<std::string>* skipped, std::string* error) {
    DIR* listing = ::opendir(directory.c_str());
    if (listing == nullptr) {
        *error = SystemError("opendir", directory);
        return false;
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    const int readError = errno;
    ::closedir(listing);
    if (readError != 0) {
        errno = readError;
        *error = SystemError("readdir", directory);
        return false;
    }
    for (const std::string& name : names) {
        const std::string full = directory + "/" + name;
        const std::string path = relative.empty() ? name : relative + "/" + name;
        struct stat status;
        if (::lstat(full.c_str(), &status) != 0) {
            *error = SystemError("lstat", full);
            return false;
        }
        if (S_ISDIR(status.st_mode)) {
            if (!Walk(full, path, excluded, found, skipped, error)) {
                return false;
            }
        } else if (S_ISREG(status.st_mode)) {
            if (IsExcluded(excluded, status)) {
                continue;
            }
            found->push_back({path, full, FileSystem::FromUnixSeconds(status.st_mtim.tv_sec)});
        } else if (skipped != nullptr) {
            skipped->push_back(full);
        }
    }
    return true;
}

// The kit name of a relative UTF-8 path, or false with the reason.
bool ToKitName(const std::string& relative, stdx::u16string* name, std::string* error) {
    if (relative.find('\\') != std::string::npos) {
        *error = relative + ": a backslash in a name cannot be stored in a kit";
        return false;
    }
    const stdx::string bytes(relative.data(), relative.size());
    const stdx::u16string wide = Utf8ToUtf16(bytes);
    if (Utf16ToUtf8(wide) != bytes) {
        *error = relative + ": the name is not valid UTF-8";
        return false;
    }
    stdx::u16string converted;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        converted.push_back(wide[i] == u'/' ? u'\\' : wide[i]);
    }
    if (!IsSafeKitName(converted)) {
        *error = relative + ": the installer would refuse this name";
        return false;
    }
    *name = converted;
    return true;
}

}  // namespace

KitWriter::KitWriter() : m_level(Z_DEFAULT_COMPRESSION), m_single(false), m_integrity(false) {}

void KitWriter::SetIntegrityRecord(bool on) {
    m_integrity = on;
}

void KitWriter::AddSigningKey(const SecretKey& secret) {
    m_signingKeys.push_back(secret);
    m_integrity = true;
}

void KitWriter::ExcludeFile(const std::string& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) == 0) {
        m_excluded.emplace_back(status.st_dev, status.st_ino);
    }
}

bool KitWriter::SetLevel(int level) {
    if (level < -1 || level > 9) {
        return false;
    }
    m_level = level;
    return true;
}

void KitWriter::SetSingleProduct(bool single) {
    m_single = single;
}

void KitWriter::AddProduct(const config::ProductInfo& product) {
    m_products.push_back(product);
}

void KitWriter::AddFile(const stdx::u16string& name, FileTime lastWriteTime,
                        const std::string& sourcePath) {
    m_entries.push_back({name, lastWriteTime, sourcePath, std::string(), false});
}

void KitWriter::AddFileBytes(const stdx::u16string& name, FileTime lastWriteTime,
                             const std::string& bytes) {
    m_entries.push_back({name, lastWriteTime, std::string(), bytes, true});
}

bool KitWriter::AddDirectory(const std::string& directory, std::vector<std::string>* skipped,
                             std::string* error) {
    std::vector<FoundFile> found;
    if (!Walk(directory, std::string(), m_excluded, &found, skipped, error)) {
        return false;
    }
    std::sort(found.begin(), found.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.relative < b.relative; });
    for (const FoundFile& file : found) {
        stdx::u16string name;
        if (!ToKitName(file.relative, &name, error)) {
            return false;
        }
        AddFile(name, file.lastWriteTime, file.full);
    }
    return true;
}

bool KitWriter::Write(const std::string& kitPath, KitStats* stats, std::string* error) const {
    // Sizes first: the tables, which come before the data, hold every offset.
    std::vector<std::uint64_t> sizes;
    for (const Entry& entry : m_entries) {
        if (entry.fromBytes) {
            sizes.push_back(entry.bytes.size());
            continue;
        }
        struct stat status;
        if (::stat(entry.sourcePath.c_str(), &status) != 0) {
            *error = SystemError("stat", entry.sourcePath);
            return false;
        }
        if (!S_ISREG(status.st_mode)) {
            *error = entry.sourcePath + ": not a regular file";
            return false;
        }
        sizes.push_back(static_cast<std::uint64_t>(status.st_size));
    }
    if (m_single && m_products.size() > 1) {
        *error =
            "the single-product layout holds one product, not " + std::to_string(m_products.size());
        return false;
    }

    std::string tables;
    if (m_single) {
        AppendU32(&tables, 0);
        const config::ProductInfo product =
            m_products.empty() ? config::ProductInfo() : m_products.front();
        AppendString(&tables, product.m_productName);
        AppendString(&tables, product.m_providerName);
        AppendString(&tables, product.m_descriptionPath);
    } else {
        AppendU32(&tables, m_integrity ? kSealedStreamVersion : 1);
        AppendU32(&tables, static_cast<std::uint32_t>(m_products.size()));
        for (const config::ProductInfo& product : m_products) {
            AppendProductRecord(&tables, product);
        }
    }
    AppendU32(&tables, static_cast<std::uint32_t>(m_entries.size()));
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        AppendFileRecord(&tables, m_entries[i].name, m_entries[i].lastWriteTime,
                         static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(sizes[i]));
        offset += sizes[i];
    }
    // Offsets are 32-bit positions in the stream.
    if (tables.size() + offset > 0xFFFFFFFFu) {
        *error = "the kit stream would reach 4 GiB; a kit must stay below that";
        return false;
    }

    KitOutput output(kitPath);
    if (!output.Open(m_level, error) || !output.Add(tables.data(), tables.size(), error)) {
        return false;
    }
    std::vector<char> chunk(kChunkBytes);
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& entry = m_entries[i];
        if (entry.fromBytes) {
            if (!output.Add(entry.bytes.data(), entry.bytes.size(), error)) {
                return false;
            }
            continue;
        }
        const int fd = ::open(entry.sourcePath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            *error = SystemError("open", entry.sourcePath);
            return false;
        }
        std::uint64_t copied = 0;
        bool ok = true;
        while (ok) {
            const ssize_t got = ::read(fd, chunk.data(), chunk.size());
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                *error = SystemError("read", entry.sourcePath);
                ok = false;
            } else if (got == 0) {
                break;
            } else {
                copied += static_cast<std::uint64_t>(got);
                ok = copied <= sizes[i] &&
                     output.Add(chunk.data(), static_cast<std::size_t>(got), error);
            }
        }
        ::close(fd);
        // More or fewer bytes than the table promised would shift every
        // later file.
        if (copied != sizes[i]) {
            *error = entry.sourcePath + ": the file changed size while the kit was written";
            return false;
        }
        if (!ok) {
            return false;
        }
    }
    if (!output.Finish(m_integrity, m_signingKeys, stats, error)) {
        return false;
    }
    if (stats != nullptr) {
        stats->fileCount = m_entries.size();
    }
    return true;
}

bool KitWriter::WriteRawKit(const std::string& kitPath, const std::string& stream, int level,
                            std::string* error) {
    KitOutput output(kitPath);
    return output.Open(level, error) && output.Add(stream.data(), stream.size(), error) &&
           output.Finish(false, {}, nullptr, error);
}

}  // namespace kit
